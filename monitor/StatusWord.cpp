#include "StatusWord.h"

StatusLamps decodeStatusWord(std::int16_t word)
{
    const auto bits = static_cast<std::uint16_t>(word);
    const auto set = [bits](int bit) { return (bits & (1u << bit)) != 0; };

    StatusLamps lamps;
    for (int bit = 0; bit <= 3; ++bit)
        lamps.alarmRed[bit] = set(bit);
    lamps.alarmRed[4] = !set(11);
    for (int bit = 8; bit <= 10; ++bit)
        lamps.inputRed[bit - 8] = set(bit);
    for (int bit = 12; bit <= 13; ++bit)
        lamps.inputRed[bit - 9] = set(bit);
    for (int bit = 4; bit <= 6; ++bit)
        lamps.outputRed[bit - 4] = set(bit);
    lamps.servoOn = set(8);
    lamps.di1On = set(12);
    return lamps;
}
