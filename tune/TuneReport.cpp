#include "TuneReport.h"

#include <QJsonArray>

namespace {
constexpr const char *GainNames[TuneGain::Count] = { "KPP", "KFV", "KVP", "KVI" };

QString ms(const std::optional<double> &v)
{
    return v ? QString::number(*v, 'f', 1) + QStringLiteral(" ms") : QStringLiteral("–");
}

QString kindName(Trial::Kind kind)
{
    switch (kind) {
    case Trial::Kind::Start:
        return QStringLiteral("start");
    case Trial::Kind::Search:
        return QStringLiteral("search");
    case Trial::Kind::Margin:
        return QStringLiteral("margin");
    }
    return QString();
}

QString direction(const StepCheck &c)
{
    const StepFigures &f = c.figures;
    if (!f.ok())
        return QStringLiteral("no step");
    return QStringLiteral("rise %1, overshoot %2 %, settling %3")
        .arg(ms(f.riseMs), QString::number(f.overshootPercent, 'f', 1),
             f.settlingMs ? ms(f.settlingMs) : QStringLiteral("none"));
}

QJsonValue number(const std::optional<double> &v)
{
    return v ? QJsonValue(qRound(*v * 100) / 100.0) : QJsonValue();
}

QJsonObject stepJson(const StepCheck &c)
{
    const StepFigures &f = c.figures;
    return { { QStringLiteral("step"), f.ok() },
             { QStringLiteral("rise_ms"), number(f.riseMs) },
             { QStringLiteral("overshoot_percent"), number(f.overshootPercent) },
             { QStringLiteral("settling_ms"), number(f.settlingMs) },
             { QStringLiteral("largest_error"), c.largestError },
             { QStringLiteral("band_exits"), c.bandExits } };
}

QJsonObject gainsJson(const Gains &gains)
{
    QJsonObject o;
    for (int g = 0; g < TuneGain::Count; ++g)
        o.insert(QLatin1String(GainNames[g]), gains[g]);
    return o;
}

QString csvNumber(const std::optional<double> &v)
{
    return v ? QString::number(*v, 'f', 2) : QString();
}
} // namespace

QString gainText(const Gains &gains, const std::array<bool, TuneGain::Count> &shown)
{
    QStringList parts;
    for (int g = 0; g < TuneGain::Count; ++g) {
        if (shown[g])
            parts << QStringLiteral("%1=%2").arg(QLatin1String(GainNames[g])).arg(gains[g]);
    }
    return parts.join(QLatin1Char(' '));
}

QString trialLine(const Trial &t, const std::array<bool, TuneGain::Count> &shown)
{
    return QStringLiteral("trial %1 (%2, %3 ms): %4; out: %5; back: %6; %7")
               .arg(t.number)
               .arg(kindName(t.kind), t.span, gainText(t.gains, shown), direction(t.up),
                    direction(t.down), shortfallText(t.summary.shortfall))
        + (qEnvironmentVariableIsSet("TUNE_DEBUG")
               ? QStringLiteral(" [I %1 V %2 n %3/%4 ex %5/%6 miss %7 w%8 st %9]")
                     .arg(t.holdSpread)
                     .arg(t.velocitySwing)
                     .arg(t.up.figures.noise)
                     .arg(t.down.figures.noise)
                     .arg(t.up.bandExits)
                     .arg(t.down.bandExits)
                     .arg(t.summary.missPercent)
                     .arg(t.restWarning)
                     .arg(quint16(t.status), 4, 16)
               : QString());
}

QStringList resultLines(const TuneResult &r, const std::array<bool, TuneGain::Count> &shown)
{
    QStringList lines;
    QStringList gains;
    for (int g = 0; g < TuneGain::Count; ++g) {
        if (shown[g])
            gains << QStringLiteral("%1 %2 -> %3")
                         .arg(QLatin1String(GainNames[g]))
                         .arg(r.before[g])
                         .arg(r.tuned[g]);
    }
    lines << QStringLiteral("gains: ") + gains.join(QStringLiteral(", "));
    if (r.first && r.best) {
        const auto pair = [](const StepCheck &a, const StepCheck &b,
                             const std::optional<double> StepFigures::*field) {
            return ms(a.figures.*field) + QStringLiteral(" / ") + ms(b.figures.*field);
        };
        const Trial &a = *r.first;
        const Trial &b = *r.best;
        lines << QStringLiteral("settling time (out / back): %1 -> %2")
                     .arg(pair(a.up, a.down, &StepFigures::settlingMs),
                          pair(b.up, b.down, &StepFigures::settlingMs));
        lines << QStringLiteral("overshoot (out / back): %1 % / %2 % -> %3 % / %4 %")
                     .arg(a.up.figures.overshootPercent, 0, 'f', 1)
                     .arg(a.down.figures.overshootPercent, 0, 'f', 1)
                     .arg(b.up.figures.overshootPercent, 0, 'f', 1)
                     .arg(b.down.figures.overshootPercent, 0, 'f', 1);
        lines << QStringLiteral("rise time (out / back): %1 -> %2")
                     .arg(pair(a.up, a.down, &StepFigures::riseMs),
                          pair(b.up, b.down, &StepFigures::riseMs));
    }
    return lines;
}

