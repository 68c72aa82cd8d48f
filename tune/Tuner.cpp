#include "Tuner.h"

#include "MotionSettings.h"
#include "ParameterMap.h"
#include "RecorderSetup.h"
#include "TuneReport.h"

#include <QDateTime>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
using namespace TuneGain;
constexpr const char *GainNames[Count] = { "KPP", "KFV", "KVP", "KVI" };
// Readings of the velocity and the current command while holding, right after gains change:
// a loop that breaks into oscillation shows there within a few hundred milliseconds, before
// any motion excites it further.
constexpr int RestReadings = 6;
constexpr int WatchReadings = 18;
// Readings in a row that must all be away from what the drive held with.
constexpr std::size_t Persisting = 3;
// Readings whose noise (second differences) is less than this share of their swing drift.
constexpr double JumpShare = 4;
// Trials kept for the end: the few best measured again, and the margin of three of them.
constexpr int RemeasuredBest = 3;
constexpr int MarginCandidates = 3;
// Two stiffer sets a candidate, the one approached half the way where nothing that far was
// measured (mostly the search measured one of the halves already).
constexpr int MarginTrials = 3 * MarginCandidates;
constexpr int MarginSteps = 3;

int gainOrdinal(int gain)
{
    return ParameterMap::ordinal({ BoxArray::KG, gain });
}

int settingOrdinal(int index)
{
    return ParameterMap::ordinal({ BoxArray::VG, index });
}

int targetOrdinal()
{
    return ParameterMap::ordinal({ BoxArray::POS, 0 }); // UP0, which a test motion writes
}

// The largest distance of a reading from what the drive holds with.
double farthest(const std::vector<double> &values, double hold)
{
    double most = 0;
    for (double v : values)
        most = std::max(most, std::abs(v - hold));
    return most;
}

std::vector<double> channel(const Capture &c, int which)
{
    const int half = c.shape.recordLength / 2;
    const int n = std::clamp(c.record.count - half, 0, half);
    const auto from = c.record.raw.begin() + (which == 0 ? 0 : half);
    return std::vector<double>(from, from + n);
}

CaptureRequest request(int first, int second, const QString &span)
{
    CaptureRequest r;
    r.channels[std::size_t(first)] = true;
    r.channels[std::size_t(second)] = true;
    r.span = span;
    return r;
}

QString gainName(int g)
{
    return QLatin1String(GainNames[g]);
}
} // namespace

Tuner::Tuner(DriveProcedures &drive, TuneOptions options)
    : m_drive(drive), m_options(std::move(options))
{
}

void Tuner::stop(Stop why, const QString &reason)
{
    if (m_stop != Stop::None)
        return;
    // An abort asked for during an exchange or a wait ends it as a failure would: it is the abort.
    if (m_drive.stopRequested()) {
        m_stop = Stop::Aborted;
        m_result.reason = QStringLiteral("aborted");
        return;
    }
    m_stop = why;
    m_result.reason = reason;
}

void Tuner::noAnswer()
{
    const DriveFailure &f = m_drive.failure();
    stop(Stop::NoAnswer,
         f.what.isEmpty()
             ? QStringLiteral("the drive did not answer \"%1\"").arg(f.command)
             : QStringLiteral("the drive did not answer \"%1\" (%2)").arg(f.command, f.what));
}

bool Tuner::interrupted()
{
    if (!m_writingBack && m_stop == Stop::None && abortRequested && abortRequested())
        stop(Stop::Aborted, QStringLiteral("aborted"));
    return m_stop != Stop::None && !m_writingBack;
}

void Tuner::enterWriteBack()
{
    m_writingBack = true;
}

TuneResult Tuner::run()
{
    if (!start()) {
        if (m_stop == Stop::NoAnswer)
            m_result.outcome = TuneResult::Outcome::NoAnswer;
        else if (m_stop == Stop::Aborted)
            m_result.outcome = TuneResult::Outcome::Aborted;
        return m_result;
    }
    search();
    finish();
    return m_result;
}

