// Variable replies ("RV n") and the status / command-source word with its lamps.
#include "FuzzBytes.h"
#include "ReplyValue.h"
#include "StatusWord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzBytes in(data, size);
    const QString reply = in.rest();

    if (const std::optional<QString> value = variableValue(reply)) {
        FUZZ_CHECK(!value->isEmpty() && reply.startsWith(*value));
        FUZZ_CHECK(value->size() + 3 == reply.indexOf(QLatin1Char('>')));
    }

    const std::optional<std::int16_t> word = hexWord(reply);
    if (!word)
        return 0;
    // Round trip: the word printed back in hex matches the digits read.
    bool ok = false;
    FUZZ_CHECK(reply.left(4).toUInt(&ok, 16) == static_cast<std::uint16_t>(*word) && ok);
    // Ready means no lamp of the alarm row is red.
    const auto &alarms = decodeStatusWord(*word).alarmRed;
    FUZZ_CHECK(driveReady(*word)
               == std::none_of(alarms.begin(), alarms.end(), [](bool b) { return b; }));
    return 0;
}