QStringList endLines(const TuneResult &r)
{
    QStringList lines;
    const TunePlace &p = r.place;
    if (p.known && p.moved) {
        if (p.returned)
            lines << QStringLiteral("the actuator is back where it started: PCMD %1 (PFBK %2)")
                         .arg(p.home)
                         .arg(p.feedback ? QString::number(*p.feedback) : QStringLiteral("unread"));
        else if (p.command)
            lines << QStringLiteral("the actuator is NOT back where it started: PCMD %1 (PFBK "
                                    "%2), started at %3")
                         .arg(*p.command)
                         .arg(p.feedback ? QString::number(*p.feedback) : QStringLiteral("unread"))
                         .arg(p.home);
        else
            lines << QStringLiteral("where the actuator stands could not be read; it started at "
                                    "PCMD %1")
                         .arg(p.home);
        if (p.targetPutBack)
            lines << QStringLiteral("UP0 is %1 as found").arg(p.targetFound);
        else if (p.target)
            lines << QStringLiteral("UP0 holds %1, not %2 as found: the test motions go through "
                                    "UP0, and writing %2 back would move the actuator there; "
                                    "write UP0=%2 once it may go there")
                         .arg(*p.target)
                         .arg(p.targetFound);
        else
            lines << QStringLiteral("UP0 could not be read back (it was %1 as found)")
                         .arg(p.targetFound);
    }
    for (const QString &caveat : r.caveats)
        lines << QStringLiteral("caveat: ") + caveat;
    return lines;
}

QString trialCsvHeader()
{
    return QStringLiteral("trial,kind,span_ms,KPP,KFV,KVP,KVI,out_rise_ms,out_overshoot_percent,"
                          "out_settling_ms,back_rise_ms,back_overshoot_percent,back_settling_ms,"
                          "largest_error,hold_spread,status,verdict\n");
}

QString trialCsvRow(const Trial &t)
{
    QStringList cells { QString::number(t.number), kindName(t.kind), t.span };
    for (std::int16_t g : t.gains)
        cells << QString::number(g);
    for (const StepCheck *c : { &t.up, &t.down }) {
        const StepFigures &f = c->figures;
        cells << csvNumber(f.ok() ? f.riseMs : std::nullopt)
              << csvNumber(f.ok() ? std::optional<double>(f.overshootPercent) : std::nullopt)
              << csvNumber(f.ok() ? f.settlingMs : std::nullopt);
    }
    cells << QString::number(std::max(t.up.largestError, t.down.largestError))
          << (t.holdSpread < 0 ? QString() : QString::number(t.holdSpread))
          << QStringLiteral("%1").arg(quint16(t.status), 4, 16, QLatin1Char('0')).toUpper()
          << QLatin1Char('"') + shortfallText(t.summary.shortfall) + QLatin1Char('"');
    return cells.join(QLatin1Char(',')) + QLatin1Char('\n');
}

QJsonObject trialJson(const Trial &t)
{
    return { { QStringLiteral("trial"), t.number },
             { QStringLiteral("kind"), kindName(t.kind) },
             { QStringLiteral("span_ms"), t.span.toInt() },
             { QStringLiteral("gains"), gainsJson(t.gains) },
             { QStringLiteral("out"), stepJson(t.up) },
             { QStringLiteral("back"), stepJson(t.down) },
             { QStringLiteral("verdict"), shortfallText(t.summary.shortfall) },
             { QStringLiteral("meets_target"), t.summary.clean() } };
}

QJsonObject resultJson(const TuneResult &r)
{
    QJsonArray trials;
    for (const Trial &t : r.trials)
        trials.append(trialJson(t));
    QJsonObject before { { QStringLiteral("gains"), gainsJson(r.before) } };
    QJsonObject after { { QStringLiteral("gains"), gainsJson(r.after) },
                        { QStringLiteral("tuned"), gainsJson(r.tuned) } };
    if (r.first)
        before.insert(QStringLiteral("figures"), trialJson(*r.first));
    if (r.best)
        after.insert(QStringLiteral("figures"), trialJson(*r.best));
    const TunePlace &p = r.place;
    const auto optional = [](const auto &v) { return v ? QJsonValue(*v) : QJsonValue(); };
    QJsonObject o { { QStringLiteral("trials"), trials },
                    { QStringLiteral("before"), before },
                    { QStringLiteral("after"), after },
                    { QStringLiteral("applied"), r.applied },
                    { QStringLiteral("restored"), r.restored },
                    { QStringLiteral("saved"), r.saved },
                    { QStringLiteral("maybe_wrong"), QJsonArray::fromStringList(r.maybeWrong) },
                    { QStringLiteral("caveats"), QJsonArray::fromStringList(r.caveats) },
                    { QStringLiteral("reason"),
                      r.reason.isEmpty() ? QStringLiteral("target met") : r.reason } };
    if (p.known) {
        o.insert(QStringLiteral("position"),
                 QJsonObject { { QStringLiteral("started"), p.home },
                               { QStringLiteral("command"), optional(p.command) },
                               { QStringLiteral("feedback"), optional(p.feedback) },
                               { QStringLiteral("returned"), p.returned || !p.moved } });
        o.insert(QStringLiteral("motion_target"),
                 QJsonObject { { QStringLiteral("name"), QStringLiteral("UP0") },
                               { QStringLiteral("found"), p.targetFound },
                               { QStringLiteral("now"), optional(p.target) },
                               { QStringLiteral("put_back"), p.targetPutBack || !p.moved } });
    }
    return o;
}
