#include "PortName.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QSerialPortInfo>

namespace {
const QRegularExpression &schemePattern()
{
    static const QRegularExpression pattern(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://(.*)$"));
    return pattern;
}

// The network port a text names, or in `problem` why it names none.
std::optional<NetworkPort> parseNetworkPort(const QString &text, QString &problem)
{
    const QRegularExpressionMatch url = schemePattern().match(text.trimmed());
    if (!url.hasMatch()) {
        problem = QStringLiteral("not a network port (socket://HOST:PORT or rfc2217://HOST:PORT)");
        return std::nullopt;
    }
    NetworkPort port;
    const QString scheme = url.captured(1).toLower();
    if (scheme == QLatin1String("socket")) {
        port.protocol = NetworkPort::Raw;
    } else if (scheme == QLatin1String("rfc2217")) {
        port.protocol = NetworkPort::Rfc2217;
    } else {
        problem = QStringLiteral("unknown scheme \"%1://\" (socket:// or rfc2217://)")
                      .arg(url.captured(1));
        return std::nullopt;
    }
    // A host name, an IPv4 address or a bracketed IPv6 address; then the port, and no more.
    static const QRegularExpression hostPort(
        QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([A-Za-z0-9_.-]+))(?::([0-9]*))?$"));
    const QRegularExpressionMatch m = hostPort.match(url.captured(2));
    if (!m.hasMatch()) {
        problem = QStringLiteral("expected HOST:PORT after %1://").arg(scheme);
        return std::nullopt;
    }
    const bool bracketed = m.hasCaptured(1) && !m.captured(1).isEmpty();
    port.host = bracketed ? m.captured(1) : m.captured(2);
    if (bracketed && QHostAddress(port.host).protocol() != QAbstractSocket::IPv6Protocol) {
        problem = QStringLiteral("\"[%1]\" is no IPv6 address").arg(port.host);
        return std::nullopt;
    }
    if (m.captured(3).isEmpty()) {
        problem = QStringLiteral("no port number after the host (HOST:PORT)");
        return std::nullopt;
    }
    bool ok = false;
    const uint number = m.captured(3).toUInt(&ok);
    if (!ok || number < 1 || number > 65535) {
        problem = QStringLiteral("the port number must be 1 to 65535");
        return std::nullopt;
    }
    port.port = static_cast<quint16>(number);
    return port;
}
} // namespace

PortNaming hostPortNaming()
{
#ifdef Q_OS_WIN
    return PortNaming::Windows;
#else
    return PortNaming::Posix;
#endif
}

std::optional<QString> portNameFromText(const QString &text, PortNaming naming)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;

    // A network port is used as typed; a URL that names none must not reach the serial service
    // as a device path.
    if (hasPortScheme(trimmed)) {
        if (!networkPortFromText(trimmed))
            return std::nullopt;
        return trimmed;
    }

    static const QRegularExpression numberPattern(QStringLiteral("^[+-]?[0-9]+$"));
    if (!numberPattern.match(trimmed).hasMatch())
        return trimmed;
    bool inRange = false;
    const int number = trimmed.toInt(&inRange);
    // Port numbers are 16-bit and start at 1.
    if (!inRange || number < 1 || number > 32767)
        return std::nullopt;
    if (naming == PortNaming::Windows)
        return QStringLiteral("COM%1").arg(number);
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

bool hasPortScheme(const QString &text)
{
    return schemePattern().match(text.trimmed()).hasMatch();
}

std::optional<NetworkPort> networkPortFromText(const QString &text)
{
    QString problem;
    return parseNetworkPort(text, problem);
}

QString portTextProblem(const QString &text)
{
    if (text.trimmed().isEmpty())
        return QStringLiteral("no port given");
    if (!hasPortScheme(text))
        return portNameFromText(text) ? QString() : QStringLiteral("no such COM port number");
    QString problem;
    parseNetworkPort(text, problem);
    return problem;
}

QStringList systemPortNames()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        names << (hostPortNaming() == PortNaming::Windows ? info.portName()
                                                          : info.systemLocation());
    }
    names.sort();
    return names;
}
