#pragma once

#include "CommandExchange.h"
#include "Form1Ui.h"
#include "ParameterMap.h"
#include "ParameterSet.h"
#include "Record.h"
#include "WriteEcho.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

class Clock;
class DriveProcedures;
class FileDialogs;
class MessageSink;
class ScopeWindow;
class SerialPort;
class TuneDialog;

// The console's one window: its controls (Form1Ui), its form-level state and its event
// handlers, each named after the control and event it serves (cmdRead_Click, Timer1_Timer).
// The rules the handlers apply live in the subsystem folders, free of widgets.
class Form1 final : public QWidget, public Form1Ui {
    Q_OBJECT

public:
    // Deferred button actions run by Timer5.
    enum Action : std::int16_t {
        ActionSetup = 1,
        ActionCommandSource = 2,
        ActionSave = 3,
        ActionLoad = 4,
        // Not a button's: the writes of a parameter set loaded from a file, and the reads of the
        // drive that come before loading or saving a set.
        ActionWriteSet = 5,
        ActionLoadSet = 6,
        ActionSaveSet = 7,
        // The guided tuner's run, and the write-back of the gains it found in force.
        ActionTune = 8,
        ActionRestoreGains = 9,
    };

    Form1(SerialPort &port, Clock &clock, MessageSink &messages,
          const QString &comPortText = QStringLiteral("4"), QWidget *parent = nullptr);
    ~Form1() override;

    // Port frame and window life.
    void Form_Load();
    void cmdCommStart_Click();
    void cmdCommStop_Click();
    void Form_Unload();
    void Form_Terminate();

    // Station scan and selection.
    void CmdScan_Click();
    void CmdSelect_Click();

    // Status monitor.
    void STA_translate(const QString &STAT);

    // Parameter edits: every key turns the box red, Enter writes it.
    void txtKG_KeyPress(std::int16_t Index, std::int16_t KeyAscii);
    void txtVG_KeyPress(std::int16_t Index, std::int16_t KeyAscii);
    void txtPOS_KeyPress(std::int16_t Index, std::int16_t KeyAscii);

    // Command source, link reset and test motion.
    void Command1_Click();
    void cmdSetMotion_Click();

    // Oscilloscope.
    void chkBox_Click(std::int16_t Index);
    void cmdStart_Click();
    void cmdStop_Click();
    // The last uploaded record as CSV; empty before the first capture.
    QString lastRecordCsv() const;
    // Opens (or raises) the scope window, which is then handed every capture.
    void openScopeWindow();

    // Guided tuning, from the scope window's "Tune...": the dialog asks, the window runs the
    // tuner on its line and holds the line for it like a gated action.
    void openTuneDialog();
    TuneDialog *tuneDialog() const;
    bool tuning() const { return m_tuning; }

    // Gating of the command buttons around actions that talk to the drive.
    void LockButtons();
    void UnlockButtons();
    void ResumePolling();

    // Timers.
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    void Timer4_Timer();
    void Timer5_Timer();

    // Parameter sets as files, from the Parameter Adjustment frame's context menu.
    void saveParameterSet();
    void loadParameterSet();
    void compareParameterSet();
    // Where file names come from; Qt's dialogs unless a test scripts them.
    void setFileDialogs(FileDialogs &dialogs) { m_fileDialogs = &dialogs; }

    // Gated button actions (deferred through Timer5 while a poll tick runs).
    void cmdSetup_Click();
    void cmdSet_Click();
    void CmdSave_Click();
    void cmdRead_Click();

    // The exchange routines and waits, on MSComm1.
    bool SendCmd(const QString &command) { return m_comm.SendCmd(command); }
    bool SendCmdLong(const QString &command) { return m_comm.SendCmdLong(command); }
    bool SendCmdSlow(const QString &command) { return m_comm.SendCmdSlow(command); }
    bool SendCmdPaced(const QString &command) { return m_comm.SendCmdPaced(command); }
    void Delay(std::int32_t msecond) { m_comm.Delay(msecond); }
    void DelayDoEvents(std::int32_t msecond) { m_comm.DelayDoEvents(msecond); }
    const QString &RxBuffer() const { return m_comm.RxBuffer; }
    bool CommDone() const { return m_comm.CommDone; }
    CommandExchange &exchange() { return m_comm; }

