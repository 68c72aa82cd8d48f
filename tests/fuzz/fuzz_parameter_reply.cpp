// The value cut of "RD" replies and "WT" echoes.
#include "FuzzBytes.h"
#include "ParameterReply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzBytes in(data, size);
    const QString reply = in.rest();
    const std::optional<QString> value = parameterValue(reply);
    if (!value)
        return 0;
    const int equals = reply.indexOf(QLatin1Char('='));
    const int prompt = reply.indexOf(QLatin1Char('>'));
    FUZZ_CHECK(equals >= 0 && prompt - equals >= 4);
    FUZZ_CHECK(value->size() == prompt - equals - 4);
    FUZZ_CHECK(reply.mid(equals + 1).startsWith(*value));
    return 0;
}
