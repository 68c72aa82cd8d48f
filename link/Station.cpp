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