    // Form-level state.
    bool PortOpened = false;
    bool ServoOn = false;
    bool UpDownMode = false;
    bool PollIdle = true;
    std::int16_t PendingAction = 0;
    bool SetWasEnabled = false;
    bool SetupWasEnabled = false;
    bool StartWasEnabled = false;
    bool StopWasEnabled = false;
    bool DriveNotReady = false;
    bool DI1On = false;
    QString RxValue;
    // A parameter edit waiting for its array's read-back timer. Each array has its own, so
    // that edits in two arrays during one tick do not overwrite each other.
    struct PendingEdit {
        QString PendingWrite;
        std::int16_t EditIndex = 0;
    };
    PendingEdit &pendingEdit(BoxArray array) { return m_pendingEdits[static_cast<int>(array)]; }
    std::int16_t MotionMode = 0;
    QString MotionValue1;
    QString MotionValue2;
    bool MotionToggle = false;
    std::int16_t ChannelCount = 0;
    std::int16_t FirstChannel = 10;
    std::int16_t SecondChannel = 0;
    std::int16_t RecordLength = 0;
    std::int32_t RecordWaitMs = 0;
    bool ScopeRunning = false;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The first half of every gated action: lock, and when a poll tick, a scan or a
    // selection holds the line, hand the action to Timer5. True when the action was deferred.
    bool deferWhilePolling(Action action);
    // No poll tick, scan or selection is using the line: an action may talk to the drive.
    bool lineFree() const
    {
        return PollIdle && !m_inTick && !m_scanning && !m_selecting && !m_tuning;
    }
    // Drops deferred actions and writes: they were meant for the drive selected before.
    void dropWaitingWork();
    // No test motion until "Set Motion" is pressed again for the drive now selected.
    void resetTestMotion();
    // The capture step of a poll tick; false when it failed and ends the tick.
    bool runCapture();
    // The status poll of a tick; false when an exchange failed.
    bool pollStatus();
    void endTick();
    void readParameter(BoxArray array, int index);
    void editKeyPress(BoxArray array, std::int16_t index, std::int16_t keyAscii);
    void writeBack(BoxArray array, QTimer *timer);
    QTimer *readBackTimer(BoxArray array) const;
    QLineEdit *parameterBox(BoxArray array, int index) const;
    void showCommError(const QString &title);
    void showPlotMenu(const QPoint &pos);
    void showParameterMenu(const QPoint &pos);
    // The 25 box texts in box order.
    QStringList boxTexts() const;
    // The drive's 25 values read as LOAD reads them, into the boxes as LOAD shows them. On a
    // failed read the box shows "ER" and the operator is told which, and `nothingDone`.
    std::optional<ParameterSet> readDriveParameters(DriveProcedures &drive,
                                                    const QString &nothingDone);
    // The gated halves of the menu's "Save ..." and "Load ...": read the drive, then save or
    // compare and ask.
    void saveDriveParameterSet();
    void loadSetIntoDrive();
    // A file picked and validated whole; a refused one is reported, nothing sent.
    std::optional<ParameterSet> chooseParameterSet(const QString &title);
    // The writes of m_setToWrite, behind the same gate as Enter in a box.
    void writeParameterSet();
    // A set waiting for its turn is dropped with the link or the drive; the operator is told.
    void dropWaitingSet(const QString &why);
    void clearCompareMark(QLineEdit *box);
    void clearCompareMarks();
    // The system's serial ports, below the port box; the one picked goes into the box.
    void showPortList();
    // The box's edit menu with the system's serial ports added.
    void showPortBoxMenu(const QPoint &globalPos);
    void releasePort();
    // Only the port frame usable, as at start and after Stop.
    void showDisconnected();
    void stopTimers();
    // Shows the outcome of a "WT" in its box: black when confirmed, else the mark in red.
    WriteEcho showWriteOutcome(QLineEdit *box, bool answered, const QString &noPromptMark,
                               const QString &refusedMark);
    void wireHandlers();
    void startTuning();
    void runTuning();
    void keepTunedGains();
    void restoreOriginalGains();
    QString defaultBackupPath() const;

    SerialPort &MSComm1;
    MessageSink &m_messages;
    CommandExchange m_comm;
    // The station the last successful selection addressed; the scan addresses it again.
    std::optional<std::int16_t> m_selectedStation;
    bool m_scanning = false;
    bool m_selecting = false;
    bool m_inTick = false;
    // A recorder set-up succeeded for the drive selected and the channels ticked now.
    bool m_setupValid = false;
    std::array<PendingEdit, 3> m_pendingEdits;
    // Gated actions waiting for Timer5, oldest first; PendingAction is the first of them.
    QList<Action> m_waitingActions;
    QHash<QObject *, ParameterBox> m_parameterBoxes;
    // The last record drawn, kept for saving it.
    std::optional<Record> m_lastRecord;
    RecordShape m_lastShape;
    // Parameter-set files: the changes waiting to be written, the file's name for messages,
    // and the boxes that a compare marked.
    QList<ParameterDifference> m_setToWrite;
    // A file's set waiting for the drive's values to compare with; a save waiting for them.
    std::optional<ParameterSet> m_setToLoad;
    bool m_saveSetWaiting = false;
    QString m_setFileName;
    QSet<QLineEdit *> m_comparedBoxes;
    std::unique_ptr<FileDialogs> m_qtFileDialogs;
    FileDialogs *m_fileDialogs = nullptr;
    double m_lastSpanMs = 0;
    QString m_lastChannelNames[2];
    QPointer<ScopeWindow> m_scopeWindow;
    // Guided tuning: a run holds the line; an abort or a close waits for its write-back.
    QPointer<TuneDialog> m_tuneDialog;
    bool m_tuning = false;
    bool m_tuneAbort = false;
    bool m_closeAfterTune = false;
    QString m_autoBackupPath;
    // The gains as the last run found them, and which of them it could change.
    std::optional<std::array<std::int16_t, 4>> m_originalGains;
    std::array<bool, 4> m_tunedGains {};
    std::int16_t m_tunedStation = -1;
};
