#include "TuneDialog.h"

#include "ParameterMap.h"
#include "TuneReport.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
constexpr const char *GainNames[TuneGain::Count] = { "KPP", "KFV", "KVP", "KVI" };
enum Column { Number, FirstGain, Span = FirstGain + TuneGain::Count, Overshoot, Settling, Verdict };

QString pair(const StepCheck &out, const StepCheck &back, bool settling)
{
    const auto one = [settling](const StepCheck &c) {
        if (!c.figures.ok())
            return QStringLiteral("–");
        if (!settling)
            return QString::number(c.figures.overshootPercent, 'f', 1);
        return c.figures.settlingMs ? QString::number(*c.figures.settlingMs, 'f', 1)
                                    : QStringLiteral("none");
    };
    return one(out) + QStringLiteral(" / ") + one(back);
}
} // namespace

TuneDialog::TuneDialog(QWidget *parent)
    : QDialog(parent),
      m_step(new QSpinBox(this)),
      m_overshoot(new QDoubleSpinBox(this)),
      m_backup(new QLineEdit(this)),
      m_browse(new QPushButton(QStringLiteral("&Browse..."), this)),
      m_start(new QPushButton(QStringLiteral("&Start"), this)),
      m_abort(new QPushButton(QStringLiteral("&Abort"), this)),
      m_table(new QTableWidget(0, Verdict + 1, this)),
      m_status(new QLabel(this)),
      m_keep(new QPushButton(QStringLiteral("&Keep tuned gains"), this)),
      m_restore(new QPushButton(QStringLiteral("&Restore original gains"), this))
{
    setWindowTitle(QStringLiteral("Guided tuning"));
    resize(780, 660);

    m_step->setRange(1, 32767);
    m_step->setValue(TuneOptions().step);
    m_step->setSuffix(QStringLiteral(" counts"));
    m_overshoot->setRange(0.5, 50);
    m_overshoot->setDecimals(1);
    m_overshoot->setValue(TuneOptions().overshootPercent);
    m_overshoot->setSuffix(QStringLiteral(" %"));
    auto *gains = new QHBoxLayout;
    for (int g = 0; g < TuneGain::Count; ++g) {
        m_gains[g] = new QCheckBox(QLatin1String(GainNames[g]), this);
        m_gains[g]->setChecked(TuneOptions().tuned[g]);
        gains->addWidget(m_gains[g]);
    }
    gains->addStretch();
    m_backup->setToolTip(QStringLiteral("The 25 parameters as found are written here first"));

    m_backup->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 60);
    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    form->addRow(QStringLiteral("Step"), m_step);
    form->addRow(QStringLiteral("Overshoot target"), m_overshoot);
    form->addRow(QStringLiteral("Gains to change"), gains);
    auto *backup = new QHBoxLayout;
    backup->addWidget(m_backup, 1);
    backup->addWidget(m_browse);
    form->addRow(QStringLiteral("Backup file"), backup);

    QStringList headers { QStringLiteral("Trial") };
    for (const char *name : GainNames)
        headers << QLatin1String(name);
    headers << QStringLiteral("Span ms") << QStringLiteral("Overshoot % out / back")
            << QStringLiteral("Settling ms out / back") << QStringLiteral("Verdict");
    m_table->setHorizontalHeaderLabels(headers);
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    // Every column as wide as its texts, the verdicts included; a scroll bar rather than a cut.
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(false);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_table->setWordWrap(false);

    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *runButtons = new QHBoxLayout;
    runButtons->addWidget(m_start);
    runButtons->addWidget(m_abort);
    runButtons->addStretch();
    runButtons->addWidget(m_keep);
    runButtons->addWidget(m_restore);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_status);
    layout->addLayout(runButtons);

    m_abort->setEnabled(false);
    m_keep->setEnabled(false);
    m_restore->setEnabled(false);
    m_start->setDefault(true);
    connect(m_start, &QPushButton::clicked, this, &TuneDialog::startClicked);
    connect(m_browse, &QPushButton::clicked, this, &TuneDialog::browseClicked);
    // The description follows the options until a run starts.
    connect(m_step, &QSpinBox::valueChanged, this, &TuneDialog::describe);
    for (QCheckBox *box : m_gains)
        connect(box, &QCheckBox::toggled, this, &TuneDialog::describe);
    describe();
    connect(m_abort, &QPushButton::clicked, this, &TuneDialog::abortClicked);
    connect(m_keep, &QPushButton::clicked, this, &TuneDialog::keepClicked);
    connect(m_restore, &QPushButton::clicked, this, &TuneDialog::restoreClicked);
}

