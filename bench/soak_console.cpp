// Soak: the console's window against the drive simulator in bench mode, at wire speed,
// through its own event loop and timers, with the oscilloscope capturing and the test
// motion alternating between two targets. Reports exchanges, failures, messages, captures
// and resident memory every minute and at the end.
//
//     soak_console [minutes]        (default 30; fractions allowed)
//
// Exit status 0 when the set-up succeeded, no exchange failed and no message appeared
// during the run, and resident memory grew by at most 5 % after the first minute.
#include "Clock.h"
#include "Form1.h"
#include "GraphSurface.h"
#include "MessageSink.h"
#include "ResidentMemory.h"
#include "SimProcess.h"
#include "SystemSerialPort.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr double MaxGrowthPercent = 5.0;
constexpr int SetupTimeoutMs = 60000;

// Message boxes never block here; before the run each must be the one the step expects,
// during the run every one is a failure.
class CountingMessages final : public MessageSink {
public:
    void MsgBox(const QString &text) override
    {
        texts.append(text);
        std::printf("soak: message: %s\n",
                    qPrintable(QString(text).replace(QLatin1String("\r\n"), QLatin1String(" | "))));
        std::fflush(stdout);
    }
    bool Confirm(const QString &text, const QString &) override
    {
        MsgBox(text);
        return false;
    }
    QStringList texts;
};

class Soak final : public QObject {
public:
    Soak(Form1 &form, CountingMessages &messages, double minutes)
        : m_form(form), m_messages(messages), m_runMs(static_cast<qint64>(minutes * 60000))
    {
        // Connected after the window's own handler: runs once a tick has returned.
        connect(form.Timer1, &QTimer::timeout, this, &Soak::afterTick);
        connect(&m_step, &QTimer::timeout, this, &Soak::step);
        m_step.start(100);
        m_clock.start();
        m_rssProgramStart = residentKb();
    }

    int exitCode() const { return m_exitCode; }

private:
    enum class Phase { Open, Select, WaitServo, Setup, WaitSetup, Motion, Run, Done };

    bool expect(const QString &text)
    {
        if (m_messages.texts.size() == m_seenMessages + 1 && m_messages.texts.last() == text) {
            ++m_seenMessages;
            return true;
        }
        if (m_messages.texts.size() > m_seenMessages)
            fail(QStringLiteral("set-up: unexpected message \"%1\" (wanted \"%2\")")
                     .arg(m_messages.texts.last(), text));
        return false;
    }

    void fail(const QString &why)
    {
        std::printf("soak: FAILED: %s\n", qPrintable(why));
        m_exitCode = 1;
        m_phase = Phase::Done;
        QCoreApplication::exit(1);
    }

    void step()
    {
        // The window's handlers process events: a step must not run inside another one.
        if (m_inStep || m_phase == Phase::Done)
            return;
        m_inStep = true;
        advance();
        m_inStep = false;
    }

    void advance()
    {
        if (m_phase != Phase::Run && m_clock.elapsed() > SetupTimeoutMs) {
            fail(QStringLiteral("set-up did not complete within %1 s").arg(SetupTimeoutMs / 1000));
            return;
        }
        switch (m_phase) {
        case Phase::Open:
            m_form.cmdCommStart->click();
            if (expect(QStringLiteral("COM Port Open Success")))
                m_phase = Phase::Select;
            else
                fail(QStringLiteral("the port did not open"));
            return;
        case Phase::Select:
            m_form.CmdScan->click();
            m_form.Combo1->setCurrentIndex(m_form.Combo1->findText(QStringLiteral("1")));
            if (!m_form.CmdSelect->isEnabled()
                || m_form.Combo1->currentText() != QLatin1String("1")) {
                fail(QStringLiteral("the scan did not find station 1"));
                return;
            }
            m_form.CmdSelect->click();
            if (expect(QStringLiteral("VCM Driver Board communication OK")))
                m_phase = Phase::WaitServo;
            else if (m_phase != Phase::Done)
                fail(QStringLiteral("station 1 was not selected"));
            return;
        case Phase::WaitServo:
            // The bench switches the servo on a second after the selection; the poller sees it.
            if (m_form.ServoOn && m_form.cmdSetMotion->isEnabled())
                m_phase = Phase::Setup;
            return;
        case Phase::Setup:
            m_form.chkBox[0]->click();
            m_form.chkBox[1]->click();
            m_form.cmdSetup->click();
            m_phase = Phase::WaitSetup;
            return;
        case Phase::WaitSetup:
            // Set-up waits for Timer5 when a tick held the line.
            if (m_messages.texts.size() > m_seenMessages) {
                if (expect(QStringLiteral("Setup OK")))
                    m_phase = Phase::Motion;
            }
            return;
        case Phase::Motion:
            if (!m_form.cmdSetMotion->isEnabled() || !m_form.cmdStart->isEnabled())
                return;
            m_form.CheckContinuous->setChecked(true);
            m_form.Text1[0]->setText(QStringLiteral("1000"));
            m_form.Text1[1]->setText(QStringLiteral("3000"));
            m_form.cmdSetMotion->click();
            if (!expect(QStringLiteral("Set Motion OK")))
                return;
            m_form.cmdStart->click();
            startRun();
            return;
        case Phase::Run:
            checkRun();
            return;
        case Phase::Done:
            return;
        }
    }

