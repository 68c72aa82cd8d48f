#pragma once

#include <QString>
#include <QStringList>

#include <optional>

enum class PortNaming { Windows, Posix };

// The naming of the running system.
PortNaming hostPortNaming();

// Turns the text of the port box into a device name for the serial service.
// A number n (1..32767, blanks around it allowed) is COM port n: "COMn" on Windows,
// /dev/ttyS<n-1> elsewhere. Any other non-blank text is a port name or device path
// as typed. Returns nothing for text that cannot name a port.
std::optional<QString> portNameFromText(const QString &text, PortNaming naming = hostPortNaming());

// The serial ports the system reports, as they may be typed into the port box: device paths
// on Linux ("/dev/ttyUSB0"), names elsewhere ("COM3"). Pseudo-terminals are not reported.
QStringList systemPortNames();