bool Tuner::start()
{
    using Outcome = TuneResult::Outcome;
    m_result.outcome = Outcome::Refused;
    const std::optional<DriveState> state = m_drive.readState();
    if (!state) {
        noAnswer();
        return false;
    }
    if (!state->motionAllowed() || state->alarm()) {
        m_result.reason
            = QStringLiteral("the drive is in no state to tune: it needs up/down mode, the servo "
                             "on, DI1 off and no alarm (status %1, source %2)")
                  .arg(quint16(state->status), 4, 16, QLatin1Char('0'))
                  .arg(state->upDown() ? QStringLiteral("updown") : QStringLiteral("pulse"));
        return false;
    }
    m_newRecorder = state->newRecorder();

    const std::optional<ParameterSet> original = m_drive.readParameters();
    if (!original) {
        if (m_drive.failure().kind != DriveFailure::Kind::Unreadable)
            noAnswer();
        else
            m_result.reason = QStringLiteral("%1 could not be read; nothing was written")
                                  .arg(m_drive.failure().what);
        return false;
    }
    m_original = *original;
    for (int g = 0; g < Count; ++g) {
        m_result.before[g] = *m_original.values[std::size_t(gainOrdinal(g))];
        m_inForce[g] = m_result.before[g];
    }
    m_result.after = m_result.before;
    m_result.tuned = m_result.before;
    m_errorLimit = *m_original.values[std::size_t(settingOrdinal(2))]; // VPX
    const double travel = *m_original.values[std::size_t(settingOrdinal(7))]; // VPK

    const std::optional<double> home = m_drive.readVariable(0);
    if (!home) {
        if (m_drive.failure().kind != DriveFailure::Kind::Unreadable)
            noAnswer();
        else
            m_result.reason = QStringLiteral("PCMD could not be read");
        return false;
    }
    TunePlace &place = m_result.place;
    place.known = true;
    place.home = std::int32_t(*home);
    place.targetFound = *m_original.values[std::size_t(targetOrdinal())];
    m_away = *home + m_options.step <= travel ? *home + m_options.step : *home - m_options.step;
    if (m_away < -travel) {
        m_result.reason = QStringLiteral("no room for a step of %1 counts within VPK %2")
                              .arg(m_options.step)
                              .arg(travel);
        return false;
    }
    // The feedback's noise while it holds, before anything moves: a step whose settling band
    // lies within it could never be judged.
    if (!restNoise())
        return false;

    QSaveFile backup(m_options.backupPath);
    if (!backup.open(QIODevice::WriteOnly)
        || backup.write(
               formatParameterSet(m_original, m_options.station, QDateTime::currentDateTime())
                   .toUtf8())
            < 0
        || !backup.commit()) {
        m_result.outcome = Outcome::FileError;
        m_result.reason = QStringLiteral("cannot write the backup %1: %2; nothing was written")
                              .arg(m_options.backupPath, backup.errorString());
        return false;
    }
    m_result.outcome = Outcome::NotMet;
    return true;
}

bool Tuner::restNoise()
{
    // Two records while holding at the gains as found: the feedback's noise, and the first
    // yardsticks of how far the velocity and the current command swing at rest (a record holds
    // more of the drive's own unrest than a few readings do).
    const std::optional<Capture> c = captureOnce(request(1, 6, QStringLiteral("100")));
    const std::optional<Capture> v
        = c ? captureOnce(request(4, 6, QStringLiteral("100"))) : std::nullopt;
    if (!v)
        return false;
    const double velocityGain = m_result.before[KVP];
    std::vector<double> current = channel(*c, 1);
    const std::vector<double> more = channel(*v, 1);
    current.insert(current.end(), more.begin(), more.end());
    m_safeCurrent.push_back({ swing(current), velocityGain });
    for (double a : current)
        m_largestCurrent = std::max(m_largestCurrent, std::abs(a));
    m_safeVelocity.push_back({ swing(channel(*v, 0)), velocityGain });
    const std::vector<double> feedback = channel(*c, 0);
    const double noise = seriesNoise(feedback);
    m_feedbackResolution = seriesResolution(feedback).value_or(1);
    // The band must lie beyond four noise estimates and span two of the feedback's steps:
    // narrower, a response that settled would read as ringing, and its overshoot as nothing.
    const double band = StepOptions {}.bandPercent / 100;
    m_leastStep = int(std::ceil(std::max(4 * noise, 2 * m_feedbackResolution) / band));
    if (m_options.step >= m_leastStep)
        return true;
    const int suggested = int(std::ceil(m_leastStep / 10.0)) * 10;
    m_result.reason
        = QStringLiteral("the feedback's noise while holding (%1 counts, in steps of %5) is too "
                         "large for a step of %2 counts: its %3 % band would be noise; use a step "
                         "of %4 counts or more; nothing was written")
              .arg(noise, 0, 'f', 1)
              .arg(m_options.step)
              .arg(StepOptions {}.bandPercent)
              .arg(suggested)
              .arg(m_feedbackResolution);
    return false;
}

