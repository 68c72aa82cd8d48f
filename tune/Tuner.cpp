#include "Tuner.h"

#include "ParameterMap.h"
#include "RecorderSetup.h"

#include <QDateTime>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <set>

namespace {
constexpr const char *GainNames[TuneGain::Count] = { "KPP", "KFV", "KVP", "KVI" };
// The stiffer set whose response proves the margin, and what it may still show.
constexpr double MarginFactor = 1.3;
constexpr double MarginOvershoot = 2;
// A search direction starts with this factor, doubles it after each success up to 2, and takes
// its square root after each failure until it is too small to matter.
const double FirstFactor = std::sqrt(2.0);
constexpr double MaxFactor = 2;
constexpr double LeastFactor = 1.05;
// The current command swings this many times more than at its quietest while holding: the
// velocity loop rings although the position may not show it yet.
constexpr double ChatterRatio = 4;

int gainOrdinal(int gain)
{
    return ParameterMap::ordinal({ BoxArray::KG, gain });
}

int settingOrdinal(int index)
{
    return ParameterMap::ordinal({ BoxArray::VG, index });
}

std::vector<double> channel(const Capture &c, int which)
{
    const int half = c.shape.recordLength / 2;
    const int n = std::clamp(c.record.count - half, 0, half);
    const auto from = c.record.raw.begin() + (which == 0 ? 0 : half);
    return std::vector<double>(from, from + n);
}

CaptureRequest request(int first, int second, const QString &span, bool newRecorder)
{
    CaptureRequest r;
    r.channels[std::size_t(first)] = true;
    r.channels[std::size_t(second)] = true;
    r.span = span;
    r.newRecorder = newRecorder;
    return r;
}
} // namespace

Tuner::Tuner(DriveProcedures &drive, TuneOptions options)
    : m_drive(drive), m_options(std::move(options))
{
    m_highest.fill(32767);
    m_lowest.fill(0);
}

QString Tuner::gainNames(const Gains &gains) const
{
    QStringList names;
    for (int g = 0; g < TuneGain::Count; ++g) {
        if (gains[g] != m_result.before[g])
            names << QLatin1String(GainNames[g]);
    }
    return names.join(QLatin1Char(' '));
}

void Tuner::stop(Stop why, const QString &reason)
{
    if (m_stop != Stop::None)
        return;
    m_stop = why;
    m_result.reason = reason;
}

bool Tuner::interrupted()
{
    if (m_stop == Stop::None && abortRequested && abortRequested())
        stop(Stop::Aborted, QStringLiteral("aborted"));
    return m_stop != Stop::None;
}

