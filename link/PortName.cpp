#include "PortName.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>

namespace {
// Whatever follows "scheme://", newlines included: such a text is never a device path.
const QRegularExpression &schemePattern()
{
    static const QRegularExpression pattern(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://(.*)$"),
                                            QRegularExpression::DotMatchesEverythingOption);
    return pattern;
}

bool hasControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

bool isDottedDecimal(const QString &host)
{
    static const QRegularExpression quad(
        QStringLiteral("^(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])"
                       "(\\.(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])){3}$"));
    return quad.match(host).hasMatch();
}

// What the C library's inet_aton would take as an address: one to four numbers, each
// decimal, octal (leading 0) or hexadecimal (0x). "192.168.050.002" is 192.168.40.2 there.
bool looksNumeric(const QString &host)
{
    static const QRegularExpression numbers(
        QStringLiteral("^(0[xX][0-9A-Fa-f]*|[0-9]+)(\\.(0[xX][0-9A-Fa-f]*|[0-9]+)){0,3}\\.?$"));
    return numbers.match(host).hasMatch();
}

bool isHostName(const QString &host)
{
    static const QRegularExpression name(
        QStringLiteral("^[A-Za-z0-9_]([A-Za-z0-9_-]{0,61}[A-Za-z0-9_])?"
                       "(\\.[A-Za-z0-9_]([A-Za-z0-9_-]{0,61}[A-Za-z0-9_])?)*\\.?$"));
    return host.size() <= MaxHostNameLength && name.match(host).hasMatch();
}

// The host part of "[...]": an IPv6 address, with the zone a link-local one needs.
bool parseIpv6(const QString &inBrackets, QString &host, QString &problem)
{
    const qsizetype percent = inBrackets.indexOf(QLatin1Char('%'));
    const QString address = inBrackets.left(percent);
    const QString zone = percent < 0 ? QString() : inBrackets.mid(percent + 1);
    static const QRegularExpression zonePattern(QStringLiteral("^[A-Za-z0-9_.-]{1,64}$"));
    const QHostAddress parsed(address);
    if (parsed.protocol() != QAbstractSocket::IPv6Protocol
        || (percent >= 0 && !zonePattern.match(zone).hasMatch())) {
        problem = QStringLiteral("\"[%1]\" is no IPv6 address").arg(inBrackets);
        return false;
    }
    if (parsed.isLinkLocal() && zone.isEmpty()) {
        problem = QStringLiteral("the link-local address [%1] needs its interface, as in "
                                 "[%1%eth0]")
                      .arg(address);
        return false;
    }
    host = inBrackets;
    return true;
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
    const QString rest = url.captured(2);
    if (hasControlCharacter(rest)) {
        problem = QStringLiteral("a control character (a line break?) in the port text");
        return std::nullopt;
    }
    // The host (bracketed for IPv6), then the port, and no more.
    static const QRegularExpression hostPort(
        QStringLiteral("^(?:\\[([^\\]]*)\\]|([^:/@\\[\\]]*))(?::([0-9]*))?$"));
    const QRegularExpressionMatch m = hostPort.match(rest);
    if (!m.hasMatch()) {
        problem = QStringLiteral("expected HOST:PORT after %1://").arg(scheme);
        return std::nullopt;
    }
    if (m.capturedStart(1) >= 0) {
        if (!parseIpv6(m.captured(1), port.host, problem))
            return std::nullopt;
    } else {
        port.host = m.captured(2);
        if (port.host.isEmpty()) {
            problem = QStringLiteral("no host after %1://").arg(scheme);
            return std::nullopt;
        }
        if (!isDottedDecimal(port.host) && looksNumeric(port.host)) {
            problem = QStringLiteral("\"%1\" is no plain IPv4 address: write four decimal "
                                     "numbers without leading zeros, as in 192.168.50.2")
                          .arg(port.host);
            return std::nullopt;
        }
        if (!isDottedDecimal(port.host) && !isHostName(port.host)) {
            problem = QStringLiteral("\"%1\" is no host name (letters, digits, '-' and '.', at "
                                     "most %2 characters)")
                          .arg(port.host.left(MaxHostNameLength))
                          .arg(MaxHostNameLength);
            return std::nullopt;
        }
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
    if (trimmed.isEmpty() || hasControlCharacter(trimmed))
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
    if (!hasPortScheme(text)) {
        if (hasControlCharacter(text.trimmed()))
            return QStringLiteral("a control character (a line break?) in the port text");
        return portNameFromText(text) ? QString() : QStringLiteral("no such COM port number");
    }
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
