#pragma once

#include "DisplayList.h"
#include "Record.h"
#include "StepResponse.h"

#include <QRect>
#include <QSizeF>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// One capture as the scope window keeps it.
struct ScopeRecord {
    Record record;
    RecordShape shape;
    double spanMs = 0;
    QString names[2]; // channel 1 and channel 2 ("DIO" for the digital word)
    PlotRange range; // the same vertical range Graph1 uses for it

    ScopeRecord() = default;
    ScopeRecord(const Record &record, const RecordShape &shape, double spanMs, const QString &first,
                const QString &second);

    int half() const;
    double sampleMs() const { return spanMs / half(); }
    // The raw value of channel 0 or 1 at the sample nearest to t; none outside the record or
    // where the upload held no value.
    std::optional<double> valueAt(int channel, double tMs) const;
};

// A part of the plot in the drive's own terms: time in ms from the record's start, raw values.
struct DataRect {
    double t0 = 0;
    double t1 = 0;
    double v0 = 0;
    double v1 = 0;
};

// What is wrong with a record whose number of values is not the one the set-up expects, and
// its likely cause (the "VCRR new" setting); empty when the number is right. Figures drawn from
// such a record would be made of values from the wrong places.
QString recordLengthProblem(const ScopeRecord &record);

// The record turned upside down around `around` (each value v becomes around - v), so that a
// step the other way can be laid on another. Not for a DIO capture.
ScopeRecord mirroredRecord(const ScopeRecord &record, double around);

// The unit of the value axis: that of channel 1, and of channel 2 where it differs.
QString valueUnit(const ScopeRecord &record);

// All of a record (and the reference beside it, drawn referenceShiftMs later than recorded) as
// Graph1 shows it: the spans and the value ranges of both.
DataRect fullView(const ScopeRecord &now, const ScopeRecord *reference,
                  double referenceShiftMs = 0);

// The values the traces of `now` (and `reference`) take, with room above and below: a small
// step on a large position fills the plot. Nothing for a DIO capture or an empty record.
std::optional<std::pair<double, double>> tracesSpan(const ScopeRecord &now,
                                                    const ScopeRecord *reference);

// How a record's display list must be scaled to show `view`.
UserScale recordScale(const ScopeRecord &record, const DataRect &view);

// The zoom, in the drive's terms so that it still means the same edge after the next capture.
// An axis without a span shows everything.
struct ScopeZoom {
    std::optional<std::pair<double, double>> time;
    std::optional<std::pair<double, double>> value;

    bool isZoomed() const { return time || value; }
    // What is visible of `full`: the zoomed spans where they still overlap it.
    DataRect visible(const DataRect &full) const;
    // Shows the span of `r` (and its values, with `values`); an empty span changes nothing.
    void zoomTo(const DataRect &r, bool values, const DataRect &full);
    // Scales the visible spans by `factor` (below 1 zooms in) around the point (t, v); an axis
    // that grows to all of `full` is no longer zoomed.
    void zoomAround(double t, double v, double factor, bool values, const DataRect &full);
};

// Evenly spaced round values (1, 2 or 5 times a power of ten) within lo..hi, no closer than a
// maxCount-th of the span, and the decimals their labels need.
struct Ticks {
    std::vector<double> values;
    int decimals = 0;
};
Ticks niceTicks(double lo, double hi, int maxCount);

// Cursors and the zoom rectangle being dragged, in the drive's terms.
struct ScopeMarks {
    std::optional<double> cursorMs;
    std::optional<double> aMs;
    std::optional<double> bMs;
    std::optional<DataRect> dragged;
};

// What the scope window paints into plotRect: the grid at the labelled values and times, the
// record's display list (plotRecord without its grid) seen through recordView, under it the
// reference's through referenceView, dimmed, and over them the marks (settling band, cursors,
// the zoom being dragged). Around plotRect, the frame (axes, ticks, labels, the value axis's
// unit) in the surface's own pixels.
struct ScopePicture {
    UserScale recordView;
    UserScale referenceView;
    DisplayList grid;
    DisplayList marks;
    DisplayList frame;
};

// The reference is drawn referenceShiftMs later than it was recorded (to line its step up with
// the record's). charSize: the width of a digit and the height of a line of the surface's
// font, to space the labels.
ScopePicture scopePicture(const ScopeRecord &now, const ScopeRecord *reference,
                          double referenceShiftMs, const DataRect &view, const StepFigures *figures,
                          const ScopeMarks &marks, const QRect &plotRect, QSizeF charSize);

// "PCMD 2000  PFBK 1995" at t; a DIO word as its four bits.
QString readoutAt(const ScopeRecord &record, double tMs);
// Δt between the A and B cursors and the change of each trace.
QString cursorDelta(const ScopeRecord &record, double aMs, double bMs);

namespace ScopeColor {
inline constexpr quint32 Frame = 0x808080;
inline constexpr quint32 Label = 0xC0C0C0;
inline constexpr quint32 Cursor = 0xC0C0C0;
inline constexpr quint32 CursorA = 0xFFFF00; // cyan
inline constexpr quint32 CursorB = 0xFF00FF; // magenta
inline constexpr quint32 Band = 0x406040; // dim green: the settling band
inline constexpr quint8 ReferenceAlpha = 130;
} // namespace ScopeColor
