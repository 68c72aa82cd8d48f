// Guided tuning from the scope window: the tuner runs on this window's line, which it holds
// like a gated action from Start to its last write-back, while the window keeps repainting.
#include "Form1.h"

#include "DriveProcedures.h"
#include "MessageSink.h"
#include "ParameterMap.h"
#include "ScopeWindow.h"
#include "StepResponse.h"
#include "TuneDialog.h"
#include "VbStyle.h"
#include "Tuner.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHash>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace {
constexpr const char *GainNames[TuneGain::Count] = { "KPP", "KFV", "KVP", "KVI" };
} // namespace

void Form1::openTuneDialog()
{
    if (!m_tuneDialog) {
        m_tuneDialog = new TuneDialog(this);
        // Start needs the line: it waits as a click on this window would.
        connect(m_tuneDialog, &TuneDialog::startClicked, this,
                [this] { m_gate.call([this] { startTuning(); }); });
        connect(m_tuneDialog, &TuneDialog::abortClicked, this, [this] {
            if (!m_tuning)
                return;
            m_tuneAbort = true;
            m_tuneDialog->setStatus(QStringLiteral("Aborting: the original gains go back..."));
        });
        connect(m_tuneDialog, &TuneDialog::keepClicked, this,
                [this] { m_gate.call([this] { keepTunedGains(); }); });
        connect(m_tuneDialog, &TuneDialog::restoreClicked, this,
                [this] { m_gate.call([this] { restoreOriginalGains(); }); });
        connect(m_tuneDialog, &TuneDialog::browseClicked, this, [this] {
            const QString file = m_fileDialogs->saveFileName(
                QStringLiteral("Backup of the parameters as found"), m_tuneDialog->backupPath(),
                QStringLiteral("VCM parameter sets (*.vcmpar);;All files (*)"));
            if (!file.isEmpty())
                m_tuneDialog->setBackupPath(file);
        });
    }
    // Where the actuator stands, as the last poll read it.
    bool read = false;
    const double pcmd = txtRG[1]->text().toDouble(&read);
    m_tuneDialog->setPosition(read ? std::optional<double>(pcmd) : std::nullopt);
    if (!m_tuning && m_tuneDialog->backupPath().isEmpty()) {
        m_autoBackupPath = defaultBackupPath();
        m_tuneDialog->setBackupPath(m_autoBackupPath);
    }
    m_tuneDialog->show();
    m_tuneDialog->raise();
    m_tuneDialog->activateWindow();
}

TuneDialog *Form1::tuneDialog() const
{
    return m_tuneDialog;
}

