#pragma once

#include "TuneRules.h"

#include <QString>

#include <cstdint>

// One gain set, measured in both directions (and, where a gain was raised, while holding).
struct Trial {
    enum class Kind { Start, Search, Margin };
    int number = 0;
    Kind kind = Kind::Search;
    Gains gains {}; // as in force: a clamped echo is the value the drive holds
    QString span;
    StepCheck up, down;
    // How much the current command and the velocity swing while holding (their noise over a
    // few readings), looked at before any motion; -1: not looked at.
    double holdSpread = -1;
    double velocitySwing = -1;
    // Either swung more than half the way to being judged a loop that rings while holding.
    bool restWarning = false;
    std::int16_t status = 0;
    TrialSummary summary;
};
