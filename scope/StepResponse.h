#pragma once

#include "Record.h"

#include <QList>
#include <QString>

#include <optional>
#include <vector>

struct StepOptions {
    double minStep = 4; // raw units: a smaller change of the command is no step
    double bandPercent = 2; // settling band, % of the step
    double bandMin = 0; // ... but never narrower than this, raw units
    // The feedback's noise measured at rest (same units as noise below), for a record with too
    // few samples before its step to tell.
    std::optional<double> restNoise;
};

enum class StepVerdict {
    Step,
    TooShort, // too few samples to tell
    TooSmall, // the command changes less than the threshold (or only by its noise)
    SeveralSteps, // the command changes more than once
    NoPlateau, // the command is not flat before and after its change (a ramp, a slow move)
    NearEnd, // the step comes in the record's last samples: too late to see the response
};

// How a feedback followed one step of its command. Times run from the step: where the command
// leaves its first level, to a fraction of a sample. Values are raw, as the drive sends them.
struct StepFigures {
    StepVerdict verdict = StepVerdict::TooShort;
    double sampleMs = 0;
    double startMs = 0; // when the step came, from the start of the record
    double from = 0; // command level before the step
    double to = 0; // ... and after it: the target
    std::optional<double> riseMs; // feedback from 10 % to 90 % of the step; none: never got there
    double overshootPercent = 0; // beyond the target, % of the step
    std::optional<double> peakMs; // time of the largest overshoot; none without overshoot
    std::optional<double> settlingMs; // until it stays within the band; none: not in the record
    double band = 0; // half-width of the settling band
    // Command - feedback, mean of the last 10 % of the record; none while the feedback still
    // moves there (more than the band's width): it has not come to rest in this record.
    std::optional<double> steadyStateError;
    // The feedback's noise (about one standard deviation), raw units, from the samples before
    // the step (or StepOptions::restNoise).
    double noise = 0;
    // Four times the noise is wider than the band: settling and ringing cannot be told from
    // noise at this step; `suggestedStep` counts would resolve them.
    bool noisy = false;
    std::optional<int> suggestedStep;

    // Which figures are final. Settled: the feedback stays in the band over the record's last
    // 10 %, so the settling time holds. Overshoot final: its largest excursion came before
    // those last samples, or the feedback is at rest there; otherwise overshoot and peak time
    // are only lower bounds.
    bool settled = false;
    bool overshootFinal = false;
    // The rise spans enough samples for rise, overshoot and peak to be measured at all.
    bool trustworthy = false;
    double spanMs = 0; // the record's span
    // A span (ms, one of 100..500) that would show this step better: shorter when sampling is
    // too coarse, longer when the record ends too early; none when no span would help.
    std::optional<int> suggestedSpanMs;

    double size() const { return to - from; }
    bool ok() const { return verdict == StepVerdict::Step; }
};

// The middle value (the upper one of an even count); 0 for no values.
double seriesMedian(std::vector<double> v);
// A series' own noise, about one standard deviation: second differences ignore a constant
// slope, and their median the few corners of a step or a move (white noise: 1.65 sigma).
double seriesNoise(const std::vector<double> &values);

StepFigures stepFigures(const std::vector<double> &command, const std::vector<double> &feedback,
                        double sampleMs, const StepOptions &options = {});

// Channel 1 as the command, channel 2 as its feedback, over the values the upload held: the
// zeros that stand in for missing values would read as a second step.
StepFigures stepFigures(const Record &record, const RecordShape &shape, double spanMs,
                        const StepOptions &options = {});

// A command and its own feedback: PCMD with PFBK, or VCMD with VFBK.
bool isStepPair(const QString &first, const QString &second);

// Why there are no figures, for the operator.
QString verdictText(StepVerdict verdict);

// The figures as the scope window lists them; with a reference, each value reads
// "reference → now". Figures that are not final say so, and rows after them say why and
// which span to use (for the record now only).
struct FigureRow {
    QString name;
    QString value;
};
QList<FigureRow> figureRows(const StepFigures &now, const StepFigures *reference = nullptr);