QString Form1::defaultBackupPath() const
{
    return QDir(lastFileFolder())
        .filePath(
            QStringLiteral("station%1-%2.vcmpar")
                .arg(m_selectedStation.value_or(0))
                .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
}

QCoro::Task<> Form1::startTuning()
{
    if (m_tuning || !m_tuneDialog)
        co_return;
    if (!m_selectedStation || !m_portOpen) {
        m_tuneDialog->setStatus(
            QStringLiteral("Not started: no drive is selected. Nothing was written."));
        co_return;
    }
    const auto tuned = m_tuneDialog->options(0).tuned;
    if (std::none_of(tuned.begin(), tuned.end(), [](bool t) { return t; })) {
        m_tuneDialog->setStatus(QStringLiteral("Not started: tick at least one gain to change."));
        co_return;
    }
    if (deferWhilePolling(ActionTune)) {
        m_tuneDialog->setStatus(QStringLiteral("Waiting for the poll in progress to end..."));
        co_return;
    }
    auto task = runTuning();
    co_await task;
}

QCoro::Task<> Form1::runTuning()
{
    const EntryGate::Hold hold(m_gate);
    TuneOptions options = m_tuneDialog->options(*m_selectedStation);
    // A name made for an earlier run gets this run's time; one the operator typed is kept, but
    // a backup is never written over unasked: it may hold the only copy of the gains as found.
    if (options.backupPath.isEmpty() || options.backupPath == m_autoBackupPath) {
        m_autoBackupPath = defaultBackupPath();
        m_tuneDialog->setBackupPath(m_autoBackupPath);
        options.backupPath = m_autoBackupPath;
    } else if (QFileInfo::exists(options.backupPath)
               && !m_messages.Confirm(QStringLiteral("The backup file %1 exists already, maybe "
                                                     "from an earlier run. Write over it?")
                                          .arg(options.backupPath),
                                      QStringLiteral("Write over it"))) {
        m_tuneDialog->setStatus(QStringLiteral("Not started: the backup file exists; choose "
                                               "another one (Browse...). Nothing was written."));
        UnlockButtons();
        co_return;
    }

    // A box edit still waiting for its read-back timer would write its gain after the run, over
    // the tuned or restored one: it is dropped, and the box stays red.
    QStringList dropped;
    for (const auto &[array, timer] : { std::pair { BoxArray::KG, Timer2 },
                                        std::pair { BoxArray::POS, Timer3 },
                                        std::pair { BoxArray::VG, Timer4 } }) {
        if (!timer->isActive())
            continue;
        timer->stop();
        dropped << ParameterMap::name({ array, pendingEdit(array).EditIndex });
    }

    // The buttons are locked (deferWhilePolling); RESET, the recorder's boxes and the parameter
    // boxes would interrupt the run or change the drive under it.
    Timer1->stop();
    ScopeRunning = false;
    QList<QPair<QWidget *, bool>> held;
    for (QWidget *w : std::initializer_list<QWidget *> { Command1, FrameParaAdj, FrameScope[0],
                                                         FrameMotion, FrameCmdSource }) {
        held.append({ w, w->isEnabledTo(w->parentWidget()) });
        w->setEnabled(false);
    }
    m_tuning = true;
    m_tuneAbort = false;
    m_tuneDialog->clearTrials();
    m_tuneDialog->setRunning(true);
    m_tuneDialog->setStatus(
        (dropped.isEmpty() ? QString()
                           : QStringLiteral("Not written, and dropped: the edit of %1 that waited "
                                            "for the poll (type it again after the run).\n")
                                 .arg(dropped.join(QStringLiteral(", "))))
        + QStringLiteral("Reading the drive's state and parameters..."));

    // Each trial measures the way out, then the way back: only the way out is drawn, so that
    // the response and the reference (the best trial so far) run the same way.
    QHash<int, Capture> outward;
    std::optional<Capture> thisTrial;
    int steps = 0;
    bool captured = false;
    std::optional<TrialSummary> best;
    const auto showCapture = [&](const Capture &c) {
        captured = true;
        if (!isStepPair(c.first, c.second) || steps++ % 2 != 0)
            return;
        thisTrial = c;
        if (m_scopeWindow) {
            m_scopeWindow->showRecord(c.record, c.shape, c.spanMs, c.first, c.second);
            // The step, a few counts on a position of thousands, fills the plot.
            m_scopeWindow->fitValues();
        }
    };
    const auto showTrial = [&](const Trial &t) {
        steps = 0;
        const bool isBest = thisTrial && t.kind != Trial::Kind::Margin
            && (!best || better(t.summary, *best, t.span.toDouble() / 256));
        if (thisTrial)
            outward.insert(t.number, *std::exchange(thisTrial, std::nullopt));
        if (isBest) {
            best = t.summary;
            if (m_scopeWindow)
                m_scopeWindow->holdReference();
        }
        m_tuneDialog->addTrial(t, isBest);
        if (!m_tuneAbort)
            m_tuneDialog->setStatus(QStringLiteral("Trial %1: %2")
                                        .arg(t.number)
                                        .arg(shortfallText(t.summary.shortfall)));
    };
    // The whole run is one job on the line; what it measures is shown as it comes. The locals
    // above live until the run has ended, and what the line hands over is drawn before that.
    auto lineJob = m_line->run([&, options](DriveProcedures &drive) {
        Tuner tuner(drive, options);
        tuner.onCapture = [&](const Capture &c) { m_line->toWindow([&, c] { showCapture(c); }); };
        tuner.onTrial = [&](const Trial &t) { m_line->toWindow([&, t] { showTrial(t); }); };
        // A line that fails is the tuner's to find out: it then says the drive stopped answering.
        tuner.abortRequested = [this] { return m_tuneAbort.load(); };
        // Abort also ends the exchange or wait in flight, but never the write-back.
        const LineHooks lineHooks = drive.hooks();
        LineHooks hooks = lineHooks;
        hooks.stopRequested = [&] {
            return !tuner.writingBack()
                && (m_tuneAbort.load() || (lineHooks.stopRequested && lineHooks.stopRequested()));
        };
        drive.setHooks(hooks);
        const TuneResult r = tuner.run();
        drive.setHooks(lineHooks);
        return r;
    });
    const TuneResult result = co_await lineJob;
    m_tuning = false;

    // The end shows the start's response as the reference under the chosen one.
    if (m_scopeWindow && result.first && result.best && outward.contains(result.first->number)
        && outward.contains(result.best->number)) {
        const Capture &a = outward[result.first->number];
        const Capture &b = outward[result.best->number];
        m_scopeWindow->showRecord(a.record, a.shape, a.spanMs, a.first, a.second);
        m_scopeWindow->holdReference();
        m_scopeWindow->showRecord(b.record, b.shape, b.spanMs, b.first, b.second);
        m_scopeWindow->fitValues();
    }
    // The boxes show the gains in force, as the run read them back at its end.
    for (int g = 0; g < TuneGain::Count && result.finalSet; ++g) {
        const std::optional<std::int16_t> value
            = result.finalSet->values[std::size_t(ParameterMap::ordinal({ BoxArray::KG, g }))];
        if (!value)
            continue;
        txtKG[g]->setText(QString::number(*value));
        setForeColor(txtKG[g], vbColor(0x000000));
    }

    for (const auto &[w, enabled] : held)
        w->setEnabled(enabled);
    if (captured) {
        // The recorder holds the tuner's set-up now, not the one Start would decode with.
        m_setupValid = false;
        StartWasEnabled = false;
        StopWasEnabled = false;
    }
    UnlockButtons();
    m_originalGains.reset();
    if (!result.trials.isEmpty() || result.restored || result.applied) {
        m_originalGains = result.before;
        m_tunedGains = options.tuned;
        m_tunedStation = *m_selectedStation;
    }
    m_tuneDialog->setRunning(false);
    m_tuneDialog->showResult(result, captured);

    if (m_closeAfterTune) {
        // What came of the write-back is said before the window goes, whatever it was.
        m_messages.MsgBox(QStringLiteral("Tuning ended as the console closes.\r\n")
                          + m_tuneDialog->statusText());
        m_closeWhenIdle = true;
        co_return;
    }
    if (m_portOpen)
        ResumePolling();
}

QCoro::Task<> Form1::keepTunedGains()
{
    if (m_tuning || !m_tuneDialog)
        co_return;
    m_tuneDialog->closeChoice();
    m_tuneDialog->setStatus(m_tuneDialog->statusText()
                            + QStringLiteral("\nKept. The boxes show what the drive holds "
                                             "(LOAD); SAVE keeps it over a power cycle."));
    auto task = cmdRead_Click();
    co_await task;
}

QCoro::Task<> Form1::restoreOriginalGains()
{
    if (m_tuning || !m_tuneDialog || !m_originalGains)
        co_return;
    // The gains belong to the drive that was tuned; another one must not get them.
    if (!m_portOpen || m_selectedStation != m_tunedStation) {
        m_tuneDialog->setStatus(
            m_tuneDialog->statusText()
            + QStringLiteral("\nNot restored: station %1 is no longer selected. "
                             "The original values are in %2")
                  .arg(m_tunedStation)
                  .arg(m_tuneDialog->backupPath()));
        m_tuneDialog->closeChoice();
        co_return;
    }
    if (deferWhilePolling(ActionRestoreGains))
        co_return;
    const EntryGate::Hold hold(m_gate);

    // The gains the run could change, written back as a set with their echoes.
    ParameterSet originals;
    for (int g = 0; g < TuneGain::Count; ++g) {
        if (m_tunedGains[g])
            originals.values[std::size_t(ParameterMap::ordinal({ BoxArray::KG, g }))]
                = (*m_originalGains)[g];
    }
    auto lineJob = m_line->run([originals](DriveProcedures &drive) {
        QList<ParameterWrite> done;
        drive.writeSet(originals, [&done](const ParameterWrite &w) { done << w; });
        return done;
    });
    const QList<ParameterWrite> written = co_await lineJob;
    QStringList confirmed;
    QStringList differently;
    QStringList notWritten;
    for (int g = 0; g < TuneGain::Count; ++g) {
        if (!m_tunedGains[g])
            continue;
        const QString name = QLatin1String(GainNames[g]);
        const std::int16_t value = (*m_originalGains)[g];
        const int ordinal = ParameterMap::ordinal({ BoxArray::KG, g });
        const auto w
            = std::find_if(written.cbegin(), written.cend(),
                           [ordinal](const ParameterWrite &p) { return p.ordinal == ordinal; });
        if (w == written.cend())
            notWritten << name;
        else if (w->echo == WriteEcho::Confirmed)
            confirmed << QStringLiteral("%1=%2").arg(name).arg(value);
        else
            differently << QStringLiteral("%1 sent %2, held %3")
                               .arg(name)
                               .arg(value)
                               .arg(w->held.isEmpty() ? QStringLiteral("?") : w->held.trimmed());
    }
    UnlockButtons();

    QStringList report;
    if (!confirmed.isEmpty())
        report << QStringLiteral("Restored, confirmed by the drive: ") + confirmed.join(' ');
    if (!differently.isEmpty())
        report << QStringLiteral("Held differently: ") + differently.join(QStringLiteral(", "));
    if (!notWritten.isEmpty())
        report << QStringLiteral("No answer; not restored: %1. The original values are in %2")
                      .arg(notWritten.join(' '), m_tuneDialog->backupPath());
    m_tuneDialog->closeChoice(!differently.isEmpty() || !notWritten.isEmpty());
    m_tuneDialog->showRestored(report.join(QLatin1Char('\n')));
    // The boxes show what the drive holds now.
    if (confirmed.size() + differently.size() == 0)
        co_return;
    auto task = cmdRead_Click();
    co_await task;
}
