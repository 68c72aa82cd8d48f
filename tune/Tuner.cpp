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

CaptureRequest request(int first, int second, const QString &span)
{
    CaptureRequest r;
    r.channels[std::size_t(first)] = true;
    r.channels[std::size_t(second)] = true;
    r.span = span;
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
        stop(Stop::NoAnswer,
             QStringLiteral("the drive did not answer \"%1\"").arg(m_drive.failure().command));
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
            stop(Stop::NoAnswer,
                 QStringLiteral("the drive did not answer \"%1\"").arg(m_drive.failure().command));
        else
            m_result.reason = QStringLiteral("%1 could not be read; nothing was written")
                                  .arg(m_drive.failure().what);
        return false;
    }
    m_original = *original;
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
        stop(Stop::NoAnswer,
             QStringLiteral("the drive did not answer \"%1\"").arg(m_drive.failure().command));
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

bool Tuner::apply(const Gains &gains)
{
    for (int g = 0; g < TuneGain::Count; ++g) {
        if (gains[g] == m_inForce[g])
            continue;
        const std::optional<ParameterWrite> w = m_drive.writeParameter(gainOrdinal(g), gains[g]);
        if (!w) {
            stop(Stop::NoAnswer,
                 QStringLiteral("the drive did not answer \"%1\"").arg(m_drive.failure().command));
            return false;
        }
        const std::optional<std::int16_t> held = parameterSetValue(w->held.trimmed());
        if (w->echo == WriteEcho::Confirmed) {
            m_inForce[g] = gains[g];
            continue;
        }
        if (!held) {
            stop(Stop::Refused,
                 QStringLiteral("the drive refused %1=%2: %3")
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

std::optional<Capture> Tuner::captureOnce(CaptureRequest request)
{
    for (;;) {
        if (interrupted())
            return std::nullopt;
        request.newRecorder = m_newRecorder;
        const std::optional<Capture> c = m_drive.capture(request);
        if (c) {
            m_recorderKnown = true;
            if (onCapture)
                onCapture(*c);
            if (pump)
                pump();
            return c;
        }
        const DriveFailure &f = m_drive.failure();
        if (f.what == QLatin1String("record length") && !m_recorderKnown) {
            // The other recorder: the first capture tells which one the drive has.
            m_recorderKnown = true;
            m_newRecorder = !m_newRecorder;
            continue;
        }
        if (f.what == QLatin1String("motion"))
            stop(Stop::Alarm,
                 QStringLiteral("the drive no longer allows a test motion (status %1)")
                     .arg(quint16(m_drive.lastState()->status), 4, 16, QLatin1Char('0')));
        else if (f.kind == DriveFailure::Kind::NoAnswer)
            stop(Stop::NoAnswer, QStringLiteral("the drive did not answer \"%1\"").arg(f.command));
        else
            stop(Stop::Refused, QStringLiteral("the record could not be read"));
        return std::nullopt;
    }
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

bool Tuner::holdSpread(Trial &trial)
{
    const std::optional<Capture> c = captureOnce(request(6, 4, m_span));
    if (c)
        trial.holdSpread = spread(channel(*c, 0));
    return bool(c);
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

    // Raised gains are first watched while holding: a velocity loop that rings shows in the
    // current command long before the position, and goes before it can trip an alarm.
    if (raised || m_quietSpread < 0) {
        if (!holdSpread(t))
            return std::nullopt;
        if (m_quietSpread >= 0 && t.holdSpread > ChatterRatio * m_quietSpread) {
            t.summary.shortfall = Shortfall::Chatter;
            if (m_best && !apply(m_best->gains))
                return std::nullopt;
        }
    }
    for (; t.summary.shortfall != Shortfall::Chatter;) {
        t.span = m_span;
        if (!measureStep(m_away, t.up))
            break;
        // A set that rings or loses the position on the way out goes at once: the way back
        // runs on the last safe gains.
        const TrialSummary outward
            = summarize(t.up, t.up, m_options.overshootPercent, m_errorLimit);
        const Shortfall out = outward.shortfall;
        // Only a slow response that has not settled yet may just need a longer record.
        const bool slow = out == Shortfall::NotSettled
            && outward.overshootPercent <= m_options.overshootPercent;
        const bool danger = unsafe(out) && !slow;
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
    if (t.holdSpread >= 0
        && (m_quietSpread < 0 || (t.summary.clean() && t.holdSpread < m_quietSpread)))
        m_quietSpread = t.holdSpread;

    const std::optional<DriveState> state = m_drive.readState();
    if (!state) {
        stop(Stop::NoAnswer,
             QStringLiteral("the drive did not answer \"%1\"").arg(m_drive.failure().command));
        return std::nullopt;
    }
    t.status = state->status;
    if (state->alarm() || !state->servoOn() || m_stop == Stop::Alarm) {
        t.summary.shortfall = Shortfall::Alarm;
        stop(Stop::Alarm,
             QStringLiteral("alarm: status %1 with %2")
                 .arg(quint16(t.status), 4, 16, QLatin1Char('0'))
                 .arg(gainNames(t.gains).isEmpty()
                          ? QStringLiteral("the start gains")
                          : QStringLiteral("trial %1's gains").arg(t.number)));
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
    std::optional<Trial> first = measure(m_inForce, Trial::Kind::Start);
    if (!first || m_stop != Stop::None)
        return;
    // The span that holds this response with room for slower ones; the search keeps it, and
    // the start is measured again over it so that before and after compare alike.
    if (const std::optional<QString> span = spanFor(*first); span && *span != m_span) {
        m_span = *span;
        first = measure(m_inForce, Trial::Kind::Start);
        if (!first || m_stop != Stop::None)
            return;
    }
    m_result.first = first;
    m_best = first;
    m_tried.insert(first->gains);

    std::vector<Direction> singles;
    for (int g : TuneGain::All) {
        if (m_options.tuned[g] && m_result.before[g] > 0) {
            std::array<bool, TuneGain::Count> one {};
            one[std::size_t(g)] = true;
            singles.push_back({ one, -1 });
            singles.push_back({ one, 1 });
        }
    }
    const std::array<bool, TuneGain::Count> stiffness { true, false, true, false };
    const bool stiff = m_options.tuned[TuneGain::KPP] && m_options.tuned[TuneGain::KVP]
        && m_result.before[TuneGain::KPP] > 0 && m_result.before[TuneGain::KVP] > 0;

    // 1. Towards the target: every lowering is tried once, and the one that helps most is
    // followed while it helps; only where no lowering helps is a small raise tried. A loop
    // that already overshoots may be one raise away from an alarm.
    while (!m_best->summary.clean() && !exhausted()) {
        std::optional<Trial> winner;
        Direction way {};
        for (int sign : { -1, 1 }) {
            for (const Direction &d : singles) {
                if (d.sign != sign || exhausted())
                    continue;
                const std::optional<Trial> t = tryMove(d, sign > 0 ? Fine : Lower);
                if (m_stop != Stop::None)
                    return;
                if (t
                    && better(t->summary, winner ? winner->summary : m_best->summary, tie(*t),
                              sign > 0)) {
                    winner = t;
                    way = d;
                }
            }
            if (winner)
                break;
        }
        if (!winner)
            break;
        m_best = winner;
        followWhileBetter(way, way.sign > 0 ? Fine : Lower);
    }
    if (!m_best->summary.clean())
        return;
    if (!respan())
        return;

    // 2. The stiffness sweep: KPP and KVP together while the response stays clean and
    // settles faster; then
    // 3. each gain on its own and the stiffness again, both ways, in smaller steps.
    std::vector<Direction> refine = singles;
    if (stiff) {
        followWhileBetter({ stiffness, 1 }, Raise);
        if (!respan())
            return;
        refine.push_back({ stiffness, 1 });
        refine.push_back({ stiffness, -1 });
    }
    for (double factor : { Raise, Fine }) {
        bool improved = true;
        while (improved && !exhausted() && m_stop == Stop::None) {
            improved = false;
            for (const Direction &d : refine) {
                if (followWhileBetter(d, factor))
                    improved = true;
                if (m_stop != Stop::None || exhausted())
                    return;
            }
        }
    }
}

bool Tuner::respan()
{
    // A response that settled only in a long record may now fit a shorter, finer one; the
    // best is measured again over it, so that later trials compare alike.
    const std::optional<QString> span = spanFor(*m_best);
    if (!span || span->toInt() >= m_span.toInt() || exhausted())
        return true;
    m_span = *span;
    m_tried.clear();
    const std::optional<Trial> again = measure(m_best->gains, Trial::Kind::Search);
    if (!again || m_stop != Stop::None)
        return false;
    m_best = again;
    m_tried.insert(again->gains);
    return true;
}

std::optional<QString> Tuner::spanFor(const Trial &t) const
{
    const StepFigures &up = t.up.figures;
    const StepFigures &down = t.down.figures;
    if (!up.settlingMs || !down.settlingMs)
        return std::nullopt;
    return ::spanFor(up.startMs, up.startMs + 2 * std::max(*up.settlingMs, *down.settlingMs));
}

bool Tuner::exhausted() const
{
    // One trial at least is kept for the margin.
    return m_result.trials.size() >= m_options.maxTrials - 1;
}

double Tuner::tie(const Trial &t)
{
    return t.span.toDouble() / 256;
}

std::optional<Trial> Tuner::tryMove(const Direction &d, double factor)
{
    Gains candidate = m_best->gains;
    // Once the response overshoots at all, the loop is near its limits: raise in small steps
    // only, since the next one may already trip an alarm.
    if (d.sign > 0 && m_best->summary.overshootPercent > 0)
        factor = std::min(factor, Fine);
    bool moved = false;
    for (int g : TuneGain::All) {
        if (!d.gains[g])
            continue;
        candidate[g] = std::clamp(scaledGain(candidate[g], d.sign > 0 ? factor : 1 / factor),
                                  m_lowest[g], m_highest[g]);
        moved = moved || candidate[g] != m_best->gains[g];
    }
    // Nothing new: the drive's range ends here, or this set was measured already.
    if (!moved || !m_tried.insert(candidate).second)
        return std::nullopt;
    return measure(candidate, Trial::Kind::Search);
}

bool Tuner::followWhileBetter(const Direction &d, double factor)
{
    bool improved = false;
    while (!exhausted() && m_stop == Stop::None) {
        const std::optional<Trial> t = tryMove(d, factor);
        if (!t || !better(t->summary, m_best->summary, tie(*t), d.sign > 0))
            break;
        m_best = t;
        improved = true;
    }
    return improved;
}

bool Tuner::marginHolds(const Trial &trial)
{
    Gains stiffer = trial.gains;
    for (int g : { TuneGain::KPP, TuneGain::KVP })
        stiffer[g] = std::min(scaledGain(stiffer[g], MarginFactor), m_highest[g]);
    const std::optional<Trial> t = measure(stiffer, Trial::Kind::Margin);
    if (!t || m_stop != Stop::None)
        return false;
    return marginKept(t->summary, m_options.overshootPercent);
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
        m_result.reason
            += QStringLiteral("; the gains could not be written back: %1 may be "
                              "wrong; the original values are in %2")
                   .arg(m_result.maybeWrong.join(QLatin1Char(' ')), m_options.backupPath);
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
            m_result.applied = m_result.restored = false;
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
