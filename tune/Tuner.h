#pragma once

#include "DriveProcedures.h"
#include "TuneSearch.h"
#include "TuneTrial.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

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

// Where a run leaves the actuator and the motion target its test motions write (UP0).
struct TunePlace {
    bool known = false; // the start was read: the rest is meaningful
    std::int32_t home = 0; // PCMD as found: where every run ends
    bool moved = false; // the run commanded a motion
    std::optional<std::int32_t> command; // PCMD at the end, as read
    std::optional<std::int32_t> feedback; // PFBK at the end, as read
    bool returned = false; // PCMD reads back as home
    std::int16_t targetFound = 0; // UP0 as found
    std::optional<std::int16_t> target; // UP0 at the end, as read back
    bool targetPutBack = false; // UP0 reads back as found
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
    Gains after {}; // the gains in force at the end, as far as known
    Gains tuned {}; // the best gains found
    std::optional<Trial> first; // the figures before ...
    std::optional<Trial> best; // ... and after
    bool applied = false; // the tuned gains are in force: the final read-back agrees
    bool restored = false; // the original gains are in force: the final read-back agrees
    bool saved = false;
    QStringList maybeWrong; // gains that may hold neither value after a failed write-back
    QStringList caveats; // what the figures or the drive could not show, for the result's reader
    QList<Trial> trials;
    std::optional<ParameterSet> finalSet; // all 25 as read back at the end
    TunePlace place;
};

// Searches KPP, KVP and KVI (optionally KFV) for the shortest settling time whose overshoot
// stays within the target in both directions, from measured step responses only: the gains'
// meaning and scaling on the drive are unknown to it, and every sign of trouble is judged
// against what this drive showed at gains that were safe.
class Tuner final {
public:
    Tuner(DriveProcedures &drive, TuneOptions options);

    // Plain callbacks that only report; they may run on the line's thread.
    std::function<void(const Trial &)> onTrial;
    std::function<void(const Capture &)> onCapture; // every step response as recorded
    std::function<bool()> abortRequested; // asked between exchanges

    TuneResult run();
    // From here on nothing may stop the line: the drive is being put back as found.
    bool writingBack() const { return m_writingBack; }

    // The parts of a run, for a caller that measures gain sets of its own choosing (an
    // exhaustive search in a benchmark): the start checks and the backup, then single trials
    // over `span` (made longer where the response does not fit).
    bool start();
    std::optional<Trial> measure(const Gains &gains, Trial::Kind kind);
    void setSpan(const QString &span) { m_span = span; }
    const TuneResult &result() const { return m_result; }
    // The step the feedback's noise at rest allows at the least (after start()).
    int leastStep() const { return m_leastStep; }

private:
    enum class Stop { None, Aborted, NoAnswer, Refused, Alarm };

    bool interrupted();
    void stop(Stop why, const QString &reason);
    void noAnswer();
    // The one place where exchanges go out after an interruption was asked: the drive is put
    // back as found (gains, motion target, position), which no abort may refuse.
    void enterWriteBack();

    bool apply(const Gains &gains);
    bool writeGain(int gain, std::int16_t value);
    bool backToSafe();
    std::optional<Capture> captureOnce(CaptureRequest request);
    bool measureStep(double target, StepCheck &check);
    bool restNoise();
    bool lookAtRest(Trial &trial, int readings);
    bool restless(const Trial &trial, double ratio) const;
    bool swingsWhileHolding(const StepCheck &check) const;
    void bookSafe(const Trial &trial);
    std::optional<QString> spanFor(const Trial &t) const;

    void search();
    std::optional<Trial> choose(TuneSearch &search);
    // Whether the candidate keeps its margin; where not, `softer` is the candidate eased by as
    // much as the raise that fell short lacked, so that its own margin lies in measured ground.
    bool marginHolds(TuneSearch &search, const Trial &candidate, QString *why,
                     std::optional<Gains> *softer = nullptr);
    void finish();
    bool writeBack(const Gains &wanted);
    void returnHome();
    void readBack(const Gains &wanted);

    DriveProcedures &m_drive;
    TuneOptions m_options;
    TuneResult m_result;
    Stop m_stop = Stop::None;
    bool m_writingBack = false;

    ParameterSet m_original;
    // The gains in force as far as known: none after a write that got no readable answer.
    std::array<std::optional<std::int16_t>, TuneGain::Count> m_inForce {};
    std::optional<Gains> m_safe; // the last gains that showed no sign of trouble
    std::vector<Gains> m_safeHistory; // each of them, in turn
    double m_away = 0; // the other position
    std::optional<double> m_lastTarget; // the last motion target sent
    double m_errorLimit = 0; // VPX
    QString m_span = QStringLiteral("500");
    bool m_newRecorder = false;
    int m_leastStep = 0;

    // The yardsticks, from trials that showed no sign of trouble.
    std::vector<RestSwing> m_safeCurrent;
    std::vector<RestSwing> m_safeVelocity;
    double m_holdCurrent = 0; // the current command and velocity the drive held with before
    double m_holdVelocity = 0;
    double m_holdShift = 0; // the largest relative change of a gain since then
    double m_largestCurrent = 0; // the largest current command read while holding at safe gains
    bool m_brokeOut = false; // the latest look saw the current command break out
    std::vector<double> m_restVelocity; // the latest look's readings
    std::vector<double> m_restCurrent;
    double m_safeNoise = 0; // the feedback's noise before a step, the largest seen
    double m_feedbackResolution = 1;
};
