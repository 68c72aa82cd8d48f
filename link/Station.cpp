#include "Station.h"

std::optional<std::int16_t> stationFromText(const QString &text)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok || n < -32768 || n > 32767)
        return std::nullopt;
    return static_cast<std::int16_t>(n);
}

QString stationCommand(int station)
{
    return QStringLiteral("ST ") + QString::number(station);
}

std::optional<int> stationAddressedBy(const QString &command)
{
    if (!command.startsWith(QLatin1String("ST ")))
        return std::nullopt;
    bool ok = false;
    const int n = command.mid(3).toInt(&ok);
    if (!ok || n < 0 || n > 15)
        return std::nullopt;
    return n;
}
