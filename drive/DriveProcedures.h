#pragma once

#include "CommandExchange.h"
#include "ParameterSet.h"
#include "Record.h"
#include "RecorderSetup.h"
#include "StatusWord.h"
#include "WriteEcho.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

// Why a procedure stopped or what it could not take from a reply.
struct DriveFailure {
    enum class Kind {
        None,
        NoAnswer, // no prompt came: the drive, or the line, is gone
        Unreadable, // a reply without the value the procedure needed
        Refused, // the drive answered, but not as asked
        Stopped, // the operator ended the sequence (Stop, RESET, Select, Abort, closing)
        Lost, // the port became unusable (`what` says why): no answer can come on it
    };
    Kind kind = Kind::None;
    QString command; // the exchange it concerns
    QString reply; // what came back, as received
    QString what; // what was sought: a parameter's name, "record", ...

    explicit operator bool() const { return kind != Kind::None; }
};

// Where a client steps in between exchanges. Both are optional.
struct LineHooks {
    // True once the sequence must end: nothing more is sent.
    std::function<bool()> stopRequested;
    // Where a window takes its events (clicks, keys, timers) in the middle of a sequence.
    std::function<void()> eventPoint;
};

// The two words a test motion, a capture or a command source depends on.
struct DriveState {
    std::int16_t status = 0; // "RV 8"
    std::int16_t mode = 0; // "RV 10"

    StatusLamps lamps() const { return decodeStatusWord(status); }
    bool upDown() const { return upDownSource(mode); }
    // The mode word's bit 7: the drive has the "VCRR new" recorder (256 values a record).
    bool newRecorder() const { return (static_cast<std::uint16_t>(mode) & 0x0080) != 0; }
    bool servoOn() const { return lamps().servoOn; }
    // Any of the four alarm bits, or the emergency stop.
    bool alarm() const { return !driveReady(status); }
    bool motionAllowed() const;
};

struct ParameterWrite {
    int ordinal = 0; // ParameterMap::ordinal of the box
    std::int16_t sent = 0;
    WriteEcho echo = WriteEcho::NoValue;
    QString held; // the echoed value where there was one
};

struct CaptureRequest {
    std::array<bool, 8> channels {}; // recorder boxes, as the window's chkBox
    QString span = QStringLiteral("500"); // ms, one of "100" .. "500"
    bool newRecorder = false; // "VCRR new"
    std::optional<QString> moveTarget;
};

// How many values an upload ("RO") reply holds, however many the set-up expects; nothing for a
// reply too short to have its leading characters.
std::optional<int> recordValueCount(const QString &reply);

// One of the 25 parameters as LOAD shows it: the value text the reply holds, or nothing when no
// prompt came or the reply held no value.
struct ParameterRead {
    int ordinal = 0;
    std::optional<QString> value;
};

// What the selection of a station found, and where it stopped.
struct Selection {
    enum class Stop {
        None, // selected: "ST n" answered, servo off, both words read
        NotAddressed, // the second "ST n" got no prompt
        StatusUnread, // "RV 8" got no prompt or no hexadecimal word
        ServoOn,
        SourceUnread, // "RV 10" got no prompt or no hexadecimal word
        Stopped,
    };
    Stop stop = Stop::None;
    std::int16_t status = 0;
    std::int16_t mode = 0;
    QString reply; // the reply where it stopped
};

// A poll tick: the capture when one is due, then the status poll.
struct PollRequest {
    bool capture = false;
    std::optional<QString> motionTarget; // a test motion before the record wait
    int recordWaitMs = 0;
    RecordShape shape; // how to read the record
};

// Told on the line's thread as the tick goes.
struct PollEvents {
    std::function<void(const Record &)> recorded;
    std::function<void(int n, const QString &value)> variable; // "RV n", n = 0..6
};

struct PollResult {
    enum class Failed {
        None,
        Arm, // "RN 0 1"
        Motion, // "WT 2 0 ..."
        Upload, // "RO" without prompt, or too short to hold values
        Record, // a value field too long: `reply` is the rest from it on
        Variable, // "RV n" (`variable`) without prompt or value
        Status, // "RV 8" without prompt or hexadecimal word
        Stopped,
    };
    Failed failed = Failed::None;
    int variable = -1;
    QString reply;
    QString statusText; // the status word's four characters
    std::int16_t status = 0;
};

// The recorder set-up: which of its two writes got no prompt.
enum class RecorderSetUp { Done, IntervalFailed, ChannelsFailed, Stopped };

struct Capture {
    Record record;
    RecordShape shape;
    double spanMs = 0;
    QString first; // channel names, in channel order
    QString second;
};

// The drive's procedures, each made of the window's exchanges for the same work (same routines,
// same reply rules, same order), on one link. Each returns what it proved; on failure,
// failure() says why, and an exchange without prompt ends the procedure at once.
class DriveProcedures final {
public:
    explicit DriveProcedures(CommandExchange &link);

