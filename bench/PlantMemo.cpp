#include "PlantMemo.h"

#include "FamilyRig.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

namespace {
// Raised by hand when the plants change in a way that their descriptions do not show, or
// the rig does.
constexpr int MemoVersion = 3;

QString number(double v)
{
    return QString::number(v, 'g', 9);
}

QString figuresText(const StepCheck &c)
{
    const StepFigures &f = c.figures;
    return QStringList { QString::number(int(f.verdict)),
                         number(f.startMs),
                         number(f.from),
                         number(f.to),
                         number(f.riseMs.value_or(-1)),
                         number(f.overshootPercent),
                         number(f.settlingMs.value_or(-1)),
                         number(f.band),
                         number(f.noise),
                         QString::number(f.settled),
                         QString::number(f.trustworthy),
                         number(c.largestError),
                         QString::number(c.bandExits) }
        .join(QLatin1Char(','));
}

QString plantText(std::uint32_t seed)
{
    return QString::fromStdString(Plant::family(seed).describe());
}
} // namespace

int plantStep(std::optional<std::uint32_t> seed)
{
    constexpr int Least = 200;
    constexpr int Round = 100;
    QTemporaryDir dir;
    FamilyRig rig(seed, { 250, 50, 100, 100 }); // the drive's defaults
    TuneOptions options;
    options.step = Least;
    options.backupPath = dir.filePath(QStringLiteral("step.vcmpar"));
    Tuner tuner(rig.drive, options);
    tuner.start();
    return std::max(Least, (tuner.leastStep() + Round - 1) / Round * Round);
}

Measured measureSet(std::optional<std::uint32_t> seed, const Gains &gains, int step,
                    const QString &backupPath, int repeat, std::optional<Trial> *trial)
{
    FamilyRig rig(seed, gains, repeat);
    TuneOptions options;
    options.step = step;
    options.backupPath = backupPath;
    options.station = FamilyRig::Station;
    Tuner tuner(rig.drive, options);
    Measured m;
    std::optional<Trial> t;
    // A start the tool refuses only because the feedback at these gains is too noisy for the
    // plant's step is measured all the same: a run judges its sets by their steps, and checks
    // the noise only at its start.
    if (tuner.start() || tuner.leastStep() > step) {
        tuner.setSpan(QString::fromLatin1(GridSpan));
        t = tuner.measure(gains, Trial::Kind::Search);
    }
    if (t) {
        m.shortfall = t->summary.shortfall;
        m.settlingMs = t->summary.settlingMs;
        m.riseMs = t->summary.riseMs;
        m.overshootPercent = t->summary.overshootPercent;
    }
    // A set that trips an alarm while the drive settles on it is refused at the start.
    m.alarm = rig.station().alarms() != 0 || m.shortfall == Shortfall::Alarm;
    if (m.alarm)
        m.shortfall = Shortfall::Alarm;
    if (trial)
        *trial = t;
    return m;
}

QString measuringKey()
{
    QTemporaryDir dir;
    const QString backup = dir.filePath(QStringLiteral("probe.vcmpar"));
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QByteArray::number(MemoVersion));
    for (int s = int(Shortfall::None); s <= int(Shortfall::Alarm); ++s)
        hash.addData(shortfallText(Shortfall(s)).toUtf8());
    // Sets that settle, overshoot, ring, creep and trip an alarm, on the default plant and on
    // two family plants (one with a load, one without).
    const Gains probes[] = { { 250, 50, 100, 100 },
                             { 1000, 50, 100, 100 },
                             { 250, 50, 20, 100 },
                             { 3000, 50, 100, 100 },
                             { 250, 50, 100, 4 } };
    for (const std::optional<std::uint32_t> seed :
         { std::optional<std::uint32_t>(), std::optional<std::uint32_t>(1),
           std::optional<std::uint32_t>(2) }) {
        for (const Gains &gains : probes) {
            std::optional<Trial> t;
            const Measured m = measureSet(seed, gains, plantStep(seed), backup, 0, &t);
            QStringList text { QString::number(int(m.shortfall)), number(m.settlingMs),
                               QString::number(m.alarm) };
            if (t)
                text << t->span << number(t->holdSpread) << figuresText(t->up)
                     << figuresText(t->down);
            hash.addData(text.join(QLatin1Char(';')).toUtf8());
        }
    }
    return QString::fromLatin1(hash.result().toHex().left(16));
}

