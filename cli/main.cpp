#include "Clock.h"
#include "SystemSerialPort.h"
#include "ToolCommandLine.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vcm-tool"));

    SystemSerialPort port;
    SteadyClock clock;
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runTool(QCoreApplication::arguments(), port, clock, out, err,
                   qEnvironmentVariable("VCM_PORT"));
}