bool Tuner::writeGain(int g, std::int16_t value)
{
    const std::optional<std::int16_t> was = m_inForce[g];
    // Until an answer says otherwise, the drive may hold either value.
    m_inForce[g].reset();
    const std::optional<ParameterWrite> w = m_drive.writeParameter(gainOrdinal(g), value);
    if (!w)
        return false;
    if (w->echo == WriteEcho::Confirmed) {
        m_inForce[g] = value;
        return true;
    }
    // An echo of another value, or none that can be read: what the drive holds is read back.
    const QString echo = w->held.isEmpty() ? m_drive.failure().reply.trimmed() : w->held;
    const std::optional<std::int16_t> held = m_drive.readParameter(gainOrdinal(g));
    if (!held)
        return false;
    m_inForce[g] = *held;
    if (*held == value)
        return true;
    // Short of the value asked, on the way from the one before: the end of the drive's range.
    if (was
        && ((value > *was && *held >= *was && *held < value)
            || (value<*was && * held <= *was && * held> value))) {
        const QString note
            = QStringLiteral("%1: the drive holds %2 where %3 was asked, the %4 "
                             "end of its range")
                  .arg(gainName(g))
                  .arg(*held)
                  .arg(value)
                  .arg(value > *was ? QStringLiteral("upper") : QStringLiteral("lower"));
        if (!m_result.caveats.contains(note))
            m_result.caveats << note;
        return true;
    }
    m_drive.failure();
    stop(Stop::Refused,
         QStringLiteral("the drive refused %1=%2 (it answered %3 and holds %4)")
             .arg(gainName(g))
             .arg(value)
             .arg(echo.isEmpty() ? QStringLiteral("nothing readable") : echo)
             .arg(*held));
    return false;
}

bool Tuner::apply(const Gains &gains)
{
    for (int g = 0; g < Count; ++g) {
        if (m_inForce[g] == gains[g])
            continue;
        // A gain the run may not change is never written, whatever asks for it.
        if (!m_options.tuned[g] && gains[g] != m_result.before[g])
            continue;
        if (interrupted())
            return false;
        if (!writeGain(g, gains[g])) {
            if (m_drive.failure().kind == DriveFailure::Kind::NoAnswer)
                noAnswer();
            return false;
        }
    }
    return true;
}

bool Tuner::backToSafe()
{
    return apply(m_safe.value_or(m_result.before));
}

std::optional<Capture> Tuner::captureOnce(CaptureRequest request)
{
    if (interrupted())
        return std::nullopt;
    request.newRecorder = m_newRecorder;
    if (request.moveTarget) {
        // The motion may go out even where the capture then fails.
        m_lastTarget = request.moveTarget->toDouble();
        m_result.place.moved = true;
    }
    const std::optional<Capture> c = m_drive.capture(request);
    if (c) {
        if (onCapture)
            onCapture(*c);
        return c;
    }
    const DriveFailure &f = m_drive.failure();
    if (f.what == QLatin1String("motion")) {
        if (request.moveTarget && m_lastTarget == request.moveTarget->toDouble())
            m_lastTarget.reset(); // refused before it was sent: it stands where it stood
        stop(Stop::Alarm,
             QStringLiteral("the drive no longer allows a test motion (status %1)")
                 .arg(quint16(m_drive.lastState()->status), 4, 16, QLatin1Char('0')));
    } else if (f.what == QLatin1String("record length")) {
        stop(Stop::Refused,
             QStringLiteral("the record does not hold the %1 values the drive's mode word (bit 7) "
                            "promises for its %2 recorder")
                 .arg(recordLength(m_newRecorder))
                 .arg(m_newRecorder ? QStringLiteral("\"VCRR new\"") : QStringLiteral("classic")));
    } else if (f.kind == DriveFailure::Kind::NoAnswer) {
        noAnswer();
    } else {
        stop(Stop::Refused, QStringLiteral("the record could not be read"));
    }
    return std::nullopt;
}

bool Tuner::measureStep(double target, StepCheck &check)
{
    CaptureRequest r = request(0, 1, m_span);
    r.moveTarget = QString::number(qRound(target));
    const std::optional<Capture> c = captureOnce(r);
    if (c)
        check = checkStep(channel(*c, 0), channel(*c, 1), c->spanMs / (c->shape.recordLength / 2));
    return bool(c);
}