    void startRun()
    {
        m_phase = Phase::Run;
        m_exchangesAtStart = m_form.exchange().exchangeCount();
        m_failuresAtStart = m_form.exchange().failureCount();
        m_rssStart = residentKb();
        m_run.start();
        m_lastTick.start();
        std::printf("soak: set-up done in %.1f s (%llu exchanges, %llu failed: the scan's absent "
                    "stations); running %.1f min, RSS %ld kB\n",
                    m_clock.elapsed() / 1000.0, static_cast<unsigned long long>(m_exchangesAtStart),
                    static_cast<unsigned long long>(m_failuresAtStart), m_runMs / 60000.0,
                    m_rssStart);
        std::fflush(stdout);
    }

    void afterTick()
    {
        // A tick that fired inside another one returned at once; the outer one is still running.
        if (m_phase != Phase::Run || !m_form.PollIdle)
            return;
        ++m_ticks;
        m_longestGapMs = std::max(m_longestGapMs, m_lastTick.restart());
        const DisplayList &shown = m_form.Graph1->displayList();
        if (!shown.isEmpty() && shown != m_lastDrawn) {
            ++m_captures;
            m_lastDrawn = shown;
            // PCMD at the end of the record: the target of this capture's motion.
            const QString csv = m_form.lastRecordCsv();
            const QString last = csv.section(QLatin1Char('\n'), -2, -2);
            const QString pcmd = last.section(QLatin1Char(','), 1, 1);
            if (pcmd == QLatin1String("1000"))
                ++m_atFirstTarget;
            else if (pcmd == QLatin1String("3000"))
                ++m_atSecondTarget;
        }
    }

    quint64 exchanges() const { return m_form.exchange().exchangeCount() - m_exchangesAtStart; }
    quint64 failures() const { return m_form.exchange().failureCount() - m_failuresAtStart; }
    int runMessages() const { return m_messages.texts.size() - m_seenMessages; }

    void checkRun()
    {
        const qint64 elapsed = m_run.elapsed();
        if (m_rssMinute1 < 0 && elapsed >= std::min<qint64>(60000, m_runMs))
            m_rssMinute1 = residentKb();
        if (elapsed >= (m_minutesReported + 1) * 60000LL) {
            ++m_minutesReported;
            std::printf("soak: minute %d: exchanges %llu, failed %llu, messages %d, ticks %d, "
                        "captures %d (at 1000: %d, at 3000: %d), RSS %ld kB\n",
                        m_minutesReported, static_cast<unsigned long long>(exchanges()),
                        static_cast<unsigned long long>(failures()), runMessages(), m_ticks,
                        m_captures, m_atFirstTarget, m_atSecondTarget, residentKb());
            std::fflush(stdout);
        }
        if (elapsed >= m_runMs)
            finish();
    }

