#include "PortName.h"

#include <QRegularExpression>
#include <QSerialPortInfo>

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