bool Tuner::lookAtRest(Trial &trial, int readings)
{
    std::vector<double> velocity, current;
    for (int i = 0; i < readings; ++i) {
        if (interrupted())
            return false;
        const std::optional<double> v = m_drive.readVariable(4); // VFBK
        const std::optional<double> a = v ? m_drive.readVariable(6) : std::nullopt; // ICMD
        if (!a) {
            if (m_drive.failure().kind == DriveFailure::Kind::NoAnswer)
                noAnswer();
            else
                stop(Stop::Refused,
                     QStringLiteral("%1 could not be read").arg(m_drive.failure().what));
            return false;
        }
        velocity.push_back(*v);
        current.push_back(*a);
        trial.velocitySwing = farthest(velocity, m_holdVelocity);
        trial.holdSpread = farthest(current, m_holdCurrent);
        m_restVelocity = velocity;
        m_restCurrent = current;
        // A current command far beyond any the drive held with at safe gains: a loop breaking
        // out into its current limit. It goes at this first sight; where the limit trips an
        // alarm, a few hundred milliseconds decide.
        if (breaksOut(*a, m_holdCurrent, m_largestCurrent)) {
            m_brokeOut = true;
            return true;
        }
        // Watching a stiffer loop: it goes at the first sight of a swing beyond the trend,
        // before it grows on; not before a change's own transient had time to pass.
        if (i + 1 >= RestReadings && readings > RestReadings && restless(trial, RestlessRatio))
            return true;
    }
    return true;
}

bool Tuner::restless(const Trial &t, double ratio) const
{
    // Beyond the yardstick and jumping between readings: a loop that oscillates. A current
    // command that only settles elsewhere after its gains changed does not jump (friction holds
    // the actuator wherever the change left it); a velocity that stays away does not settle.
    const auto limit = [this, ratio, &t](const std::vector<RestSwing> &safe, double hold) {
        return restLimit(safe, t.gains[KVP], std::max(1.0, m_holdShift * std::abs(hold)), ratio);
    };
    const auto jumps = [](const std::vector<double> &reads, double seen, double beyond) {
        return seen > beyond && seriesNoise(reads) > seen / JumpShare;
    };
    const auto stays = [](const std::vector<double> &reads, double hold, double beyond) {
        if (reads.size() < Persisting)
            return false;
        double least = std::numeric_limits<double>::infinity();
        for (auto r = reads.end() - Persisting; r != reads.end(); ++r)
            least = std::min(least, std::abs(*r - hold));
        return least > beyond;
    };
    const double current = limit(m_safeCurrent, m_holdCurrent);
    const double velocity = limit(m_safeVelocity, m_holdVelocity);
    return jumps(m_restCurrent, t.holdSpread, current)
        || jumps(m_restVelocity, t.velocitySwing, velocity)
        || stays(m_restVelocity, m_holdVelocity, velocity);
}

bool Tuner::swingsWhileHolding(const StepCheck &check) const
{
    if (!m_safe || !check.figures.ok())
        return false;
    return check.figures.noise > RestlessRatio * std::max(m_safeNoise, m_feedbackResolution);
}

void Tuner::bookSafe(const Trial &t)
{
    m_safe = t.gains;
    if (m_safeHistory.empty() || m_safeHistory.back() != t.gains)
        m_safeHistory.push_back(t.gains);
    if (t.holdSpread >= 0) {
        m_safeCurrent.push_back({ t.holdSpread, double(t.gains[KVP]) });
        m_safeVelocity.push_back({ t.velocitySwing, double(t.gains[KVP]) });
        for (double a : m_restCurrent)
            m_largestCurrent = std::max(m_largestCurrent, std::abs(a));
    }
    for (const StepCheck *c : { &t.up, &t.down }) {
        if (c->figures.ok())
            m_safeNoise = std::max(m_safeNoise, c->figures.noise);
    }
}