TuneOptions TuneDialog::options(int station) const
{
    TuneOptions o;
    o.step = m_step->value();
    o.overshootPercent = m_overshoot->value();
    for (int g = 0; g < TuneGain::Count; ++g)
        o.tuned[g] = m_gains[g]->isChecked();
    o.backupPath = m_backup->text().trimmed();
    o.station = station;
    return o;
}

void TuneDialog::setPosition(std::optional<double> pcmd)
{
    m_position = pcmd;
    describe();
}

QString TuneDialog::runDescription() const
{
    QStringList gains;
    for (int g = 0; g < TuneGain::Count; ++g) {
        if (m_gains[g]->isChecked())
            gains << QLatin1String(GainNames[g]);
    }
    const QString written = gains.isEmpty()
        ? QStringLiteral("no gain (tick at least one)")
        : gains.size() == 1 ? gains.first()
                            : gains.mid(0, gains.size() - 1).join(QStringLiteral(", "))
                + QStringLiteral(" and ") + gains.last();
    const int step = m_step->value();
    const QString travel = m_position
        ? QStringLiteral("from where it stands (PCMD %1) to %2 and back, or to %3 where %2 "
                         "would pass the travel limit VPK")
              .arg(*m_position)
              .arg(*m_position + step)
              .arg(*m_position - step)
        : QStringLiteral("from where it stands to %1 counts beyond it and back (or short of it "
                         "near the travel limit VPK)")
              .arg(step);
    return QStringLiteral(
               "Start writes %1, and UP0, the up/down target its test motions go through: the "
               "actuator moves %2, twice a trial. A run takes about one to three minutes (at "
               "most %3 trials of a few seconds each). At the end UP0 and the actuator go back "
               "to where they were. Nothing is saved in the drive: SAVE stays yours.\n"
               "The drive must be in up/down mode with the servo on, DI1 off and no alarm.")
        .arg(written, travel)
        .arg(TuneOptions().maxTrials);
}

void TuneDialog::describe()
{
    if (!m_running && m_table->rowCount() == 0)
        m_status->setText(runDescription());
}

void TuneDialog::setBackupPath(const QString &path)
{
    m_backup->setText(path);
}

QString TuneDialog::backupPath() const
{
    return m_backup->text().trimmed();
}

void TuneDialog::setRunning(bool running)
{
    m_running = running;
    for (QWidget *w :
         std::initializer_list<QWidget *> { m_step, m_overshoot, m_backup, m_browse, m_start })
        w->setEnabled(!running);
    for (QCheckBox *box : m_gains)
        box->setEnabled(!running);
    m_abort->setEnabled(running);
    if (running)
        closeChoice();
}

void TuneDialog::setStatus(const QString &text)
{
    m_status->setText(text);
}

QString TuneDialog::statusText() const
{
    return m_status->text();
}

void TuneDialog::clearTrials()
{
    m_table->setRowCount(0);
    m_bestRow = -1;
}

void TuneDialog::addTrial(const Trial &t, bool best)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    QString number = QString::number(t.number);
    if (t.kind == Trial::Kind::Start)
        number += QStringLiteral(" start");
    else if (t.kind == Trial::Kind::Margin)
        number += QStringLiteral(" margin");
    QStringList cells { number };
    for (std::int16_t g : t.gains)
        cells << QString::number(g);
    cells << t.span << pair(t.up, t.down, false) << pair(t.up, t.down, true)
          << shortfallText(t.summary.shortfall);
    for (int c = 0; c < cells.size(); ++c) {
        auto *item = new QTableWidgetItem(cells[c]);
        if (c != Verdict)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_table->setItem(row, c, item);
    }
    // One row in bold: the best so far, the one held as the scope's reference.
    if (best)
        markBest(row);
    m_table->scrollToBottom();
}

