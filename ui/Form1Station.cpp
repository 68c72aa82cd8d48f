// Finding the drives on the line and selecting one.
#include "Form1.h"

#include "Lamp.h"
#include "MessageSink.h"
#include "Station.h"
#include "StatusWord.h"
#include "VbStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QTimer>

namespace {
struct ScanOutcome {
    std::optional<QList<int>> found;
    bool lost = false; // the port failed under the scan
    QString error;
};
} // namespace

QCoro::Task<> Form1::CmdScan_Click()
{
    // One scan at a time; a tuning run is not interrupted halfway: it ends with its write-back.
    if (m_scanning || m_tuning)
        co_return;
    const EntryGate::Hold hold(m_gate);
    // While the scan addresses other stations every other exchange waits (lineFree) until the
    // selected station is addressed again.
    m_scanning = true;
    CmdScan->setEnabled(false);
    CmdSelect->setEnabled(false);
    Combo1->clear();
    const std::optional<std::int16_t> selected = m_selectedStation;
    auto lineJob = m_line->run([this, selected](DriveProcedures &drive) {
        ScanOutcome o;
        o.found = drive.scan([this](int n, bool answered) {
            m_line->toWindow([this, n, answered] {
                if (answered)
                    Combo1->addItem(QString::number(n));
                Label8->setText(QString::number(n));
            });
        });
        o.lost = drive.failure().kind == DriveFailure::Kind::Lost;
        o.error = drive.failure().what;
        // Leave the line addressed to the drive the poller watches.
        if (o.found && selected)
            drive.address(*selected);
        return o;
    });
    const ScanOutcome outcome = co_await lineJob;
    m_scanning = false;

    if (!m_portOpen)
        co_return;
    if (outcome.lost)
        m_messages.MsgBox(QStringLiteral("Communication error\r\nThe port was lost during the "
                                         "scan: ")
                          + outcome.error
                          + QStringLiteral("\r\nThe list holds only the stations found before. "
                                           "RESET connects again."));
    CmdScan->setEnabled(true);
    if (Combo1->count() > 0)
        CmdSelect->setEnabled(true);
}

QCoro::Task<> Form1::CmdSelect_Click()
{
    // A tuning run is not interrupted halfway: it ends with its write-back. A selection is not
    // begun again from within its own wait.
    if (m_scanning || m_selecting || m_tuning)
        co_return;
    const EntryGate::Hold hold(m_gate);
    Timer1->stop();
    // Nothing talks to the drive during the wait below. What waits after it, deferred before
    // the click or clicked meanwhile, was meant for the drive shown before: it is dropped.
    const QScopedValueRollback<bool> selecting(m_selecting, true);
    auto wait = DelayDoEvents(500);
    co_await wait;
    dropWaitingWork();

    const std::optional<std::int16_t> station = stationFromText(Combo1->currentText());
    // A station text that is no number is treated as a station that does not answer.
    Selection s;
    s.stop = Selection::Stop::NotAddressed;
    if (station) {
        auto lineJob
            = m_line->run([st = *station](DriveProcedures &drive) { return drive.select(st); });
        s = co_await lineJob;
    }
    if (s.stop == Selection::Stop::Stopped)
        co_return;
    if (s.stop == Selection::Stop::NotAddressed) {
        auto task = cmdCommStop_Click();
        co_await task;
        co_return;
    }
    m_selectedStation = station;
    // Another drive answers now: the test motion and the recorder set-up in force were the
    // previous drive's, also if the selection fails further on.
    resetTestMotion();
    m_setupValid = false;
    ScopeRunning = false;

    if (s.stop == Selection::Stop::StatusUnread) {
        m_messages.MsgBox(QStringLiteral("Communication error write\r\n") + s.reply);
        auto task = cmdCommStop_Click();
        co_await task;
        co_return;
    }
    if (s.stop == Selection::Stop::ServoOn) {
        m_messages.MsgBox(QStringLiteral(" You must servo off before start."));
        ServoOn = true;
        auto task = cmdCommStop_Click();
        co_await task;
        co_return;
    }

    ServoOn = false;
    if (s.stop == Selection::Stop::SourceUnread) {
        m_messages.MsgBox(QStringLiteral("Communication error\r\n") + s.reply);
        co_return;
    }
    if (upDownSource(s.mode)) {
        Option2->setChecked(true);
        UpDownMode = true;
        FrameMotion->setEnabled(true);
    } else {
        Option1->setChecked(true);
        UpDownMode = false;
        FrameMotion->setEnabled(false);
    }

    m_messages.MsgBox(QStringLiteral("VCM Driver Board communication OK"));

    FrameCmdSource->setEnabled(true);
    cmdSet->setEnabled(true);
    FrameParaAdj->setEnabled(true);
    cmdRead->setEnabled(true);
    CmdSave->setEnabled(true);
    FrameScope[0]->setEnabled(true);
    cmdStart->setEnabled(false);
    cmdStop->setEnabled(false);
    cmdSetup->setEnabled(false);

    PollIdle = true;
    ScopeRunning = false;
    m_selecting = false;

    auto load = cmdRead_Click();
    co_await load;
    ResumePolling();

    Shape1->setFillColor(vbColor(0x0000FF));

    CheckContinuous->setChecked(false);
    CheckTrig->setChecked(false);
    Text1[0]->setText(QStringLiteral("2000"));
    Text1[1]->setText(QStringLiteral("10000"));
}
