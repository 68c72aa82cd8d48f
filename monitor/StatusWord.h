#pragma once

#include <array>
#include <cstdint>

// What the status word shows: for each lamp whether it is red. Indices are those of the
// window's lamp arrays; lightDO(3) has no bit and is never recoloured.
struct StatusLamps {
    std::array<bool, 5> alarmRed {}; // ShapeALM(0..4); 4 is "EMS", red while bit 11 is clear
    std::array<bool, 5> inputRed {}; // lightDI(0..4)
    std::array<bool, 3> outputRed {}; // lightDO(0..2)
    bool servoOn = false; // bit 8
    bool di1On = false; // bit 12
};

StatusLamps decodeStatusWord(std::int16_t word);

// Captures need bit 11 (no emergency stop) set and the four alarm bits clear.
constexpr bool driveReady(std::int16_t word)
{
    return (static_cast<std::uint16_t>(word) & 0x080F) == 0x0800;
}
