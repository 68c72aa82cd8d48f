#pragma once

// The console's window on the drive simulator (or on a scripted peer) over a pseudo-terminal,
// through the real QSerialPort adapter and the real clock.
#include "Clock.h"
#include "Form1.h"
#include "GraphSurface.h"
#include "Lamp.h"
#include "PtyPeer.h"
#include "RecordingMessages.h"
#include "SimProcess.h"
#include "SystemSerialPort.h"
#include "VbStyle.h"

#include <QThread>
#include <QtTest>

#include <memory>
#include <utility>

// The real port, which can put a simulator fault on exactly one command: `control` goes to the
// simulator just before the n-th `line` goes out, and a fault is cleared again before the next
// line. With `drop`, the line is also dropped while that command's reply is awaited.
class FaultPort final : public SerialPort {
public:
    struct Trigger {
        QByteArray line;
        QString control;
        int n = 0; // 0: never
        bool drop = false;
    };
    SimProcess *sim = nullptr;
    Trigger at;

    void setPortName(const QString &name) override { m_real.setPortName(name); }
    QString portName() const override { return m_real.portName(); }
    bool open() override { return m_real.open(); }
    void close() override { m_real.close(); }
    bool isOpen() const override { return m_real.isOpen(); }
    bool isUsable() const override { return m_real.isUsable(); }
    bool write(const QByteArray &data, int timeoutMs) override
    {
        m_line += data; // paced commands arrive one character at a time
        if (m_line.endsWith('\r')) {
            if (std::exchange(m_clearFault, false))
                command(QStringLiteral("fault clear 1"));
            if (m_line.chopped(1) == at.line && --at.n == 0) {
                command(at.control);
                m_clearFault = at.control.startsWith(QLatin1String("fault"));
                m_drop = at.drop;
            }
            m_line.clear();
        }
        return m_real.write(data, timeoutMs);
    }
    QByteArray readAll() override { return m_real.readAll(); }
    void waitForInput(int ms) override
    {
        if (std::exchange(m_drop, false))
            command(QStringLiteral("line drop"));
        m_real.waitForInput(ms);
    }
    QString errorString() const override { return m_real.errorString(); }

private:
    // The simulator's control belongs to the test's thread; the line waits until it has been told.
    void command(const QString &control)
    {
        if (QThread::currentThread() == qApp->thread())
            sim->command(control);
        else
            QMetaObject::invokeMethod(
                qApp, [this, control] { sim->command(control); }, Qt::BlockingQueuedConnection);
    }

    SystemSerialPort m_real;
    QByteArray m_line;
    bool m_clearFault = false, m_drop = false;
};

struct SimBench {
    // The window opens `portName`, or the simulator's own line when that is empty. Its line runs
    // on a thread of its own, as in the program; each step of the test waits for it to settle.
    explicit SimBench(const QStringList &simArgs, const QString &portName = QString())
        : simulator(std::make_unique<SimProcess>(simArgs)),
          form(std::make_unique<DriveLine>(
                   [this] {
                       auto made = std::make_unique<FaultPort>();
                       made->sim = simulator.get();
                       port = made.get();
                       return made;
                   },
                   clock),
               messages, portName.isEmpty() ? simulator->path() : portName)
    {
        form.setFileDialogs(files);
    }
    // On a scripted peer, with the line on the window's thread.
    explicit SimBench(PtyPeer::Answer answer)
        : drive(std::make_unique<PtyPeer>(std::move(answer))),
          inlinePort(std::make_unique<FaultPort>()),
          form(*inlinePort, clock, messages, drive->path())
    {
        port = inlinePort.get();
    }

    // Until no sequence holds the line and nothing waits for it.
    void settle()
    {
        QTRY_VERIFY_WITH_TIMEOUT(form.lineIdle() && form.gate().waiting() == 0, 30000);
    }

