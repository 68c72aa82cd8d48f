#pragma once

#include "CommandExchange.h"
#include "DriveLine.h"
#include "EntryGate.h"
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

#include <qcoro/qcorotask.h>

#include <array>
#include <atomic>
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
// The rules the handlers apply live in the subsystem folders, free of widgets, and every
// sequence of exchanges in drive/. A handler that talks to the drive is a coroutine: it hands
// its sequence to the line (DriveLine) and waits for the outcome while the window goes on
// answering; the EntryGate decides when the operator's clicks and the timers reach the handlers.
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

    // The line inline, on the caller's thread (tests and the in-process benches).
    Form1(SerialPort &port, Clock &clock, MessageSink &messages,
          const QString &comPortText = QStringLiteral("4"), QWidget *parent = nullptr);
    // On a line of the caller's making, usually one with a thread of its own.
    Form1(std::unique_ptr<DriveLine> line, MessageSink &messages,
          const QString &comPortText = QStringLiteral("4"), QWidget *parent = nullptr);
    ~Form1() override;

    // Port frame and window life.
    void Form_Load();
    QCoro::Task<> cmdCommStart_Click();
    QCoro::Task<> cmdCommStop_Click();
    void Form_Unload();
    void Form_Terminate();

    // Station scan and selection.
    QCoro::Task<> CmdScan_Click();
    QCoro::Task<> CmdSelect_Click();

    // Status monitor.
    void STA_translate(const QString &STAT);

    // Parameter edits: every key turns the box red, Enter writes it.
    QCoro::Task<> txtKG_KeyPress(std::int16_t Index, std::int16_t KeyAscii);
    QCoro::Task<> txtVG_KeyPress(std::int16_t Index, std::int16_t KeyAscii);
    QCoro::Task<> txtPOS_KeyPress(std::int16_t Index, std::int16_t KeyAscii);

    // Command source, link reset and test motion.
    QCoro::Task<> Command1_Click();
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
    QCoro::Task<> Timer1_Timer();
    QCoro::Task<> Timer2_Timer();
    QCoro::Task<> Timer3_Timer();
    QCoro::Task<> Timer4_Timer();
    QCoro::Task<> Timer5_Timer();

    // Parameter sets as files, from the Parameter Adjustment frame's context menu.
    QCoro::Task<> saveParameterSet();
    QCoro::Task<> loadParameterSet();
    void compareParameterSet();
    // Where file names come from; Qt's dialogs unless a test scripts them.
    void setFileDialogs(FileDialogs &dialogs) { m_fileDialogs = &dialogs; }

    // Gated button actions (deferred through Timer5 while a poll tick runs).
    QCoro::Task<> cmdSetup_Click();
    QCoro::Task<> cmdSet_Click();
    QCoro::Task<> CmdSave_Click();
    QCoro::Task<> cmdRead_Click();

    // A wait during which the window takes its events, on the line's clock.
    QCoro::Task<> DelayDoEvents(std::int32_t msecond);
    // The reply of the latest exchange, once its sequence has ended.
    QString RxBuffer() const { return m_line->lastReply(); }
    DriveLine &line() { return *m_line; }
    EntryGate &gate() { return m_gate; }
    // The exchange itself, for inline lines only (tests, benches).
    CommandExchange &exchange() { return m_line->exchange(); }
    // No sequence holds the line and nothing waits for it.
    bool lineIdle() const { return !m_gate.held() && m_line->idle(); }

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
    bool lineFree() const { return PollIdle && !m_scanning && !m_selecting && !m_tuning; }
    void wireLine();
    // Drops deferred actions and writes: they were meant for the drive selected before.
    void dropWaitingWork();
    // No test motion until "Set Motion" is pressed again for the drive now selected.
    void resetTestMotion();
    // What a poll tick asks of the line, decided as the tick starts.
    PollRequest pollRequest();
    // A record that a tick's capture uploaded, drawn.
    void drawRecord(const Record &record);
    void showVariable(int n, const QString &value);
    void pollFailed(const PollResult &result);
    void pollStatusRead(const PollResult &result);
    void endTick();
    void showParameterRead(const ParameterRead &read);
    QCoro::Task<> editKeyPress(BoxArray array, std::int16_t index, std::int16_t keyAscii);
    QCoro::Task<> writeBack(BoxArray array, QTimer *timer);
    QTimer *readBackTimer(BoxArray array) const;
    QLineEdit *parameterBox(BoxArray array, int index) const;
    void showCommError(const QString &title);
    void showPlotMenu(const QPoint &pos);
    void showParameterMenu(const QPoint &pos);
    // The 25 box texts in box order.
    QStringList boxTexts() const;
    // The drive's 25 values read as LOAD reads them (with the drive's state when `state` is
    // asked for), into the boxes as LOAD shows them. On a failed read the box shows "ER" and the
    // operator is told which, and `nothingDone`.
    struct HeldSet {
        std::optional<ParameterSet> set;
        std::optional<DriveState> state;
        QString stateCommand; // the read of the state that got no answer
    };
    QCoro::Task<HeldSet> readDriveParameters(const QString &nothingDone, bool state = false);
    // The gated halves of the menu's "Save ..." and "Load ...": read the drive, then save or
    // compare and ask.
    QCoro::Task<> saveDriveParameterSet();
    QCoro::Task<> loadSetIntoDrive();
    // A file picked and validated whole; a refused one is reported, nothing sent.
    std::optional<ParameterSet> chooseParameterSet(const QString &title);
    // The writes of m_setToWrite, behind the same gate as Enter in a box.
    QCoro::Task<> writeParameterSet();
    // A set waiting for its turn is dropped with the link or the drive; the operator is told.
    void dropWaitingSet(const QString &why);
    void clearCompareMark(QLineEdit *box);
    void clearCompareMarks();
    // The system's serial ports, below the port box; the one picked goes into the box.
    void showPortList();
    // The box's edit menu with the system's serial ports added.
    void showPortBoxMenu(const QPoint &globalPos);
    void releasePort();
    // The window goes once nothing holds the line.
    void closeWhenIdle();
    // Only the port frame usable, as at start and after Stop.
    void showDisconnected();
    void stopTimers();
    // Shows the outcome of a "WT" in its box: black when confirmed, else the mark in red.
    void showWriteOutcome(QLineEdit *box, std::optional<WriteEcho> echo,
                          const QString &noPromptMark, const QString &refusedMark);
    void wireHandlers();
    QCoro::Task<> startTuning();
    QCoro::Task<> runTuning();
    QCoro::Task<> keepTunedGains();
    QCoro::Task<> restoreOriginalGains();
    QString defaultBackupPath() const;

    MessageSink &m_messages;
    // MSComm1: the port, with the exchange, on the line. The window knows whether it opened it.
    std::unique_ptr<DriveLine> m_line;
    bool m_portOpen = false;
    EntryGate m_gate;
    bool m_closeWhenIdle = false;
    // The station the last successful selection addressed; the scan addresses it again.
    std::optional<std::int16_t> m_selectedStation;
    bool m_scanning = false;
    bool m_selecting = false;
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
    // The tick's capture as it started: how to draw its record.
    RecordShape m_tickShape;
    QString m_tickNames[2];
    QString m_lastChannelNames[2];
    QPointer<ScopeWindow> m_scopeWindow;
    // Guided tuning: a run holds the line; an abort or a close waits for its write-back.
    QPointer<TuneDialog> m_tuneDialog;
    bool m_tuning = false;
    std::atomic<bool> m_tuneAbort { false };
    bool m_closeAfterTune = false;
    QString m_autoBackupPath;
    // The gains as the last run found them, and which of them it could change.
    std::optional<std::array<std::int16_t, 4>> m_originalGains;
    std::array<bool, 4> m_tunedGains {};
    std::int16_t m_tunedStation = -1;
};
