#pragma once

#include "DisplayList.h"

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>

// One upload of the drive's recorder: the first half of the values is channel 1, the second
// half channel 2 or, in a DIO capture, the digital I/O word.
struct RecordShape {
    int recordLength = 512; // 256 or 512
    bool dio = false; // channel 2 is the DIO word
    int step = 1; // horizontal units between samples: 2 for the "VCRR new" recorder
};

struct Record {
    static constexpr int Capacity = 513;
    std::array<float, Capacity> raw {};
    std::array<float, Capacity> position {};
    std::array<float, Capacity> plot {};
    int count = 0; // values the reply held
};

struct RecordParse {
    bool ok = false;
    // On failure: the rest of the reply, starting with the field that was too long.
    QString rest;
    Record record;
};

// Reads a number leniently: blanks, tabs and line feeds are ignored, reading stops at the first
// character that cannot continue the number, and text that does not begin with one is 0.
double lenientNumber(QStringView text);

// The values of an upload ("RO") reply: all after its three leading characters. Nothing for a
// reply too short to have them.
std::optional<QString> uploadValues(const QString &reply);

// Parses the upload with its three leading characters already removed: comma-terminated
// fields of at most 10 characters, at most recordLength + 1 of them. Plot values are the raw
// values / 4, except the DIO words, which stay as they are.
RecordParse parseRecord(const QString &text, const RecordShape &shape);

// The vertical range of a capture, in plot units: the trace is drawn at value - min in a
// coordinate system running from 0 at the bottom to range at the top.
struct PlotRange {
    std::int64_t max = 0;
    std::int64_t min = 0;
    std::int64_t range = 0;
};

PlotRange plotRange(const Record &record, const RecordShape &shape);

// Numbers on the axes: no leading blank, whole numbers without decimals.
QString axisText(double value);
// Label5(0..4): the raw value of each grid level, bottom to top.
std::array<QString, 5> valueAxisLabels(const PlotRange &range);
// Label6(1..5): fifths of the span shown in "Interval (ms)".
std::array<QString, 5> timeAxisLabels(const QString &span);

// Everything Graph1 shows for a capture: grid, channel 1, and channel 2 or the four DIO bit
// tracks in their bands. Without the grid for a record drawn over another.
DisplayList plotRecord(const Record &record, const RecordShape &shape, const PlotRange &range,
                       bool withGrid = true);

namespace PlotColor {
inline constexpr quint32 Grid = 0x808080;
inline constexpr quint32 Channel1 = 0x000080; // dark red
inline constexpr quint32 Channel2 = 0x008080; // dark yellow
inline constexpr quint32 Inpos = 0x808000; // dark cyan
inline constexpr quint32 Dq0 = 0x008080; // dark yellow
inline constexpr quint32 Bond = 0x00FF00; // green
inline constexpr quint32 Di1 = 0xFFFFFF; // white
} // namespace PlotColor