std::optional<Trial> Tuner::measure(const Gains &gains, Trial::Kind kind)
{
    if (interrupted())
        return std::nullopt;
    // What the drive holds with just before its gains change: a look afterwards is measured
    // from there (friction leaves it somewhat different after every move).
    const std::optional<double> velocity = m_drive.readVariable(4);
    const std::optional<double> current = velocity ? m_drive.readVariable(6) : std::nullopt;
    if (!current) {
        noAnswer();
        return std::nullopt;
    }
    m_holdVelocity = *velocity;
    m_holdCurrent = *current;
    // A gain multiplies what the drive holds with as much as it changes: so may that shift.
    m_holdShift = 0;
    for (int g = 0; g < Count; ++g) {
        if (m_inForce[g] && *m_inForce[g] > 0 && gains[g] != *m_inForce[g])
            m_holdShift = std::max(m_holdShift, std::abs(double(gains[g]) / *m_inForce[g] - 1));
    }
    if (!apply(gains))
        return std::nullopt;
    Trial t;
    t.number = int(m_result.trials.size()) + 1;
    t.kind = kind;
    for (int g = 0; g < Count; ++g)
        t.gains[g] = *m_inForce[g];

    // Held still first: a loop that swings at rest goes before any motion excites it. Far
    // beyond what safe gains showed it goes at once; beyond their trend, when a second look
    // shows it again. A stiffer loop is watched for longer: one just past its limit takes most
    // of a second to grow out of the noise.
    m_brokeOut = false;
    const Gains &safe = m_safe.value_or(m_result.before);
    const bool stiffer = t.gains[KVP] > safe[KVP] || t.gains[KPP] > safe[KPP];
    if (!lookAtRest(t, stiffer ? WatchReadings : RestReadings))
        return std::nullopt;
    // A stiffer loop goes at the first sight; one that was not made stiffer is looked at again.
    bool danger = m_brokeOut || restless(t, stiffer ? RestlessRatio : BreakoutRatio);
    if (!danger && restless(t, RestlessRatio)) {
        if (!lookAtRest(t, RestReadings))
            return std::nullopt;
        danger = restless(t, RestlessRatio);
    }
    t.restWarning = restless(t, RestlessRatio / 2);
    if (danger) {
        t.summary.shortfall = Shortfall::Chatter;
        if (!backToSafe())
            return std::nullopt;
    }
    while (!danger) {
        t.span = m_span;
        if (!measureStep(m_away, t.up))
            break;
        // A set that rings, swings while it holds or loses the position on the way out goes
        // at once: the way back runs on the last safe gains.
        const Shortfall out
            = summarize(t.up, t.up, m_options.overshootPercent, m_errorLimit).shortfall;
        danger = unsafe(out) || swingsWhileHolding(t.up);
        if (danger && !backToSafe())
            break;
        if (!measureStep(m_result.place.home, t.down))
            break;
        t.summary = summarize(t.up, t.down, m_options.overshootPercent, m_errorLimit);
        if (danger) {
            t.summary.shortfall = unsafe(out) ? out : Shortfall::Chatter;
            break;
        }
        if (swingsWhileHolding(t.down)) {
            t.summary.shortfall = Shortfall::Chatter;
            danger = true;
            backToSafe();
            break;
        }
        // A record too short for the response (still moving at its end, or its step too late
        // in it): the same gains again over a longer span. One that came to rest short of the
        // band, held by friction, would not settle in any record.
        const std::optional<QString> longer = longerSpan(m_span);
        const auto tooShort = [this](const StepCheck &c) {
            return c.figures.suggestedSpanMs && *c.figures.suggestedSpanMs > m_span.toInt();
        };
        if (!longer
            || (t.summary.shortfall != Shortfall::NotSettled
                && t.summary.shortfall != Shortfall::NoStep)
            || !(tooShort(t.up) || tooShort(t.down)))
            break;
        m_span = *longer;
    }
    if (m_stop == Stop::NoAnswer || m_stop == Stop::Aborted || m_stop == Stop::Refused)
        return std::nullopt;

    const std::optional<DriveState> state = m_drive.readState();
    if (!state) {
        noAnswer();
        return std::nullopt;
    }
    t.status = state->status;
    if (state->alarm() || !state->servoOn() || m_stop == Stop::Alarm) {
        t.summary.shortfall = Shortfall::Alarm;
        stop(Stop::Alarm,
             QStringLiteral("alarm: status %1 with %2")
                 .arg(quint16(t.status), 4, 16, QLatin1Char('0'))
                 .arg(t.gains == m_result.before
                          ? QStringLiteral("the start gains")
                          : QStringLiteral("trial %1's gains").arg(t.number)));
        // The last safe gains go back at once; the alarm is the operator's to reset.
        backToSafe();
    } else if (unsafe(t.summary.shortfall)) {
        // Gains that once looked safe and now did not are safe no longer.
        if (m_safe == t.gains) {
            m_safeHistory.pop_back();
            m_safe = m_safeHistory.empty() ? std::nullopt : std::optional(m_safeHistory.back());
        }
        if (!backToSafe())
            return std::nullopt;
    } else {
        bookSafe(t);
    }
    m_result.trials.append(t);
    if (onTrial)
        onTrial(t);
    return t;
}

std::optional<QString> Tuner::spanFor(const Trial &t) const
{
    const StepFigures &up = t.up.figures;
    const StepFigures &down = t.down.figures;
    if (!up.settlingMs || !down.settlingMs)
        return std::nullopt;
    return ::spanFor(up.startMs, up.startMs + 2 * std::max(*up.settlingMs, *down.settlingMs));
}