    void setHooks(LineHooks hooks) { m_hooks = std::move(hooks); }
    const LineHooks &hooks() const { return m_hooks; }
    bool stopRequested() const { return m_hooks.stopRequested && m_hooks.stopRequested(); }
    // Where the window takes its events; false when the sequence must end.
    bool eventPoint();
    // A wait between exchanges ("Delay"); false, early, when the sequence must end.
    bool pause(int ms);
    // A wait during which the window takes its events ("DelayDoEvents").
    bool pauseTakingEvents(int ms);

    CommandExchange &link() { return m_link; }
    const DriveFailure &failure() const { return m_failure; }
    // The words the last readState() found.
    const std::optional<DriveState> &lastState() const { return m_state; }

    // One exchange; false (and a NoAnswer failure) when no prompt came. Nothing is sent once the
    // sequence must end (a Stopped failure).
    bool ask(const QString &command, const ExchangeTiming &routine);

    // The port, opened and closed on the line's own thread.
    bool openPort(const QString &name);
    void closePort();
    bool portOpen() const;
    QString portError() const;
    // "RESET": a second's pause, the port closed, 300 ms, the port opened again as it was.
    bool resetPort();

    // "ST n" twice, as the window's selection; only the second counts.
    bool address(int station);
    // Stations 0..15 that answer the second of two "ST n", each reported as probed, with the
    // window's event point after each.
    std::optional<QList<int>> scan(const std::function<void(int station, bool answered)> &each
                                   = {});
    // A hexadecimal word such as "RV 8" or "RV 10".
    std::optional<std::int16_t> readWord(const QString &command);
    std::optional<DriveState> readState();
    // "RV n", n = 0..6, as the reply's value text.
    std::optional<QString> readVariableText(int n);
    // "RV 0" .. "RV 6", as the reply texts.
    std::optional<std::array<QString, 7>> readVariables();
    // One of them ("RV n", n = 0 .. 6) as a number.
    std::optional<double> readVariable(int n);

    // The selection of a station: "ST n" twice, "RV 8" (a drive whose servo is on is refused),
    // "RV 10", then 50 ms.
    Selection select(int station);
    // The poll tick, with the window's event points between its exchanges.
    PollResult pollTick(const PollRequest &request, const PollEvents &events);
    // LOAD: all 25 reads, each reported as it ends, whatever the others did.
    void loadParameters(const std::function<void(const ParameterRead &)> &each);
    // "UD 0" / "UD 1".
    bool setSource(bool upDown);
    // "WT 9 4 <code>" and "RC <channels>".
    RecorderSetUp setUpRecorder(const IntervalSetting &interval,
                                const std::array<bool, 8> &channels);
    // One parameter write as typed and entered (`command` built from the box's text), judged by
    // its echo against `compareWith`; nothing when no prompt came.
    std::optional<WriteEcho> writeEchoed(const QString &command, const ExchangeTiming &routine,
                                         const QString &compareWith, QString *held = nullptr);

    // The 25 parameters as LOAD reads them, each as soon as it is read (`each` may be empty).
    // Nothing unless all 25 were read; unreadable values are all listed before it gives up.
    std::optional<ParameterSet>
    readParameters(const std::function<void(int ordinal, std::int16_t value)> &each = {},
                   QList<DriveFailure> *unreadable = nullptr);

    // One parameter as LOAD reads it (by ParameterMap::ordinal); nothing when no prompt came or
    // the reply held no value (failure() says which).
    std::optional<std::int16_t> readParameter(int ordinal);
    // The same read, the value as the reply's text.
    std::optional<QString> readParameterText(int ordinal);

    // One parameter as Enter in its box writes it; nothing when no prompt came (failure() then
    // names the parameter).
    std::optional<ParameterWrite> writeParameter(int ordinal, std::int16_t value);
    // Every parameter the set names, in box order, each reported as it goes out (`sending`) and
    // as its echo is judged; stops at the first write without answer. True when every one was
    // written and confirmed.
    bool writeSet(const ParameterSet &set, const std::function<void(const ParameterWrite &)> &each,
                  const std::function<void(int ordinal, std::int16_t value)> &sending = {});

    // "SV": true when the drive answered with a reply that is no refusal (one beginning with
    // "?"); failure() says which it was.
    bool save();

    // Recorder set-up and one capture as the poll tick takes it: interval, channels, arm, the
    // test motion when asked (only where the state allows one), the record wait, the upload.
    // A record of any other length than the set-up's fails as "record length".
    std::optional<Capture> capture(const CaptureRequest &request);
    // One record as a capture takes it: arm, the test motion when given, the record wait, the
    // upload. The reply is left in the link's RxBuffer.
    bool takeRecord(const std::optional<QString> &motionTarget, int recordWaitMs);

private:
    bool fail(DriveFailure::Kind kind, const QString &command, const QString &what);

    CommandExchange &m_link;
    LineHooks m_hooks;
    DriveFailure m_failure;
    std::optional<DriveState> m_state;
};
