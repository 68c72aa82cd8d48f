// vcm-tool tune: the tuner's trials as they come, its result, and the exit code for it.
#include "ToolSession.h"

#include "TuneReport.h"

#include <QFileDevice>

using namespace ToolExit;

int ToolSession::tune(const TuneOptions &options, QIODevice *log, QIODevice *to)
{
    // The margin check changes KPP and KVP whatever is tuned, so both are always shown.
    std::array<bool, TuneGain::Count> shown = options.tuned;
    shown[TuneGain::KPP] = shown[TuneGain::KVP] = true;

    QString logError;
    const auto logged = [&](const QString &text) {
        if (!log || !logError.isEmpty())
            return;
        auto *file = qobject_cast<QFileDevice *>(log);
        if (log->write(text.toUtf8()) < 0 || (file && !file->flush()))
            logError = log->errorString();
    };
    logged(trialCsvHeader());

    Tuner tuner(m_drive, options);
    tuner.onTrial = [&](const Trial &t) {
        if (!m_json) {
            m_out << trialLine(t, shown) << '\n';
            m_out.flush();
        }
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
        exit = Output;
        break;
    }

    if (m_json) {
        printJson(resultJson(r));
    } else if (!r.trials.isEmpty()) {
        for (const QString &line : resultLines(r, shown))
            m_out << line << '\n';
        if (r.applied)
            m_out << "the tuned gains are in force" << (r.saved ? " and saved" : "") << '\n';
        else if (r.restored)
            m_out << "the original gains are in force again\n";
    }
    if (exit != Done)
        m_err << "vcm-tool: tune: " << r.reason << '\n';
    if (!logError.isEmpty()) {
        m_err << "vcm-tool: cannot write the log: " << logError << '\n';
        exit = exit == Done ? Output : exit;
    }
    if (exit == Done && to && r.finalSet) {
        ParameterSet tuned = *r.finalSet;
        const int written
            = deliver(formatParameterSet(tuned, options.station, QDateTime::currentDateTime()), to);
        if (written != Done)
            exit = written;
    }
    return exit;
}
