#pragma once

#include "CommandExchange.h"
#include "DriveProcedures.h"
#include "ParameterSet.h"

#include <QJsonObject>
#include <QString>
#include <QTextStream>

#include <array>
#include <cstdint>
#include <optional>

class QIODevice;

// What vcm-tool's exit code says.
namespace ToolExit {
inline constexpr int Done = 0; // done and confirmed
inline constexpr int Refused = 1; // the drive answered but refused, or holds another value
inline constexpr int Usage = 2; // usage or a bad file; nothing was sent
inline constexpr int NoAnswer = 3; // the port cannot be opened, or the drive did not answer
} // namespace ToolExit

// The tool's commands on an open port: the window's exchanges for the same work (same routines,
// same reply rules), the outcome printed for a script as plain lines or one JSON object, and
// the exit code returned. An exchange without prompt ends the command.
class ToolSession final {
public:
    ToolSession(SerialPort &port, Clock &clock, QTextStream &out, QTextStream &err,
                bool json = false);

    CommandExchange &link() { return m_link; }
    DriveProcedures &drive() { return m_drive; }

    int scan();
    // "ST n" twice, as the window's selection; only the second counts.
    int address(int station);
    int status();
    int vars();
    // The 25 parameters as LOAD reads them, written as a parameter set to `to` (a file opened
    // for writing, committed here if it is a QSaveFile) or to the output.
    int read(QIODevice *to = nullptr);
    // Each parameter the set names, as Enter in its box would write it; then "SV" if asked and
    // every echo confirmed the value.
    int write(const ParameterSet &set, bool save);
    int save();
    int source(bool upDown);
    // Recorder set-up and one capture as the poll tick takes it; the record as CSV.
    int capture(const CaptureRequest &request, QIODevice *to = nullptr);

private:
    // One exchange; false (and the command named on stderr) when no prompt came.
    bool ask(const QString &command, const ExchangeTiming &routine);
    // Names the drive procedure's failure on stderr and sets the exit code for it.
    int failed();
    int refuse(const QString &what);
    void printJson(const QJsonObject &object);
    // Writes the text to `to` (committing a QSaveFile) or to the output.
    int deliver(const QString &text, QIODevice *to);

    CommandExchange m_link;
    DriveProcedures m_drive;
    QTextStream &m_out;
    QTextStream &m_err;
    bool m_json;
    int m_station = -1;
    int m_exit = ToolExit::Done;
};