void TuneDialog::markBest(int row)
{
    for (int r : { m_bestRow, row }) {
        for (int c = 0; r >= 0 && c <= Verdict; ++c) {
            QFont font = m_table->item(r, c)->font();
            font.setBold(r == row);
            m_table->item(r, c)->setFont(font);
        }
    }
    m_bestRow = row;
}

void TuneDialog::showResult(const TuneResult &r, bool recorderChanged)
{
    using Outcome = TuneResult::Outcome;
    std::array<bool, TuneGain::Count> shown {};
    for (int g = 0; g < TuneGain::Count; ++g)
        shown[g] = m_gains[g]->isChecked() || r.before[g] != r.tuned[g];
    const bool started = !r.trials.isEmpty() || r.restored || r.applied;

    QStringList lines;
    if (!started) {
        lines << (r.place.moved
                      ? QStringLiteral("Not started: %1. No gain was written.").arg(r.reason)
                      : QStringLiteral("Not started: %1. Nothing was written.").arg(r.reason));
    } else {
        if (r.outcome == Outcome::Tuned)
            lines << QStringLiteral("Target met after %1 trials.").arg(r.trials.size());
        else
            lines << QStringLiteral("Stopped after %1 trials: %2.")
                         .arg(r.trials.size())
                         .arg(r.reason.isEmpty() ? QStringLiteral("target not met") : r.reason);
        if (r.best)
            lines << resultLines(r, shown);
        m_inForceLine = -1;
        if (r.applied) {
            m_inForceLine = int(lines.size());
            lines << QStringLiteral(
                "The tuned gains are in force, not saved: keep them (SAVE makes "
                "the drive hold them over a power cycle), or restore the "
                "original gains.");
        } else if (r.restored) {
            lines << QStringLiteral("The original gains were written back.");
        }
        Gains held {};
        for (int g = 0; g < TuneGain::Count && r.finalSet; ++g)
            held[g] = r.finalSet->values[std::size_t(ParameterMap::ordinal({ BoxArray::KG, g }))]
                          .value_or(-1);
        lines << (r.finalSet
                      ? QStringLiteral("Read back from the drive: %1.").arg(gainText(held, shown))
                      : QStringLiteral("The gains in force were not read back."));
        lines << QStringLiteral("Backup of the parameters as found: %1").arg(backupPath());
        if (recorderChanged)
            lines << QStringLiteral("The recorder was set up for the tuner's captures: press Setup "
                                    "before Start.");
    }
    // Where the actuator stands and what the figures could not show, as the tool says it.
    for (QString line : endLines(r)) {
        line[0] = line[0].toUpper();
        lines << line + QLatin1Char('.');
    }
    m_resultLines = lines;
    m_status->setText(lines.join(QLatin1Char('\n')));
    // In the end the bold row is the set the tuner chose, which passed its margin check.
    for (int row = 0; r.best && row < m_table->rowCount(); ++row) {
        if (m_table->item(row, Number)->text().section(QLatin1Char(' '), 0, 0).toInt()
            == r.best->number) {
            markBest(row);
            m_table->scrollToItem(m_table->item(row, Number));
        }
    }
    m_keep->setEnabled(r.applied);
    // Also after a write-back that failed: the operator may try again.
    m_restore->setEnabled(r.applied || (started && !r.restored));
}

void TuneDialog::closeChoice(bool restoreAgain)
{
    m_keep->setEnabled(false);
    m_restore->setEnabled(restoreAgain);
}

void TuneDialog::showRestored(const QString &report)
{
    QStringList lines = m_resultLines;
    if (m_inForceLine >= 0 && m_inForceLine < lines.size())
        lines[m_inForceLine] = report;
    else
        lines << report;
    m_resultLines = lines;
    m_inForceLine = -1;
    m_status->setText(lines.join(QLatin1Char('\n')));
}

bool TuneDialog::choiceOpen() const
{
    return m_keep->isEnabledTo(this);
}

// Esc and the window's close button: QDialog's close goes through here too.
void TuneDialog::reject()
{
    // The run ends with the original gains written back; the dialog stays to say so.
    if (m_running) {
        emit abortClicked();
        return;
    }
    // Closing without a choice keeps the gains in force; the boxes must show them.
    if (choiceOpen())
        emit keepClicked();
    QDialog::reject();
}
