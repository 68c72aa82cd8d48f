#include "Clock.h"
#include "Form1.h"
#include "MessageSink.h"
#include "SystemSerialPort.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {
const char *const Usage
    = "Usage: vcm-console [PORT]\n"
      "Tuning and monitoring console for VCM servo drives on an RS-485 line.\n"
      "\n"
      "PORT is what the port box shows at start (default 4): a COM port number\n"
      "(n opens /dev/ttyS<n-1> on Linux, COMn on Windows), a device path such as\n"
      "/dev/ttyUSB0, or a port name.\n"
      "\n"
      "  -h, --help     show this help and exit\n"
      "  -v, --version  show the version and exit\n";

bool is(const char *arg, const char *shortName, const char *longName)
{
    return std::strcmp(arg, shortName) == 0 || std::strcmp(arg, longName) == 0;
}
} // namespace

int main(int argc, char *argv[])
{
    // Answered before QApplication exists, so that they need no display.
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
    if (argc > 2 || (argc == 2 && argv[1][0] == '-' && argv[1][1] != '\0')) {
        std::fputs(Usage, stderr);
        return 2;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vcm-console"));
    QApplication::setApplicationVersion(QStringLiteral(VCM_VERSION));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("vcm-console")));

    const QString comPortText = argc == 2 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("4");

    SystemSerialPort port;
    SteadyClock clock;
    DialogMessageSink messages;
    Form1 form(port, clock, messages, comPortText);
    messages.setParent(&form);
    form.show();
    return QApplication::exec();
}
