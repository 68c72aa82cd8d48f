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

// The bits the lamps show, by the names a script reads them under.
struct NamedBit {
    int bit;
    const char *name;
};
inline constexpr NamedBit StatusBits[] = {
    { 0, "OverLoad" }, { 1, "PerrExceed" }, { 2, "SensorBreak" }, { 3, "PcmdOver" },
    { 4, "DRDY" },     { 5, "INPOS" },      { 6, "DO0" },         { 8, "SVON" },
    { 9, "BOND" },     { 10, "BTYPE" },     { 11, "EMS" },        { 12, "DI1" },
    { 13, "DI2" },
};

// The word read with "RV 10": bit 6 is set while the drive takes its commands as DI2 up/down
// rather than pulse/direction.
constexpr bool upDownSource(std::int16_t modeWord)
{
    return (static_cast<std::uint16_t>(modeWord) & 0x0040) != 0;
}

// Captures need bit 11 (no emergency stop) set and the four alarm bits clear.
constexpr bool driveReady(std::int16_t word)
{
    return (static_cast<std::uint16_t>(word) & 0x080F) == 0x0800;
}