    void finish()
    {
        m_phase = Phase::Done;
        const long rssEnd = residentKb();
        const double growth = m_rssMinute1 > 0 ? 100.0 * (rssEnd - m_rssMinute1) / m_rssMinute1 : 0;
        const double minutes = m_run.elapsed() / 60000.0;
        std::printf(
            "soak: ---- %.1f min against vcm-drive-sim --demo --stations 1 --new-recorder 1 "
            "(wire speed) ----\n",
            minutes);
        std::printf("soak: exchanges made      %llu (%.1f a second)\n",
                    static_cast<unsigned long long>(exchanges()), exchanges() / (minutes * 60));
        std::printf("soak: failed exchanges    %llu\n",
                    static_cast<unsigned long long>(failures()));
        std::printf("soak: messages            %d\n", runMessages());
        for (int i = m_seenMessages; i < m_messages.texts.size(); ++i)
            std::printf("soak:   \"%s\"\n",
                        qPrintable(QString(m_messages.texts[i])
                                       .replace(QLatin1String("\r\n"), QLatin1String(" | "))));
        std::printf("soak: poll ticks          %d (longest gap between two %lld ms)\n", m_ticks,
                    m_longestGapMs);
        std::printf("soak: captures drawn      %d (ending at 1000: %d, at 3000: %d)\n", m_captures,
                    m_atFirstTarget, m_atSecondTarget);
        std::printf("soak: RSS at program start %ld kB\n", m_rssProgramStart);
        std::printf("soak: RSS at start        %ld kB\n", m_rssStart);
        std::printf("soak: RSS after 1 minute  %ld kB\n", m_rssMinute1);
        std::printf("soak: RSS at end          %ld kB\n", rssEnd);
        std::printf("soak: growth after 1 min  %.2f %%\n", growth);

        QStringList problems;
        if (failures() > 0)
            problems << QStringLiteral("%1 failed exchanges").arg(failures());
        if (runMessages() > 0)
            problems << QStringLiteral("%1 messages").arg(runMessages());
        if (growth > MaxGrowthPercent)
            problems << QStringLiteral("memory grew %1 %").arg(growth, 0, 'f', 2);
        if (m_captures == 0)
            problems << QStringLiteral("no capture drawn");
        else if (m_atFirstTarget == 0 || m_atSecondTarget == 0)
            problems << QStringLiteral("the test motion did not alternate");
        if (problems.isEmpty()) {
            std::printf("soak: PASS\n");
        } else {
            std::printf("soak: FAIL: %s\n", qPrintable(problems.join(QLatin1String(", "))));
            m_exitCode = 1;
        }
        std::fflush(stdout);
        QCoreApplication::exit(m_exitCode);
    }

    Form1 &m_form;
    CountingMessages &m_messages;
    const qint64 m_runMs;
    QTimer m_step;
    QElapsedTimer m_clock;
    QElapsedTimer m_run;
    QElapsedTimer m_lastTick;
    Phase m_phase = Phase::Open;
    bool m_inStep = false;
    int m_seenMessages = 0;
    int m_exitCode = 0;
    quint64 m_exchangesAtStart = 0;
    quint64 m_failuresAtStart = 0;
    long m_rssProgramStart = -1;
    long m_rssStart = -1;
    long m_rssMinute1 = -1;
    int m_minutesReported = 0;
    int m_ticks = 0;
    int m_captures = 0;
    int m_atFirstTarget = 0;
    int m_atSecondTarget = 0;
    qint64 m_longestGapMs = 0;
    DisplayList m_lastDrawn;
};

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double minutes = argc > 1 ? QString::fromLocal8Bit(argv[1]).toDouble() : 30.0;
    if (minutes <= 0) {
        std::fprintf(stderr, "usage: soak_console [minutes]\n");
        return 2;
    }

    // The console starts with "VCRR new" ticked: give the drive that recorder.
    SimProcess sim({ QStringLiteral("--demo"), QStringLiteral("--stations"), QStringLiteral("1"),
                     QStringLiteral("--new-recorder"), QStringLiteral("1") });
    if (sim.path().isEmpty()) {
        std::fprintf(stderr, "soak: the drive simulator did not start\n");
        return 1;
    }
    std::printf("soak: drive simulator on %s\n", qPrintable(sim.path()));

    SystemSerialPort port;
    SteadyClock clock;
    CountingMessages messages;
    Form1 form(port, clock, messages, sim.path());
    form.show();
    Soak soak(form, messages, minutes);
    const int code = QApplication::exec();
    return code != 0 ? code : soak.exitCode();
}
