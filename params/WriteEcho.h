#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// A box text or echoed value read as the drive's 16-bit number: blanks around it allowed,
// a fraction rounded to the nearest integer with halves to the even neighbour. Nothing for
// text that is no number or lies outside -32768..32767 after rounding.
std::optional<std::int16_t> parameterNumber(const QString &text);

enum class WriteEcho {
    Confirmed, // the drive holds the number the box shows
    NoValue, // the reply carries no "=" value
    Differs, // the echo is another number, or one of the two is no number at all
};

// Judges the reply to a "WT" against the box's text at the time of the reply.
WriteEcho judgeWriteEcho(const QString &reply, const QString &boxText, QString *echoed = nullptr);
