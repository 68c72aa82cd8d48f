#include "ParameterReply.h"

std::optional<QString> parameterValue(const QString &reply)
{
    const int equals = reply.indexOf(QLatin1Char('='));
    const int prompt = reply.indexOf(QLatin1Char('>'));
    if (equals < 0 || prompt < 0 || prompt - equals < 4)
        return std::nullopt;
    return reply.mid(equals + 1, prompt - equals - 4);
}
