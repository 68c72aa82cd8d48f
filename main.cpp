#include "Clock.h"
#include "Form1.h"
#include "MessageSink.h"
#include "SystemSerialPort.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vcm-console"));
    QApplication::setApplicationVersion(QStringLiteral(VCM_VERSION));

    // The one argument is what the port box shows at start.
    const QStringList args = QApplication::arguments();
    const QString comPortText = args.size() > 1 ? args.at(1) : QStringLiteral("4");

    SystemSerialPort port;
    SteadyClock clock;
    DialogMessageSink messages;
    Form1 form(port, clock, messages, comPortText);
    messages.setParent(&form);
    form.show();
    return QApplication::exec();
}
