#pragma once

#include "CommandExchange.h"
#include "ParameterSet.h"
#include "Record.h"
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
    };
    Kind kind = Kind::None;
    QString command; // the exchange it concerns
    QString reply; // what came back, as received
    QString what; // what was sought: a parameter's name, "record", ...

    explicit operator bool() const { return kind != Kind::None; }
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

    CommandExchange &link() { return m_link; }
    const DriveFailure &failure() const { return m_failure; }
    // The words the last readState() found.
    const std::optional<DriveState> &lastState() const { return m_state; }

    // One exchange; false (and a NoAnswer failure) when no prompt came.
    bool ask(const QString &command, const ExchangeTiming &routine);

    // "ST n" twice, as the window's selection; only the second counts.
    bool address(int station);
    // A hexadecimal word such as "RV 8" or "RV 10".
    std::optional<std::int16_t> readWord(const QString &command);
    std::optional<DriveState> readState();
    // "RV 0" .. "RV 6", as the reply texts.
    std::optional<std::array<QString, 7>> readVariables();
    // One of them ("RV n", n = 0 .. 6) as a number.
    std::optional<double> readVariable(int n);

    // The 25 parameters as LOAD reads them, each as soon as it is read (`each` may be empty).
    // Nothing unless all 25 were read; unreadable values are all listed before it gives up.
    std::optional<ParameterSet>
    readParameters(const std::function<void(int ordinal, std::int16_t value)> &each = {},
                   QList<DriveFailure> *unreadable = nullptr);

    // One parameter as LOAD reads it (by ParameterMap::ordinal); nothing when no prompt came or
    // the reply held no value (failure() says which).
    std::optional<std::int16_t> readParameter(int ordinal);

    // One parameter as Enter in its box writes it; nothing when no prompt came (failure() then
    // names the parameter).
    std::optional<ParameterWrite> writeParameter(int ordinal, std::int16_t value);
    // Every parameter the set names, in box order, each reported as its echo is judged; stops
    // at the first write without answer. True when every one was written and confirmed.
    bool writeSet(const ParameterSet &set, const std::function<void(const ParameterWrite &)> &each);

    // "SV": true when the drive answered with a reply that is no refusal (one beginning with
    // "?"); failure() says which it was.
    bool save();

    // Recorder set-up and one capture as the poll tick takes it: interval, channels, arm, the
    // test motion when asked (only where the state allows one), the record wait, the upload.
    // A record of any other length than the set-up's fails as "record length".
    std::optional<Capture> capture(const CaptureRequest &request);

private:
    std::optional<QString> readVariableText(int n);
    bool fail(DriveFailure::Kind kind, const QString &command, const QString &what);

    CommandExchange &m_link;
    DriveFailure m_failure;
    std::optional<DriveState> m_state;
};