PlantMemo::PlantMemo(std::uint32_t seed, const QString &folder, const QString &key)
    : m_seed(seed), m_step(plantStep(seed)), m_folder(folder)
{
    // The plant as described and its step belong to the key: a plant that changed is measured
    // anew.
    m_key = key + QLatin1Char('-')
        + QString::fromLatin1(
                QCryptographicHash::hash(plantText(seed).toUtf8(), QCryptographicHash::Sha1)
                    .toHex()
                    .left(8))
        + QStringLiteral("-step%1").arg(m_step);
    load();
}

QString PlantMemo::path() const
{
    return QDir(m_folder).filePath(QStringLiteral("plant-%1.json").arg(m_seed));
}

void PlantMemo::load()
{
    if (m_folder.isEmpty())
        return;
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    if (root.value(QStringLiteral("key")).toString() != m_key)
        return;
    for (const QJsonValue &v : root.value(QStringLiteral("sets")).toArray()) {
        const QJsonArray a = v.toArray();
        if (a.size() != 9 && a.size() != 10) // 9: the first repeat, from before there were more
            continue;
        Gains g {};
        for (int i = 0; i < TuneGain::Count; ++i)
            g[std::size_t(i)] = std::int16_t(a[i].toInt());
        Measured m;
        m.shortfall = Shortfall(std::clamp(a[4].toInt(), 0, int(Shortfall::Alarm)));
        m.settlingMs = a[5].toDouble();
        m.riseMs = a[6].toDouble();
        m.overshootPercent = a[7].toDouble();
        m.alarm = a[8].toBool();
        m_sets[{ g, a.size() == 10 ? a[9].toInt() : 0 }] = m;
    }
    m_cached = int(m_sets.size());
}

bool PlantMemo::save() const
{
    if (m_folder.isEmpty())
        return true;
    QJsonArray sets;
    for (const auto &[at, m] : m_sets) {
        const Gains &g = at.first;
        sets.append(QJsonArray { g[0], g[1], g[2], g[3], int(m.shortfall), m.settlingMs, m.riseMs,
                                 m.overshootPercent, m.alarm, at.second });
    }
    QJsonObject root;
    root.insert(QStringLiteral("key"), m_key);
    root.insert(QStringLiteral("plant"), plantText(m_seed));
    root.insert(QStringLiteral("sets"), sets);
    QDir().mkpath(m_folder);
    QSaveFile file(path());
    return file.open(QIODevice::WriteOnly)
        && file.write(QJsonDocument(root).toJson(QJsonDocument::Compact)) >= 0 && file.commit();
}

Measured PlantMemo::measure(const Gains &gains, int repeat)
{
    const auto at = m_sets.find({ gains, repeat });
    if (at != m_sets.end())
        return at->second;
    const Measured m = measureSet(m_seed, gains, m_step,
                                  m_scratch.filePath(QStringLiteral("backup.vcmpar")), repeat);
    m_sets.emplace(std::make_pair(gains, repeat), m);
    ++m_measuredNow;
    return m;
}

Measured PlantMemo::robust(const Gains &gains)
{
    std::vector<Measured> each;
    for (int r = 0; r < Repeats; ++r)
        each.push_back(measure(gains, r));
    return combined(each);
}

Measured combined(const std::vector<Measured> &each)
{
    Measured c;
    if (each.empty())
        return c;
    std::vector<double> settling, rise;
    c.shortfall = Shortfall::None;
    for (const Measured &m : each) {
        settling.push_back(m.settlingMs);
        rise.push_back(m.riseMs);
        c.overshootPercent = std::max(c.overshootPercent, m.overshootPercent);
        c.alarm = c.alarm || m.alarm;
        // Any shortfall but overshoot outweighs overshoot, and the first one found stands.
        if (m.shortfall != Shortfall::None
            && (c.shortfall == Shortfall::None || c.shortfall == Shortfall::Overshoot))
            c.shortfall = m.shortfall;
    }
    if (c.alarm)
        c.shortfall = Shortfall::Alarm;
    const auto middle = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    c.settlingMs = middle(settling);
    c.riseMs = middle(rise);
    return c;
}