void Tuner::search()
{
    std::optional<Trial> first = measure(m_result.before, Trial::Kind::Start);
    if (!first || m_stop != Stop::None)
        return;
    // The span that holds this response with room for slower ones; the start is measured
    // again over it, so that before and after compare alike.
    if (const std::optional<QString> span = spanFor(*first); span && *span != m_span) {
        m_span = *span;
        first = measure(m_result.before, Trial::Kind::Start);
        if (!first || m_stop != Stop::None)
            return;
    }
    m_result.first = first;

    const int left = m_options.maxTrials - int(m_result.trials.size());
    const int reserve = std::clamp(m_options.maxTrials * (RemeasuredBest + MarginTrials) / 40, 2,
                                   RemeasuredBest + MarginTrials);
    TuneSearch search(m_options.tuned, left, m_options.overshootPercent,
                      [this](const Gains &g, Trial::Kind kind) { return measure(g, kind); });
    // A response that now fits a shorter, finer record moves the search to it.
    search.respan = [this](const Trial &best) {
        std::optional<QString> span = spanFor(best);
        // Too coarse for a rise that fell between samples: the span its figures suggest, as
        // long as it still holds the step.
        for (const StepCheck *c : { &best.up, &best.down }) {
            const std::optional<int> finer = c->figures.suggestedSpanMs;
            if (!c->figures.trustworthy && finer && *finer < m_span.toInt()
                && (!span || *finer < span->toInt()))
                span = QString::number(*finer);
        }
        if (!span || span->toInt() >= m_span.toInt())
            return false;
        m_span = *span;
        return true;
    };
    // While nothing met the target: the margin of one candidate, both sets approached in full.
    search.run(*first, reserve, 2 * MarginSteps);
    if (m_stop != Stop::None)
        return;
    const std::optional<Trial> chosen = choose(search);
    if (search.stoppedUnresolved() || (chosen && chosen->summary.unresolved))
        m_result.caveats
            << QStringLiteral(
                   "the recorder cannot resolve the response at the %1 ms span: its rise "
                   "spans fewer than three samples, so its overshoot may be larger "
                   "than measured, and the search did not refine on such figures")
                   .arg(m_span);
    if (chosen) {
        m_result.best = chosen;
        m_result.tuned = chosen->gains;
    }
}

std::optional<Trial> Tuner::choose(TuneSearch &search)
{
    const auto budgetLeft = [this] { return m_options.maxTrials - int(m_result.trials.size()); };
    // The few best measured again before the final choice: one lucky record must not decide.
    std::vector<Trial> ranked = search.ranked();
    for (std::size_t i = 0; i < ranked.size() && int(i) < RemeasuredBest; ++i) {
        if (budgetLeft() <= MarginTrials || m_stop != Stop::None)
            break;
        search.tryGains(ranked[i].gains, Trial::Kind::Search, nullptr, true);
    }
    if (m_stop != Stop::None)
        return std::nullopt;
    ranked = search.ranked();
    QString why;
    int checked = 0;
    for (const Trial &best : ranked) {
        if (m_stop != Stop::None || checked == MarginCandidates || budgetLeft() <= 0)
            break;
        ++checked;
        // A candidate short of its margin is eased until it keeps it, while it still meets
        // the target: the margin it lacked was measured, the eased set's lies below it.
        Trial candidate = best;
        for (;;) {
            std::optional<Gains> softer;
            if (marginHolds(search, candidate, &why, &softer))
                return candidate;
            if (!softer || budgetLeft() <= 0 || m_stop != Stop::None)
                break;
            const std::optional<Trial> eased
                = search.tryGains(*softer, Trial::Kind::Search, &candidate.gains);
            if (!eased || !eased->summary.clean())
                break;
            candidate = *eased;
        }
    }
    if (m_stop == Stop::None)
        m_result.reason = ranked.empty()
            ? QStringLiteral("no gains met the target of %1 % overshoot in both directions")
                  .arg(m_options.overshootPercent)
            : QStringLiteral("no gains that met the target kept their margin (KPP alone, and KPP "
                             "with KVP, 30 % higher must still settle)%1")
                  .arg(why.isEmpty() ? QString() : QStringLiteral(": ") + why);
    return std::nullopt;
}

