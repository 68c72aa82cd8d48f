#include "CommandLine.h"

#include <cctype>

namespace CommandLine {

std::vector<std::string> split(const std::string &line, bool upperFirst)
{
    std::vector<std::string> words;
    std::string word;
    for (const char c : line) {
        if (c == ' ' || c == '\t') {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        words.push_back(std::move(word));
    if (upperFirst && !words.empty()) {
        for (char &c : words.front())
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return words;
}

std::optional<std::int64_t> parseInteger(const std::string &text)
{
    constexpr std::int64_t Saturation = 1000000000000LL;
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        if (value < Saturation)
            value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

} // namespace CommandLine
