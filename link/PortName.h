#pragma once

#include <QString>
#include <QStringList>

#include <optional>

enum class PortNaming { Windows, Posix };

// The naming of the running system.
PortNaming hostPortNaming();

// Turns the text of the port box into a device name for the serial service.
// A number n (1..32767, blanks around it allowed) is COM port n: "COMn" on Windows,
// /dev/ttyS<n-1> elsewhere. "socket://HOST:PORT" and "rfc2217://HOST:PORT" name a drive line
// behind a serial server on the network (see networkPortFromText). Any other non-blank text
// is a port name or device path as typed. Returns nothing for text that cannot name a port.
std::optional<QString> portNameFromText(const QString &text, PortNaming naming = hostPortNaming());

// Longest host name (RFC 1035: 253 characters written out).
inline constexpr int MaxHostNameLength = 253;

// A drive line on the network: raw TCP carries the line's bytes as they are; RFC 2217 is
// Telnet with the COM-port option, through which the line's settings are made.
struct NetworkPort {
    enum Protocol { Raw, Rfc2217 };
    Protocol protocol = Raw;
    // A name, a dotted-decimal IPv4 address, or an IPv6 address without its brackets (with
    // "%zone" where the text gave one).
    QString host;
    quint16 port = 0;
};

// Whether the text is written as a URL ("scheme://..."): such a text names a network port or
// nothing, never a device.
bool hasPortScheme(const QString &text);

// "socket://HOST:PORT" or "rfc2217://HOST:PORT" (scheme in any case, blanks around allowed),
// PORT 1..65535, nothing else after it. HOST is a host name, an IPv4 address as four decimal
// numbers without leading zeros (the C library would read "010" as octal and "10.1" as
// 10.0.0.1), or an IPv6 address in brackets; a link-local one with its zone ("[fe80::1%eth0]").
std::optional<NetworkPort> networkPortFromText(const QString &text);

// Why the text names no port, for the operator; empty when it names one.
QString portTextProblem(const QString &text);

// The serial ports the system reports, as they may be typed into the port box: device paths
// on Linux ("/dev/ttyUSB0"), names elsewhere ("COM3"). Pseudo-terminals are not reported.
QStringList systemPortNames();
