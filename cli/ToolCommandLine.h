#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

class Clock;
class SerialPort;

// vcm-tool's usage, as --help prints it.
QString toolHelp();

// Runs one vcm-tool command line (arguments[0] is the program) on `port`: checks everything it
// can before the port is opened, so that usage errors and bad files send nothing. `defaultPort`
// is the port text used without --port (the VCM_PORT environment variable). Returns the exit
// code (ToolExit).
int runTool(const QStringList &arguments, SerialPort &port, Clock &clock, QTextStream &out,
            QTextStream &err, const QString &defaultPort);