bool Tuner::marginHolds(TuneSearch &search, const Trial &candidate, QString *why,
                        std::optional<Gains> *softer)
{
    // Only gains the run may change are raised: KPP alone, then with KVP. Each is approached
    // in steps where nothing that far was measured: a loop without the margin may break out at
    // the full raise faster than a look can tell, and just past its limit more slowly.
    std::vector<std::vector<Gains>> sets; // the steps to each, the full raise last
    for (const std::array<bool, Count> &raised :
         { std::array<bool, Count> { true, false, false, false },
           std::array<bool, Count> { true, false, true, false } }) {
        std::vector<Gains> steps;
        for (int k = 1; k <= MarginSteps; ++k) {
            Gains stiffer = candidate.gains;
            for (int g : All) {
                if (raised[g] && m_options.tuned[g])
                    stiffer[g]
                        = scaledGain(stiffer[g], std::pow(MarginFactor, double(k) / MarginSteps));
            }
            if (stiffer != candidate.gains && (steps.empty() || steps.back() != stiffer))
                steps.push_back(stiffer);
        }
        if (!steps.empty() && std::none_of(sets.begin(), sets.end(), [&](const auto &s) {
                return s.back() == steps.back();
            }))
            sets.push_back(steps);
    }
    if (sets.empty()) {
        const QString note
            = QStringLiteral("no margin was measured: neither KPP nor KVP may change");
        if (!m_result.caveats.contains(note))
            m_result.caveats << note;
        return true;
    }
    const auto holds = [&](const Gains &set, const Gains &from) {
        const QString name = gainText(set, m_options.tuned);
        // Not measured where a raise that far or farther came near a limit.
        if (search.nearUnsafe(set, 1 / MarginFactor)) {
            *why = QStringLiteral("%1 lies at or beyond a set that came near a limit")
                       .arg(name);
            return false;
        }
        std::optional<Trial> t = search.known(set);
        if (!t) {
            if (m_options.maxTrials - int(m_result.trials.size()) <= 0) {
                *why = QStringLiteral("no trial was left to measure %1").arg(name);
                return false;
            }
            t = search.tryGains(set, Trial::Kind::Margin, &from);
            // Held short of the band, by friction, without an overshoot the margin would refuse:
            // no sign of a limit, and measured again.
            if (t && t->summary.shortfall == Shortfall::NotSettled
                && t->summary.overshootPercent < MarginOvershoot * m_options.overshootPercent
                && m_options.maxTrials - int(m_result.trials.size()) > 0)
                t = search.tryGains(set, Trial::Kind::Margin, &from, true);
        }
        if (!t || !marginKept(t->summary, m_options.overshootPercent)) {
            if (t)
                *why = QStringLiteral("%1: %2").arg(name, shortfallText(t->summary.shortfall));
            return false;
        }
        return true;
    };
    for (const std::vector<Gains> &steps : sets) {
        // From the last step measured already (the search may have been that far), on.
        std::size_t from = steps.size() - 1;
        while (from > 0 && !search.known(steps[from - 1]) && !search.known(steps[from]))
            --from;
        for (std::size_t k = search.known(steps.back()) ? steps.size() - 1 : from; k < steps.size();
             ++k) {
            if (holds(steps[k], k == 0 ? candidate.gains : steps[k - 1]))
                continue;
            // The last step that held (or the candidate), made a margin below.
            if (softer) {
                const Gains &held = k == 0 ? candidate.gains : steps[k - 1];
                Gains eased = candidate.gains;
                for (int g : All) {
                    if (held[g] != candidate.gains[g])
                        eased[g] = scaledGain(held[g], 1 / MarginFactor);
                    else if (steps[k][g] != candidate.gains[g])
                        eased[g] = scaledGain(candidate.gains[g], 1 / MarginFactor);
                }
                if (eased != candidate.gains)
                    *softer = eased;
            }
            return false;
        }
    }
    return true;
}

bool Tuner::writeBack(const Gains &wanted)
{
    bool all = true;
    for (int g = 0; g < Count; ++g) {
        // An unknown gain is written again: the drive may take it now.
        if (m_inForce[g] == wanted[g])
            continue;
        if (!m_options.tuned[g] && wanted[g] != m_result.before[g])
            continue;
        if (writeGain(g, wanted[g]) && m_inForce[g] == wanted[g])
            continue;
        all = false;
        // Silence: one look whether the drive is there at all before the next write.
        if (m_drive.failure().kind == DriveFailure::Kind::NoAnswer
            && !m_drive.readWord(QStringLiteral("RV 8")))
            break;
    }
    return all;
}

