#include "Clock.h"
#include "ExchangeTrace.h"
#include "Form1.h"
#include "MessageSink.h"
#include "SystemSerialPort.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {
const char *const Usage
    = "Usage: vcm-console [--trace FILE] [PORT]\n"
      "Tuning and monitoring console for VCM servo drives on an RS-485 line.\n"
      "\n"
      "PORT is what the port box shows at start (default 4): a COM port number\n"
      "(n opens /dev/ttyS<n-1> on Linux, COMn on Windows), a device path such as\n"
      "/dev/ttyUSB0, a port name, or a serial server on the network:\n"
      "socket://HOST:PORT (raw TCP) or rfc2217://HOST:PORT (Telnet, RFC 2217).\n"
      "\n"
      "  --trace FILE   append every exchange with the drive to FILE, one JSON\n"
      "                 object a line (time, station, routine, command, reply,\n"
      "                 ms, prompt)\n"
      "  -h, --help     show this help and exit\n"
      "  -v, --version  show the version and exit\n";

bool is(const char *arg, const char *shortName, const char *longName)
{
    return std::strcmp(arg, shortName) == 0 || std::strcmp(arg, longName) == 0;
}

int usageError()
{
    std::fputs(Usage, stderr);
    return 2;
}
} // namespace

int main(int argc, char *argv[])
{
    // Answered before QApplication exists, so that they need no display.
    const char *portArg = nullptr;
    const char *traceArg = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (is(argv[i], "-h", "--help")) {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (is(argv[i], "-v", "--version")) {
            std::printf("vcm-console %s\n", VCM_VERSION);
            return 0;
        }
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--trace") == 0 && i + 1 < argc && !traceArg)
            traceArg = argv[++i];
        else if (std::strncmp(argv[i], "--trace=", 8) == 0 && argv[i][8] != '\0' && !traceArg)
            traceArg = argv[i] + 8;
        else if ((argv[i][0] != '-' || argv[i][1] == '\0') && !portArg)
            portArg = argv[i];
        else
            return usageError();
    }

    JsonLinesTrace trace;
    if (traceArg && !trace.open(QString::fromLocal8Bit(traceArg))) {
        std::fprintf(stderr, "vcm-console: cannot write the trace %s: %s\n", traceArg,
                     qPrintable(trace.errorString()));
        return 2;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vcm-console"));
    QApplication::setApplicationVersion(QStringLiteral(VCM_VERSION));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("vcm-console")));

    const QString comPortText = portArg ? QString::fromLocal8Bit(portArg) : QStringLiteral("4");

    SteadyClock clock;
    DialogMessageSink messages;
    // The serial line runs on a thread of its own, so that the window never waits for the drive.
    Form1 form(std::make_unique<DriveLine>([] { return std::make_unique<SystemSerialPort>(); },
                                           clock),
               messages, comPortText);
    if (traceArg)
        form.line().setTrace(&trace);
    // Said once the exchange that could not be traced has ended, not inside it.
    // Told on the line's thread.
    trace.setOnStopped([&form, &messages](const QString &why) {
        QMetaObject::invokeMethod(
            &form, [&messages, why] { messages.MsgBox(why.at(0).toUpper() + why.mid(1)); },
            Qt::QueuedConnection);
    });
    messages.setParent(&form);
    form.show();
    return QApplication::exec();
}