TuneResult Tuner::run()
{
    if (!start()) {
        if (m_stop == Stop::NoAnswer)
            m_result.outcome = TuneResult::Outcome::NoAnswer;
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
        stop(Stop::NoAnswer, QStringLiteral("the drive did not answer \"%1\"")
                                 .arg(m_drive.failure().command));
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

    const std::optional<ParameterSet> original = m_drive.readParameters();
    if (!original) {
        if (m_drive.failure().kind == DriveFailure::Kind::NoAnswer)
            stop(Stop::NoAnswer, QStringLiteral("the drive did not answer \"%1\"")
                                     .arg(m_drive.failure().command));
        else
            m_result.reason = QStringLiteral("%1 could not be read; nothing was written")
                                  .arg(m_drive.failure().what);
        return false;
    }
    m_original = *original;
    QSaveFile backup(m_options.backupPath);
    if (!backup.open(QIODevice::WriteOnly)
        || backup.write(formatParameterSet(m_original, m_options.station,
                                           QDateTime::currentDateTime())
                            .toUtf8())
            < 0
        || !backup.commit()) {
        m_result.outcome = Outcome::FileError;
        m_result.reason = QStringLiteral("cannot write the backup %1: %2; nothing was written")
                              .arg(m_options.backupPath, backup.errorString());
        return false;
    }
    for (int g = 0; g < TuneGain::Count; ++g)
        m_result.before[g] = *m_original.values[std::size_t(gainOrdinal(g))];
    m_inForce = m_result.before;
    m_result.after = m_result.before;
    m_result.tuned = m_result.before;
    m_errorLimit = *m_original.values[std::size_t(settingOrdinal(2))]; // VPX
    const double travel = *m_original.values[std::size_t(settingOrdinal(7))]; // VPK

    const std::optional<std::array<QString, 7>> variables = m_drive.readVariables();
    bool number = false;
    m_home = variables ? (*variables)[0].trimmed().toInt(&number) : 0;
    if (!variables) {
        stop(Stop::NoAnswer, QStringLiteral("the drive did not answer \"%1\"")
                                 .arg(m_drive.failure().command));
        return false;
    }
    if (!number) {
        m_result.reason = QStringLiteral("PCMD could not be read");
        return false;
    }
    m_away = m_home + m_options.step <= travel ? m_home + m_options.step : m_home - m_options.step;
    if (m_away < -travel) {
        m_result.reason = QStringLiteral("no room for a step of %1 counts within VPK %2")
                              .arg(m_options.step)
                              .arg(travel);
        return false;
    }
    m_result.outcome = Outcome::NotMet;
    return true;
}

bool Tuner::apply(const Gains &gains)
{
    for (int g = 0; g < TuneGain::Count; ++g) {
        if (gains[g] == m_inForce[g])
            continue;
        const std::optional<ParameterWrite> w = m_drive.writeParameter(gainOrdinal(g), gains[g]);
        if (!w) {
            stop(Stop::NoAnswer, QStringLiteral("the drive did not answer \"%1\"")
                                     .arg(m_drive.failure().command));
            return false;
        }
        const std::optional<std::int16_t> held = parameterSetValue(w->held.trimmed());
        if (w->echo == WriteEcho::Confirmed) {
            m_inForce[g] = gains[g];
            continue;
        }
        if (!held) {
            stop(Stop::Refused, QStringLiteral("the drive refused %1=%2: %3")
                                    .arg(QLatin1String(GainNames[g]))
                                    .arg(gains[g])
                                    .arg(m_drive.failure().reply.trimmed()));
            return false;
        }
        // The value in force, and the end of the range the drive allows.
        (gains[g] > m_inForce[g] ? m_highest : m_lowest)[g] = *held;
        m_inForce[g] = *held;
    }
    return true;
}

bool Tuner::measureStep(double target, StepCheck &check)
{
    for (;;) {
        if (interrupted())
            return false;
        CaptureRequest r = request(0, 1, m_span, m_newRecorder);
        r.moveTarget = QString::number(qRound(target));
        const std::optional<Capture> c = m_drive.capture(r);
        if (!c) {
            const DriveFailure &f = m_drive.failure();
            if (f.what == QLatin1String("motion")) {
                stop(Stop::Alarm, QStringLiteral("the drive no longer allows a test motion "
                                                 "(status %1)")
                                      .arg(quint16(m_drive.lastState()->status), 4, 16,
                                           QLatin1Char('0')));
                return false;
            }
            if (f.what == QLatin1String("record length") && !m_recorderKnown) {
                // The other recorder: the first capture tells which one the drive has.
                m_recorderKnown = true;
                m_newRecorder = !m_newRecorder;
                continue;
            }
            stop(f.kind == DriveFailure::Kind::NoAnswer ? Stop::NoAnswer : Stop::Refused,
                 f.kind == DriveFailure::Kind::NoAnswer
                     ? QStringLiteral("the drive did not answer \"%1\"").arg(f.command)
                     : QStringLiteral("the record could not be read"));
            return false;
        }
        m_recorderKnown = true;
        if (onCapture)
            onCapture(*c);
        if (pump)
            pump();
        check = checkStep(channel(*c, 0), channel(*c, 1), c->spanMs / (c->shape.recordLength / 2));
        return true;
    }
}

bool Tuner::holdSpread(Trial &trial)
{
    if (interrupted())
        return false;
    const std::optional<Capture> c = m_drive.capture(request(6, 4, m_span, m_newRecorder));
    if (!c) {
        const DriveFailure &f = m_drive.failure();
        stop(f.kind == DriveFailure::Kind::NoAnswer ? Stop::NoAnswer : Stop::Refused,
             f.kind == DriveFailure::Kind::NoAnswer
                 ? QStringLiteral("the drive did not answer \"%1\"").arg(f.command)
                 : QStringLiteral("the record could not be read"));
        return false;
    }
    trial.holdSpread = spread(channel(*c, 0));
    return true;
}

std::optional<Trial> Tuner::measure(const Gains &gains, Trial::Kind kind)
{
    if (interrupted() || !apply(gains))
        return std::nullopt;
    Trial t;
    t.number = int(m_result.trials.size()) + 1;
    t.kind = kind;
    t.gains = m_inForce;
    const bool raised = !m_best
        || std::any_of(std::begin(TuneGain::All), std::end(TuneGain::All),
                       [&](int g) { return t.gains[g] > m_best->gains[g]; });

    for (;;) {
        t.span = m_span;
        if (!measureStep(m_away, t.up))
            break;
        // A set that rings or loses the position on the way out goes at once: the way back
        // runs on the last safe gains.
        const Shortfall out
            = summarize(t.up, t.up, m_options.overshootPercent, m_errorLimit).shortfall;
        const bool danger = out == Shortfall::Ringing || out == Shortfall::PositionError;
        if (danger && m_best && !apply(m_best->gains))
            break;
        if (!measureStep(m_home, t.down))
            break;
        t.summary = summarize(t.up, t.down, m_options.overshootPercent, m_errorLimit);
        if (danger) {
            t.summary.shortfall = out;
            break;
        }
        // A record too short for the response: the same gains again over a longer span.
        const std::optional<QString> longer = longerSpan(m_span);
        if (!longer
            || (t.summary.shortfall != Shortfall::NotSettled
                && t.summary.shortfall != Shortfall::NoStep))
            break;
        m_span = *longer;
    }
    if (m_stop == Stop::NoAnswer || m_stop == Stop::Aborted || m_stop == Stop::Refused)
        return std::nullopt;

    if (m_stop == Stop::None && (raised || m_quietSpread < 0) && t.summary.clean()) {
        if (!holdSpread(t))
            return std::nullopt;
        if (m_quietSpread >= 0 && t.holdSpread > ChatterRatio * m_quietSpread)
            t.summary.shortfall = Shortfall::Chatter;
        else if (m_quietSpread < 0 || t.holdSpread < m_quietSpread)
            m_quietSpread = t.holdSpread;
    }

    const std::optional<DriveState> state = m_drive.readState();
    if (!state) {
        stop(Stop::NoAnswer, QStringLiteral("the drive did not answer \"%1\"")
                                 .arg(m_drive.failure().command));
        return std::nullopt;
    }
    t.status = state->status;
    if (state->alarm() || !state->servoOn() || m_stop == Stop::Alarm) {
        t.summary.shortfall = Shortfall::Alarm;
        stop(Stop::Alarm, QStringLiteral("alarm: status %1 with %2")
                              .arg(quint16(t.status), 4, 16, QLatin1Char('0'))
                              .arg(gainNames(t.gains).isEmpty() ? QStringLiteral("the start gains")
                                                                : QStringLiteral("trial %1's gains")
                                                                      .arg(t.number)));
        // The last safe gains go back at once; the alarm is the operator's to reset.
        if (m_best)
            apply(m_best->gains);
    } else if (unsafe(t.summary.shortfall) && m_best) {
        apply(m_best->gains);
    }
    m_result.trials.append(t);
    if (onTrial)
        onTrial(t);
    if (pump)
        pump();
    return t;
}

void Tuner::search()
{
    const std::optional<Trial> first = measure(m_inForce, Trial::Kind::Start);
    if (!first)
        return;
    m_result.first = first;
    m_best = first;
    if (m_stop != Stop::None)
        return;
    // The span that holds this response with room for slower ones; the search keeps it.
    if (first->summary.clean()) {
        double end = 0;
        for (const StepCheck *c : { &first->up, &first->down })
            end = std::max(end, c->figures.startMs + 2 * c->figures.settlingMs.value_or(0));
        m_span = spanFor(first->up.figures.startMs, end);
    }

    struct Direction {
        int gain;
        int sign;
        double factor;
    };
    QList<Direction> directions;
    // From a start that already falls short, lowering a gain is the cautious first move, and
    // raising one goes in smaller steps.
    const bool cautious = !first->summary.clean();
    const std::array<int, 2> signs = cautious ? std::array<int, 2> { -1, 1 }
                                              : std::array<int, 2> { 1, -1 };
    for (int sign : signs) {
        for (int g : TuneGain::All) {
            if (m_options.tuned[g] && m_result.before[g] > 0)
                directions.append(
                    { g, sign, cautious && sign > 0 ? std::sqrt(FirstFactor) : FirstFactor });
        }
    }
    std::set<Gains> tried { first->gains };
    const int budget = m_options.maxTrials - 1; // one at least for the margin
    while (!directions.isEmpty() && m_result.trials.size() < budget && m_stop == Stop::None) {
        Direction d = directions.takeFirst();
        Gains candidate = m_best->gains;
        const std::int16_t from = candidate[d.gain];
        candidate[d.gain] = std::clamp(scaledGain(from, d.sign > 0 ? d.factor : 1 / d.factor),
                                       m_lowest[d.gain], m_highest[d.gain]);
        if (candidate[d.gain] == from)
            continue; // the drive's range ends here
        if (tried.count(candidate)) {
            d.factor = std::sqrt(d.factor);
            if (d.factor >= LeastFactor)
                directions.append(d);
            continue;
        }
        tried.insert(candidate);
        const TrialSummary before = m_best->summary;
        const std::optional<Trial> t = measure(candidate, Trial::Kind::Search);
        if (!t)
            return;
        const double tieMs = std::stod(t->span.toStdString()) / 256;
        if (better(t->summary, before, tieMs)) {
            m_best = t;
            d.factor = std::min(d.factor * d.factor, MaxFactor);
            directions.prepend(d); // further the same way
            continue;
        }
        // Worse, or a sign of too little margin: this way goes on only in smaller steps
        // between the best and this set.
        d.factor = std::sqrt(d.factor);
        if (d.factor >= LeastFactor)
            directions.append(d);
    }
}

bool Tuner::marginHolds(const Trial &trial)
{
    Gains stiffer = trial.gains;
    for (int g : { TuneGain::KPP, TuneGain::KVP })
        stiffer[g] = std::min(scaledGain(stiffer[g], MarginFactor), m_highest[g]);
    const std::optional<Trial> t = measure(stiffer, Trial::Kind::Margin);
    if (!t || m_stop != Stop::None)
        return false;
    const TrialSummary &s = t->summary;
    return s.shortfall == Shortfall::None
        || (s.shortfall == Shortfall::Overshoot
            && s.overshootPercent < MarginOvershoot * m_options.overshootPercent);
}

void Tuner::finish()
{
    using Outcome = TuneResult::Outcome;
    // The best clean set whose stiffer neighbour still settles.
    std::optional<Trial> chosen;
    QList<Trial> candidates;
    for (const Trial &t : m_result.trials) {
        if (t.kind != Trial::Kind::Margin && t.summary.clean())
            candidates.append(t);
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const Trial &a, const Trial &b) {
        return better(a.summary, b.summary, std::stod(a.span.toStdString()) / 256);
    });
    for (const Trial &t : candidates) {
        if (m_stop != Stop::None || m_result.trials.size() >= m_options.maxTrials)
            break;
        if (marginHolds(t)) {
            chosen = t;
            break;
        }
    }
    if (chosen) {
        m_result.best = chosen;
        m_result.tuned = chosen->gains;
    } else if (m_stop == Stop::None) {
        m_result.reason = candidates.isEmpty()
            ? QStringLiteral("no gains met the target of %1 % overshoot in both directions")
                  .arg(m_options.overshootPercent)
            : QStringLiteral("no gains that met the target kept their margin (KPP and KVP "
                             "30 % higher must still settle)");
    }

    const Gains wanted = chosen && !m_options.restore ? chosen->gains : m_result.before;
    // After an alarm or silence, a write-back is still tried: the drive may take it.
    Stop why = m_stop;
    const QString reason = m_result.reason;
    m_stop = Stop::None;
    const bool written = apply(wanted) && m_inForce == wanted;
    if (m_stop == Stop::NoAnswer && why == Stop::None)
        why = Stop::NoAnswer;
    else
        m_result.reason = reason;
    m_stop = why;
    m_result.after = m_inForce;
    if (!written) {
        m_result.maybeWrong.clear();
        for (int g = 0; g < TuneGain::Count; ++g) {
            if (m_inForce[g] != m_result.before[g] || m_drive.failure().what == GainNames[g])
                m_result.maybeWrong << QLatin1String(GainNames[g]);
        }
        if (m_result.maybeWrong.isEmpty())
            m_result.maybeWrong << gainNames(m_result.tuned);
        m_result.reason += QStringLiteral("; the gains could not be written back: %1 may be "
                                          "wrong; the original values are in %2")
                               .arg(m_result.maybeWrong.join(QLatin1Char(' ')),
                                    m_options.backupPath);
    }
    m_result.restored = written && wanted == m_result.before;
    m_result.applied = written && chosen && !m_options.restore;

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
    if (!written || why == Stop::NoAnswer)
        return;

    // What the drive holds now, read back as proof.
    m_result.finalSet = m_drive.readParameters();
    if (!m_result.finalSet) {
        if (m_result.outcome == Outcome::Tuned)
            m_result.outcome = Outcome::NoAnswer;
        m_result.reason = QStringLiteral("the parameters could not be read back");
        return;
    }
    for (int g = 0; g < TuneGain::Count; ++g) {
        if (m_result.finalSet->values[std::size_t(gainOrdinal(g))] != wanted[g]) {
            m_result.outcome = Outcome::Refused;
            m_result.reason = QStringLiteral("%1 reads back as %2, not %3")
                                  .arg(QLatin1String(GainNames[g]))
                                  .arg(*m_result.finalSet->values[std::size_t(gainOrdinal(g))])
                                  .arg(wanted[g]);
            return;
        }
    }
    if (m_result.outcome == Outcome::Tuned && m_options.save) {
        if (!m_drive.ask(QStringLiteral("SV"), Timing::Paced)) {
            m_result.outcome = Outcome::NoAnswer;
            m_result.reason = QStringLiteral("the drive did not answer \"SV\"");
            return;
        }
        m_result.saved = true;
    }
}
