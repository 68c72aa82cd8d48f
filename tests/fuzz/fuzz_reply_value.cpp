// Variable replies ("RV n") and the status / command-source word with its lamps.
#include "FuzzBytes.h"
#include "ReplyValue.h"
#include "StatusWord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzBytes in(data, size);
    const QString reply = in.rest();

    if (const std::optional<QString> value = variableValue(reply)) {
        FUZZ_CHECK(!value->isEmpty());
        FUZZ_CHECK(reply.startsWith(*value));
        FUZZ_CHECK(value->size() + 3 == reply.indexOf(QLatin1Char('>')));
    }

    const std::optional<std::int16_t> word = hexWord(reply);
    if (!word)
        return 0;
    // Round trip: the word printed back in hex matches the digits read.
    const QString digits = reply.left(4);
    bool ok = false;
    FUZZ_CHECK(digits.toUInt(&ok, 16) == static_cast<std::uint16_t>(*word) && ok);

    const StatusLamps lamps = decodeStatusWord(*word);
    const auto bits = static_cast<std::uint16_t>(*word);
    FUZZ_CHECK(lamps.servoOn == ((bits & 0x100) != 0));
    FUZZ_CHECK(lamps.alarmRed[4] == ((bits & 0x800) == 0));
    FUZZ_CHECK(lamps.di1On == ((bits & 0x1000) != 0));
    // Ready means no lamp of the alarm row is red.
    bool anyAlarm = false;
    for (bool red : lamps.alarmRed)
        anyAlarm = anyAlarm || red;
    FUZZ_CHECK(driveReady(*word) == !anyAlarm);
    return 0;
}
