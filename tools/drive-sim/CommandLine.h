#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace CommandLine {
// Words separated by blanks or tabs; the first one upper-cased.
std::vector<std::string> split(const std::string &line, bool upperFirst = true);
// A decimal integer with an optional sign and nothing else around it. Values too large
// for any parameter saturate instead of overflowing.
std::optional<std::int64_t> parseInteger(const std::string &text);
} // namespace CommandLine
