#include "ReplyValue.h"

std::optional<QString> variableValue(const QString &reply)
{
    const int prompt = reply.indexOf(QLatin1Char('>'));
    if (prompt < 4)
        return std::nullopt;
    return reply.left(prompt - 3);
}

std::optional<std::int16_t> hexWord(const QString &reply)
{
    const QString digits = reply.left(4);
    if (digits.isEmpty())
        return std::nullopt;
    for (QChar c : digits) {
        if (!isxdigit(c.unicode() < 128 ? c.toLatin1() : 'x'))
            return std::nullopt;
    }
    bool ok = false;
    const uint value = digits.toUInt(&ok, 16);
    if (!ok)
        return std::nullopt;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
}
