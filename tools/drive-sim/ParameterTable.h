#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One drive parameter as the drive knows it: its address, the name it answers with, and
// the range a write is clamped to.
struct ParameterInfo {
    int group;
    int item;
    const char *name;
    std::int32_t minimum;
    std::int32_t maximum;
    std::int32_t initial;
    bool saved; // kept by "SV" in the non-volatile copy
    bool writable; // false for read-only items: a write echoes the value unchanged
};

// The working values of one drive's parameters.
class ParameterTable final {
public:
    ParameterTable();

    static const std::vector<ParameterInfo> &all();
    static std::optional<std::size_t> indexOf(int group, int item);

    std::int32_t value(std::size_t index) const { return m_values[index]; }
    std::int32_t value(int group, int item) const;
    // Stores the value clamped to the parameter's range and returns what is now held.
    std::int32_t write(std::size_t index, std::int64_t requested);

    std::vector<std::int32_t> values() const { return m_values; }

private:
    std::vector<std::int32_t> m_values;
};

// Parameter addresses the drive's own logic uses.
namespace Param {
constexpr int Gains = 0;
constexpr int Settings = 1;
constexpr int Up = 2;
constexpr int Down = 3;
constexpr int Thresholds = 4;
constexpr int Recorder = 9;
constexpr int RecorderInterval = 4; // item of group 9
} // namespace Param