void Tuner::returnHome()
{
    TunePlace &place = m_result.place;
    if (!place.known)
        return;
    if (place.moved) {
        const std::optional<double> command = m_drive.readVariable(0);
        const bool away = !command || *command != place.home || m_lastTarget != double(place.home);
        const std::optional<DriveState> state = away ? m_drive.readState() : std::nullopt;
        if (away && state && state->motionAllowed()
            && m_drive.ask(motionCommand(QString::number(place.home)), Timing::Paced)) {
            m_lastTarget = place.home;
            // The move takes a moment: the last test motion's time at most.
            m_drive.link().Delay(intervalSetting(m_span, m_newRecorder)->waitMs);
        }
    }
    const std::optional<double> command = m_drive.readVariable(0);
    const std::optional<double> feedback = command ? m_drive.readVariable(1) : std::nullopt;
    if (command)
        place.command = std::int32_t(*command);
    if (feedback)
        place.feedback = std::int32_t(*feedback);
    place.returned = place.command == place.home;
}

void Tuner::readBack(const Gains &wanted)
{
    m_result.finalSet = m_drive.readParameters();
    QStringList wrong;
    if (m_result.finalSet) {
        for (int g = 0; g < Count; ++g) {
            const std::optional<std::int16_t> held
                = m_result.finalSet->values[std::size_t(gainOrdinal(g))];
            m_inForce[g] = held;
            if (held != wanted[g])
                wrong << QStringLiteral("%1 reads back as %2, not %3")
                             .arg(gainName(g))
                             .arg(held ? QString::number(*held) : QStringLiteral("nothing"))
                             .arg(wanted[g]);
        }
        m_result.place.target = m_result.finalSet->values[std::size_t(targetOrdinal())];
    }
    for (int g = 0; g < Count; ++g) {
        if (m_inForce[g])
            m_result.after[g] = *m_inForce[g];
        // Neither value is proven: a gain the run changed, or one whose value is unknown.
        const bool changed
            = m_options.tuned[g] && (wanted[g] != m_result.before[g] || !m_result.trials.isEmpty());
        if ((!m_result.finalSet && changed) || (m_result.finalSet && m_inForce[g] != wanted[g]))
            m_result.maybeWrong << gainName(g);
    }
    m_result.place.targetPutBack = m_result.place.target == m_result.place.targetFound;
    if (m_result.maybeWrong.isEmpty())
        return;
    const QString proof = m_result.finalSet
        ? wrong.join(QStringLiteral(", "))
        : QStringLiteral("the parameters could not be read back");
    const QString text
        = QStringLiteral("%1: %2 may be wrong; the original values are in %3")
              .arg(proof, m_result.maybeWrong.join(QLatin1Char(' ')), m_options.backupPath);
    m_result.reason
        = m_result.reason.isEmpty() ? text : m_result.reason + QStringLiteral("; ") + text;
}

void Tuner::finish()
{
    using Outcome = TuneResult::Outcome;
    const bool chosen = m_stop == Stop::None && m_result.best.has_value();
    const Gains wanted = chosen && !m_options.restore ? m_result.tuned : m_result.before;
    const Stop why = m_stop;
    // From here on the drive is put back whatever was asked: no abort refuses it.
    enterWriteBack();
    writeBack(wanted);
    returnHome();
    readBack(wanted);
    const bool proven = m_result.finalSet && m_result.maybeWrong.isEmpty();
    m_result.restored = proven && wanted == m_result.before && !m_result.trials.isEmpty();
    m_result.applied = proven && chosen && !m_options.restore;

    switch (why) {
    case Stop::None:
        m_result.outcome = chosen ? Outcome::Tuned : Outcome::NotMet;
        break;
    case Stop::Aborted:
        m_result.outcome = Outcome::Aborted;
        break;
    case Stop::NoAnswer:
        m_result.outcome = Outcome::NoAnswer;
        break;
    case Stop::Refused:
        m_result.outcome = Outcome::Refused;
        break;
    case Stop::Alarm:
        m_result.outcome = Outcome::Alarm;
        break;
    }
    if (m_result.outcome == Outcome::Tuned && !proven)
        m_result.outcome = m_result.finalSet ? Outcome::Refused : Outcome::NoAnswer;
    if (m_result.outcome == Outcome::Tuned && m_options.save) {
        if (m_drive.save()) {
            m_result.saved = true;
        } else {
            const DriveFailure &f = m_drive.failure();
            m_result.outcome
                = f.kind == DriveFailure::Kind::NoAnswer ? Outcome::NoAnswer : Outcome::Refused;
            m_result.reason = f.kind == DriveFailure::Kind::NoAnswer
                ? QStringLiteral("the drive did not answer \"SV\"")
                : QStringLiteral("the drive refused \"SV\": it answered %1").arg(f.reply.trimmed());
        }
    }
}
