#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// The seven variables "RV 0" .. "RV 6" read, by their captions.
inline constexpr const char *VariableNames[]
    = { "PCMD", "PFBK", "PERR", "VCMD", "VFBK", "VERR", "ICMD" };

// The value of a variable reply ("RV n"): from the first character up to three characters
// before the first ">". Nothing when the prompt is missing or comes before the fifth
// character (the value would be empty or negative in length).
std::optional<QString> variableValue(const QString &reply);

// A status or command-source word: the first four characters of the reply read as a
// hexadecimal 16-bit word ("FFFF" is -1). Nothing unless those characters are one to four
// hexadecimal digits.
std::optional<std::int16_t> hexWord(const QString &reply);
