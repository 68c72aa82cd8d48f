#pragma once

#include "DriveProcedures.h"
#include "TuneRules.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

struct TuneOptions {
    int step = 200; // counts, from the position held at start
    double overshootPercent = 5; // the target, in both directions
    std::array<bool, TuneGain::Count> tuned { true, false, true, true }; // KPP KFV KVP KVI
    int maxTrials = 40;
    QString backupPath; // where the 25 parameters as found are written first
    int station = 0; // named in the backup file
    bool restore = false; // measure only: the original gains go back at the end
    bool save = false; // "SV" after the last gain write of a run that met the target
};

// One gain set, measured in both directions (and, where a gain was raised, while holding).
struct Trial {
    enum class Kind { Start, Search, Margin };
    int number = 0;
    Kind kind = Kind::Search;
    Gains gains {}; // as in force: a clamped echo is the value the drive holds
    QString span;
    StepCheck up, down;
    double holdSpread = -1; // the current command's spread while holding; -1: not measured
    std::int16_t status = 0;
    TrialSummary summary;
};

struct TuneResult {
    enum class Outcome {
        Tuned, // the target was met with margin; the tuned gains are in force (or restored)
        NotMet, // no gains met the target with margin
        Refused, // the drive is in no state to tune, or a write was refused
        Aborted,
        Alarm,
        NoAnswer, // the drive or the line went away
        FileError, // the backup could not be written; nothing was sent
    };
    Outcome outcome = Outcome::NotMet;
    QString reason;
    Gains before {};
    Gains after {}; // the gains in force at the end
    Gains tuned {}; // the best gains found
    std::optional<Trial> first; // the figures before ...
    std::optional<Trial> best; // ... and after
    bool applied = false; // the tuned gains were left in force
    bool restored = false; // the original gains were written back and confirmed
    bool saved = false;
    QStringList maybeWrong; // gains that may hold neither value after a failed write-back
    QList<Trial> trials;
    std::optional<ParameterSet> finalSet; // all 25 as read back at the end
};

// Searches KPP, KVP and KVI (optionally KFV) for the shortest settling time whose overshoot
// stays within the target in both directions, from measured step responses only: the gains'
// meaning and scaling on the drive are unknown to it.
class Tuner final {
public:
    Tuner(DriveProcedures &drive, TuneOptions options);

    std::function<void(const Trial &)> onTrial;
    std::function<void(const Capture &)> onCapture; // every step response as recorded
    std::function<bool()> abortRequested; // asked between exchanges of a trial
    std::function<void()> pump; // between captures, for a window to repaint

    TuneResult run();

private:
    enum class Stop { None, Aborted, NoAnswer, Refused, Alarm };

    bool start();
    std::optional<Trial> measure(const Gains &gains, Trial::Kind kind);
    bool measureStep(double target, StepCheck &check);
    bool holdSpread(Trial &trial);
    bool apply(const Gains &gains);
    void search();
    bool marginHolds(const Trial &trial);
    void finish();
    bool interrupted();
    void stop(Stop why, const QString &reason);
    QString gainNames(const Gains &gains) const;

    DriveProcedures &m_drive;
    TuneOptions m_options;
    TuneResult m_result;
    Stop m_stop = Stop::None;

    ParameterSet m_original;
    Gains m_inForce {};
    std::array<std::int16_t, TuneGain::Count> m_highest {}; // a clamped echo marks the range end
    std::array<std::int16_t, TuneGain::Count> m_lowest {};
    double m_home = 0; // PCMD at start
    double m_away = 0; // the other position
    double m_errorLimit = 0; // VPX
    QString m_span = QStringLiteral("500");
    bool m_newRecorder = false;
    bool m_recorderKnown = false;
    double m_quietSpread = -1; // the least spread seen while holding
    std::optional<Trial> m_best;
};
