#include "WriteEcho.h"

#include "ParameterReply.h"

#include <cfenv>
#include <cmath>

std::optional<std::int16_t> parameterNumber(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    // Round half to even, whatever rounding mode the process runs in.
    const int savedMode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(savedMode);
    if (rounded < -32768.0 || rounded > 32767.0)
        return std::nullopt;
    return static_cast<std::int16_t>(rounded);
}

WriteEcho judgeWriteEcho(const QString &reply, const QString &boxText, QString *echoed)
{
    const std::optional<QString> value = parameterValue(reply);
    if (!value)
        return WriteEcho::NoValue;
    if (echoed)
        *echoed = *value;
    const std::optional<std::int16_t> echo = parameterNumber(*value);
    const std::optional<std::int16_t> typed = parameterNumber(boxText);
    if (!echo || !typed || *echo != *typed)
        return WriteEcho::Differs;
    return WriteEcho::Confirmed;
}
