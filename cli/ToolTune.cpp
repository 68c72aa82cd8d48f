// vcm-tool tune: the tuner's trials as they come, its result, and the exit code for it.
#include "ToolSession.h"

#include "SerialPort.h"
#include "TuneReport.h"

#include <QDateTime>
#include <QFileDevice>

using namespace ToolExit;

int ToolSession::tune(const TuneOptions &options, QIODevice *log, QIODevice *to)
{
    // Only the gains the run may change are ever written, the margin checks' included.
    const std::array<bool, TuneGain::Count> shown = options.tuned;

    bool logLost = false;
    const auto logged = [&](const QString &text) {
        if (!log || logLost)
            return;
        const QByteArray bytes = text.toUtf8();
        auto *file = qobject_cast<QFileDevice *>(log);
        if (log->write(bytes) == bytes.size() && (!file || file->flush()))
            return;
        logLost = true;
        m_output.fileFailed(file ? file->fileName() : QStringLiteral("the log"),
                            log->errorString());
    };
    logged(trialCsvHeader());

    Tuner tuner(m_drive, options);
    tuner.onTrial = [&](const Trial &t) {
        m_output.line(trialLine(t, shown));
        logged(trialCsvRow(t));
    };
    tuner.abortRequested = [this] { return m_interrupt && m_interrupt->load(); };
    const TuneResult r = tuner.run();

    using Outcome = TuneResult::Outcome;
    int exit = Done;
    switch (r.outcome) {
    case Outcome::Tuned:
        break;
    case Outcome::NotMet:
    case Outcome::Refused:
    case Outcome::Aborted:
    case Outcome::Alarm:
        exit = Refused;
        break;
    case Outcome::NoAnswer:
        exit = NoAnswer;
        break;
    case Outcome::FileError:
        exit = OutputLost;
        break;
    }

    // A lost port ends a run wherever it comes, whatever the tuner made of it.
    const bool lost = exit != Done && !m_link.port().isUsable();
    if (lost)
        exit = NoAnswer;

    const QJsonObject json = resultJson(r);
    for (auto member = json.begin(); member != json.end(); ++member)
        m_output.insert(member.key(), member.value());
    if (!r.trials.isEmpty()) {
        for (const QString &line : resultLines(r, shown))
            m_output.line(line);
    }
    for (const QString &line : endLines(r))
        m_output.line(line);
    // Each said only once the final read-back agreed.
    if (r.applied)
        m_output.line(r.saved ? QStringLiteral("the tuned gains are in force and saved")
                              : QStringLiteral("the tuned gains are in force"));
    else if (r.restored)
        m_output.line(QStringLiteral("the gains as found are in force again"));
    QString why = r.reason;
    // Not back where it started after a run that moved it: the run did not end as it must.
    if (exit == Done && r.place.moved && !r.place.returned) {
        exit = Refused;
        why = QStringLiteral("the actuator is not back where it started");
    }
    if (lost)
        m_output.error(QStringLiteral("vcm-tool: tune: ") + m_link.port().errorString());
    else if (exit != Done)
        m_output.error(QStringLiteral("vcm-tool: tune: ") + why);
    if (exit == Done && logLost)
        exit = OutputLost;
    if (exit == Done && to && r.finalSet)
        exit = deliver(
            formatParameterSet(*r.finalSet, options.station, QDateTime::currentDateTime()), to);
    return exit;
}
