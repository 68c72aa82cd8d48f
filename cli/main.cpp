#include "Clock.h"
#include "SystemSerialPort.h"
#include "ToolCommandLine.h"

#include <QCoreApplication>

#include <csignal>

int main(int argc, char *argv[])
{
#ifdef SIGPIPE
    // A reader that goes away must not end a write to the drive halfway: the lost output is
    // reported (exit 4) once the drive's work is done.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vcm-tool"));

    SystemSerialPort port;
    SteadyClock clock;
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runTool(QCoreApplication::arguments(), port, clock, out, err,
                   qEnvironmentVariable("VCM_PORT"));
}