    bool set(const QString &control) { return simulator->command(control) == QLatin1String("ok"); }
    QString shown() const { return messages.texts.join(QLatin1Char('|')); }
    // Start (when the port is closed), scan if asked, select the station; the test ticks the
    // poller itself. Select opens only after a scan; a test that skipped it calls the handler.
    bool connect(int station = 1, bool scan = false)
    {
        if (form.cmdCommStart->isEnabled()) {
            form.cmdCommStart->click();
            settle();
        }
        if (scan) {
            form.CmdScan->click();
            settle();
        }
        form.Combo1->setEditText(QString::number(station));
        form.CmdSelect_Click();
        settle();
        form.Timer1->stop();
        return form.FrameParaAdj->isEnabled();
    }
    // PCMD and PFBK over `span` ms, the oscilloscope running.
    void startScope(const char *span)
    {
        form.chkBox[0]->click();
        form.chkBox[1]->click();
        form.listInterval->setCurrentText(QString::fromLatin1(span));
        form.cmdSetup->click();
        settle();
        form.Timer1->stop();
        form.cmdStart->click();
    }
    // The plot and exchange counters now, against which state() reports.
    void mark()
    {
        m_plot = form.Graph1->displayList();
        m_failures = form.line().failureCount();
        m_exchanges = form.line().exchangeCount();
    }
    // The window in words. A box is "RG1=#" (and "RG1=123") for a number in black, "RG1=ER" for
    // the marker in red; "RG*=#" when RG1 to RG7 all hold numbers.
    QStringList state()
    {
        const bool stop = form.cmdCommStop->isEnabled(), start = form.cmdCommStart->isEnabled();
        const QColor alarm = form.ShapeALM[4]->fillColor();
        const DisplayList &plot = form.Graph1->displayList();
        const QStringList rows = form.lastRecordCsv().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        // A record cut short: the missing half reads as zeros, the second trace flat at 0.
        const bool flat = rows.size() == 1 + 128 && rows.last().section(',', 2, 2) == "0";
        QStringList words { stop == start ? ""
                                : stop    ? "open"
                                          : "closed",
                            form.FrameParaAdj->isEnabled() ? "selected" : "unselected",
                            form.DriveNotReady ? "notready" : "ready",
                            alarm == Qt::red         ? "ALM=on"
                                : alarm == Qt::green ? "ALM=off"
                                                     : "",
                            form.Shape1->fillColor() == vbColor(0x008000) ? "ticked" : "",
                            form.ScopeRunning ? "scope" : "",
                            plot.isEmpty() ? "plot=empty" : "",
                            plot.items().size() == 14 + 2 * 128 ? "plot" : "",
                            plot == m_plot ? "plot=same" : "",
                            flat ? "flat" : "" };
        words << QStringLiteral("failed=%1").arg(form.line().failureCount() - m_failures)
              << QStringLiteral("exchanges=%1").arg(form.line().exchangeCount() - m_exchanges);
        const auto box = [&words](const QString &name, const QLineEdit *edit) {
            const QColor color = edit->palette().color(QPalette::Active, QPalette::Text);
            bool number = false;
            edit->text().toInt(&number);
            if (color == vbColor(0x0000FF) && edit->text() == "ER")
                words << name + "=ER";
            if (color == vbColor(0) && number)
                words << name + "=#" << name + '=' + edit->text();
        };
        for (int i = 1; i <= 7; ++i)
            box(QStringLiteral("RG%1").arg(i), form.txtRG[i]);
        if (words.filter(QRegularExpression(QStringLiteral("^RG\\d=#$"))).size() == 7)
            words << QStringLiteral("RG*=#");
        box(QStringLiteral("KG0"), form.txtKG[0]);
        box(QStringLiteral("VG0"), form.txtVG[0]);
        box(QStringLiteral("POS0"), form.txtPOS[0]);
        return words;
    }
    // Whether state() holds all of the words.
    bool shows(const QString &expected)
    {
        const QStringList now = state();
        for (const QString &word : expected.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (!now.contains(word)) {
                qWarning() << "no" << word << "in" << now;
                return false;
            }
        }
        return true;
    }
    QString tick()
    {
        messages.texts.clear();
        form.Timer1_Timer();
        settle();
        return shown();
    }

    std::unique_ptr<SimProcess> simulator;
    std::unique_ptr<PtyPeer> drive;
    std::unique_ptr<FaultPort> inlinePort;
    FaultPort *port = nullptr; // made on the line's thread, used there
    SteadyClock clock;
    RecordingMessages messages;
    ScriptedFileDialogs files;
    Form1 form;

private:
    DisplayList m_plot;
    quint64 m_failures = 0, m_exchanges = 0;
};
