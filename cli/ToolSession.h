#pragma once

#include "CommandExchange.h"
#include "DriveProcedures.h"
#include "ParameterSet.h"
#include "ToolOutput.h"
#include "Tuner.h"

#include <QJsonObject>
#include <QString>
#include <QTextStream>

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

class QIODevice;

// What vcm-tool's exit code says.
namespace ToolExit {
inline constexpr int Done = 0; // done and confirmed
inline constexpr int Refused = 1; // the drive answered but refused, or holds another value
inline constexpr int Usage = 2; // usage or a bad file; nothing was sent
inline constexpr int NoAnswer = 3; // the port cannot be opened, or the drive did not answer
// Output that could not be written: standard output, a file, the trace. Given when the drive
// part succeeded; a refusal or a silence keeps its own code.
inline constexpr int OutputLost = 4;
} // namespace ToolExit

// The tool's commands on an open port: the window's exchanges for the same work (same routines,
// same reply rules), the outcome printed for a script as plain lines or one JSON object (see
// ToolOutput), and the exit code returned. An exchange without prompt ends the command.
class ToolSession final {
public:
    ToolSession(SerialPort &port, Clock &clock, QTextStream &out, QTextStream &err,
                bool json = false);

    CommandExchange &link() { return m_link; }
    ToolOutput &output() { return m_output; }
    DriveProcedures &drive() { return m_drive; }

    int scan();
    // "ST n" twice, as the window's selection; only the second counts.
    int address(int station);
    int status();
    int vars();
    // The 25 parameters as LOAD reads them, written as a parameter set to `to` (a file opened
    // for writing; a QSaveFile is committed here) or to the output.
    int read(QIODevice *to = nullptr);
    // Each parameter the set names, as Enter in its box would write it; then "SV" if asked and
    // every echo confirmed the value. A set that changes UP0 or DN0 of a drive in up/down mode
    // with the servo on would move the actuator: refused, nothing sent, unless `allowMotion`.
    int write(const ParameterSet &set, bool save, bool allowMotion = false);
    int save();
    // "UD 0" / "UD 1", proven by bit 6 of "RV 10" read afterwards.
    int source(bool upDown);
    // Recorder set-up and one capture as the poll tick takes it; the record as CSV.
    int capture(const CaptureRequest &request, QIODevice *to = nullptr);
    // Guided tuning: a line a trial (and a CSV row in `log`), then the result; the tuned set,
    // all 25 values, to `to` when the target was met.
    int tune(const TuneOptions &options, QIODevice *log = nullptr, QIODevice *to = nullptr);
    // Set (from a signal handler) when the operator interrupts: a tuning run then restores.
    void setInterrupt(const std::atomic_bool *flag) { m_interrupt = flag; }

private:
    // No answer came, or none can come: the port was lost.
    static bool silent(const DriveFailure &f);
    // Names the drive procedure's failure on stderr and sets the exit code for it.
    int failed();
    int refuse(const QString &what);
    // The UP0 and DN0 writes of the set that would move the actuator now, as "UP0 2000 -> 0";
    // nothing when the state or a value cannot be read (the failure is reported).
    std::optional<QStringList> motionWrites(const ParameterSet &set);
    // Writes the text to `to` (committing a QSaveFile) or to the output.
    int deliver(const QString &text, QIODevice *to);

    CommandExchange m_link;
    DriveProcedures m_drive;
    ToolOutput m_output;
    int m_station = -1;
    int m_exit = ToolExit::Done;
    const std::atomic_bool *m_interrupt = nullptr;
};
