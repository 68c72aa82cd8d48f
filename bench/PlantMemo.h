#pragma once

#include "Tuner.h"

#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

// A gain set as the tuner measures it: its own first trial on a fresh drive, over the grid's
// span, both directions.
struct Measured {
    Shortfall shortfall = Shortfall::NoStep;
    double settlingMs = 0; // the slower direction
    double riseMs = 0;
    double overshootPercent = 0; // the larger one
    bool alarm = false; // the drive latched an alarm

    bool clean() const { return shortfall == Shortfall::None; }
    TrialSummary summary() const { return { shortfall, settlingMs, riseMs, overshootPercent }; }
};

// The span every grid set is measured over (longer where the response does not fit).
inline constexpr const char *GridSpan = "200";
// How often a set is measured where one measurement could be luck: on a plant with noise and
// friction the same gains settle at once in one try and creep in the next.
inline constexpr int Repeats = 3;

// The step a plant is measured and tuned with: the least one the tuner takes on it (the
// feedback's noise at rest must lie well within the settling band), rounded up to 100 counts,
// 200 at the least.
int plantStep(std::optional<std::uint32_t> seed);

// Measures one set on a fresh simulated drive with that step; `trial` receives the tuner's
// whole trial.
Measured measureSet(std::optional<std::uint32_t> seed, const Gains &gains, int step,
                    const QString &backupPath, int repeat = 0,
                    std::optional<Trial> *trial = nullptr);

// Several measurements of one set as one: clean only if each is (an alarm in any is an alarm;
// overshoot alone is overshoot), the median settling and rise, the largest overshoot.
Measured combined(const std::vector<Measured> &each);

// What the measuring rules make of a few fixed sets on a few plants, as a short hex text: it
// changes whenever the tuner's measuring, the step figures or the plants change, and with it
// every cached figure is measured again.
QString measuringKey();

// One plant's measured sets, kept across runs in `folder` (when not empty) under the key.
class PlantMemo final {
public:
    PlantMemo(std::uint32_t seed, const QString &folder, const QString &key);

    Measured measure(const Gains &gains, int repeat = 0);
    // The set measured `Repeats` times, combined.
    Measured robust(const Gains &gains);
    std::uint32_t seed() const { return m_seed; }
    int step() const { return m_step; }
    int measuredNow() const { return m_measuredNow; }
    int cached() const { return m_cached; }
    // Writes the sets back; false when the file could not be written.
    bool save() const;

private:
    QString path() const;
    void load();

    std::uint32_t m_seed;
    int m_step;
    QString m_folder;
    QString m_key;
    std::map<std::pair<Gains, int>, Measured> m_sets; // by gains and repeat
    int m_measuredNow = 0;
    int m_cached = 0;
    QTemporaryDir m_scratch; // the tuner's backups
};
