#include "ScopeWindow.h"

#include "MessageSink.h"
#include "RecordCsv.h"
#include "ScopePlot.h"
#include "VbStyle.h"

#include <QDoubleSpinBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QString swatch(quint32 bgr, const QString &name)
{
    // On black, as in the plot, so that the white DIO track shows too.
    return QStringLiteral("<span style=\"background:#000; color:%1\">&nbsp;■&nbsp;</span> %2 ")
        .arg(vbColor(bgr).name(), name.toHtmlEscaped());
}

QString legendOf(const ScopeRecord &r)
{
    QString s = swatch(PlotColor::Channel1, r.names[0]);
    if (!r.shape.dio)
        return s + swatch(PlotColor::Channel2, r.names[1]);
    return s + swatch(PlotColor::Inpos, QStringLiteral("INPOS"))
        + swatch(PlotColor::Dq0, QStringLiteral("DQ0"))
        + swatch(PlotColor::Bond, QStringLiteral("BOND"))
        + swatch(PlotColor::Di1, QStringLiteral("DI1"));
}

} // namespace

ScopeWindow::ScopeWindow(MessageSink &messages, QWidget *parent)
    : QWidget(parent, Qt::Window),
      m_messages(messages),
      m_qtFileDialogs(std::make_unique<QtFileDialogs>(this)),
      m_fileDialogs(m_qtFileDialogs.get()),
      m_plot(new ScopePlot(this)),
      m_legend(new QLabel(this)),
      m_figures(new QLabel(this)),
      m_readout(new QLabel(this)),
      m_cursors(new QLabel(this)),
      m_bandPercent(new QDoubleSpinBox(this)),
      m_bandMin(new QSpinBox(this)),
      m_clearReference(new QPushButton(this))
{
    setWindowTitle(QStringLiteral("Scope"));
    // Closing the console's window ends the program even while this one is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(1100, 620);

    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_readout->setFont(fixed);
    m_readout->setObjectName(QStringLiteral("readout"));
    m_cursors->setFont(fixed);
    m_figures->setTextFormat(Qt::RichText);
    m_figures->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_figures->setWordWrap(true);
    m_legend->setWordWrap(true);

    m_bandPercent->setRange(0.1, 50);
    m_bandPercent->setDecimals(1);
    m_bandPercent->setSingleStep(0.5);
    m_bandPercent->setValue(2);
    m_bandPercent->setSuffix(QStringLiteral(" %"));
    m_bandMin->setRange(0, 1000000);
    m_bandMin->setValue(0);

    auto *plotColumn = new QVBoxLayout;
    plotColumn->addWidget(m_plot, 1);
    plotColumn->addWidget(m_readout);
    plotColumn->addWidget(m_cursors);

    auto *band = new QHBoxLayout;
    band->addWidget(new QLabel(QStringLiteral("Settling band ±"), this));
    band->addWidget(m_bandPercent);
    band->addWidget(new QLabel(QStringLiteral("at least"), this));
    band->addWidget(m_bandMin);
    band->addStretch();

    const auto button = [this](const QString &caption, auto slot) {
        auto *b = new QPushButton(caption, this);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    m_clearReference->setText(QStringLiteral("&Clear reference"));
    m_clearReference->setEnabled(false);
    connect(m_clearReference, &QPushButton::clicked, this, &ScopeWindow::clearReference);
    auto *buttons = new QGridLayout;
    buttons->addWidget(button(QStringLiteral("&Hold as reference"), &ScopeWindow::holdReference), 0,
                       0);
    buttons->addWidget(m_clearReference, 0, 1);
    buttons->addWidget(button(QStringLiteral("&Reset zoom"), [this] { m_plot->resetZoom(); }), 1,
                       0);
    buttons->addWidget(button(QStringLiteral("Clear c&ursors"), [this] { m_plot->clearCursors(); }),
                       1, 1);
    buttons->addWidget(
        button(QStringLiteral("Save &PNG..."),
               [this] {
                   askAndSave(QStringLiteral("Save scope window"), QStringLiteral("scope.png"),
                              QStringLiteral("PNG images (*.png)"), &ScopeWindow::savePng);
               }),
        2, 0);
    buttons->addWidget(button(QStringLiteral("Save C&SV..."),
                              [this] {
                                  askAndSave(
                                      QStringLiteral("Save record"), QStringLiteral("record.csv"),
                                      QStringLiteral("CSV files (*.csv)"), &ScopeWindow::saveCsv);
                              }),
                       2, 1);
    buttons->addWidget(button(QStringLiteral("&Tune..."), &ScopeWindow::tuneRequested), 3, 0);

    auto *help = new QLabel(
        QStringLiteral("Drag: zoom into a time span; Shift+drag: time and values. Wheel: zoom "
                       "around the mouse (Shift: values too). Double-click: show all. Click: "
                       "cursor A, then B."),
        this);
    help->setWordWrap(true);

    // A panel of fixed width, so that the plot does not jump as the texts change.
    auto *panelWidget = new QWidget(this);
    panelWidget->setFixedWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 58);
    auto *panel = new QVBoxLayout(panelWidget);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->addWidget(m_legend);
    panel->addWidget(m_figures, 1);
    panel->addLayout(band);
    panel->addLayout(buttons);
    panel->addWidget(help);

    auto *layout = new QHBoxLayout(this);
    layout->addLayout(plotColumn, 1);
    layout->addWidget(panelWidget);

    m_plot->setFocusPolicy(Qt::ClickFocus);
    m_plot->setFocus();
    connect(m_plot, &ScopePlot::marksChanged, this, &ScopeWindow::updateReadout);
    connect(m_bandPercent, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &ScopeWindow::updateFigures);
    connect(m_bandMin, qOverload<int>(&QSpinBox::valueChanged), this, &ScopeWindow::updateFigures);
    updateFigures();
}

void ScopeWindow::showRecord(const Record &record, const RecordShape &shape, double spanMs,
                             const QString &first, const QString &second)
{
    m_now = ScopeRecord(record, shape, spanMs, first, second);
    updateFigures();
}

void ScopeWindow::fitValues()
{
    m_plot->fitValues();
}

void ScopeWindow::holdReference()
{
    if (!m_now)
        return;
    m_reference = m_now;
    m_clearReference->setEnabled(true);
    updateFigures();
}

void ScopeWindow::clearReference()
{
    m_reference.reset();
    m_clearReference->setEnabled(false);
    updateFigures();
}

StepOptions ScopeWindow::options() const
{
    StepOptions o;
    o.bandPercent = m_bandPercent->value();
    o.bandMin = m_bandMin->value();
    return o;
}

std::optional<StepFigures> ScopeWindow::figuresOf(const std::optional<ScopeRecord> &r) const
{
    if (!r || r->shape.dio || !isStepPair(r->names[0], r->names[1])
        || !recordLengthProblem(*r).isEmpty())
        return std::nullopt;
    return stepFigures(r->record, r->shape, r->spanMs, options());
}

void ScopeWindow::updateFigures()
{
    const std::optional<StepFigures> now = figuresOf(m_now);
    std::optional<ScopeRecord> reference = m_reference;
    std::optional<StepFigures> before = figuresOf(reference);
    // A reference that stepped the other way (Conti. alternates) is turned over, so that both
    // steps, and their figures, go the same way.
    const bool mirrored
        = now && now->ok() && before && before->ok() && (now->size() > 0) != (before->size() > 0);
    if (mirrored) {
        reference = mirroredRecord(*reference, now->from + before->from);
        before = figuresOf(reference);
    }
    // Both steps at the same place, so that the two responses lie over each other.
    const bool aligned = now && now->ok() && before && before->ok();
    m_plot->setRecords(m_now, reference, aligned ? now->startMs - before->startMs : 0, now);

    if (!m_now) {
        m_legend->clear();
        m_figures->setText(QStringLiteral("No capture yet."));
        return;
    }
    setWindowTitle(QStringLiteral("Scope: ") + m_now->names[0] + QStringLiteral(", ")
                   + m_now->names[1]);
    QString legend = legendOf(*m_now);
    if (m_reference)
        legend += QStringLiteral("<br>dimmed: the reference (") + legendOf(*m_reference).trimmed()
            + (mirrored      ? QStringLiteral("), a step the other way, mirrored onto this one")
                   : aligned ? QStringLiteral("), its step laid on this one")
                             : QStringLiteral(")"));
    m_legend->setText(legend);

    QString html = QStringLiteral("<p><b>Step response</b></p>");
    const QString lengthProblem = recordLengthProblem(*m_now);
    if (!lengthProblem.isEmpty()) {
        html += QStringLiteral("<p>No figures. ") + lengthProblem.toHtmlEscaped()
            + QStringLiteral("</p>");
    } else if (!now) {
        html += QStringLiteral("<p>Figures need a command and its feedback: PCMD with PFBK, or "
                               "VCMD with VFBK.</p>");
    } else {
        const QList<FigureRow> rows = figureRows(*now, before ? &*before : nullptr);
        html += QStringLiteral("<table cellspacing=\"4\">");
        if (before && before->ok())
            html += QStringLiteral("<tr><td></td><td><i>reference → now</i></td></tr>");
        for (const FigureRow &row : rows) {
            html += QStringLiteral("<tr><td>%1</td><td align=\"right\"><b>%2</b></td></tr>")
                        .arg(row.name.toHtmlEscaped(), row.value.toHtmlEscaped());
        }
        html += QStringLiteral("</table>");
        if (!now->ok())
            html += QStringLiteral("<p>") + verdictText(now->verdict).toHtmlEscaped()
                + QStringLiteral("</p>");
        if (before && !before->ok())
            html += QStringLiteral("<p>Reference: ") + verdictText(before->verdict).toHtmlEscaped()
                + QStringLiteral("</p>");
        html += QStringLiteral("<p><small>Values as the drive sends them; times from the step "
                               "(%1 ms a sample).</small></p>")
                    .arg(QString::number(now->sampleMs, 'g', 3));
    }
    m_figures->setText(html);
}

void ScopeWindow::updateReadout()
{
    if (!m_now) {
        m_readout->clear();
        m_cursors->clear();
        return;
    }
    const ScopeMarks &marks = m_plot->marks();
    m_readout->setText(marks.cursorMs ? readoutAt(*m_now, *marks.cursorMs)
                                      : QStringLiteral("Move the mouse over the plot to read "
                                                       "values."));
    QString cursors;
    if (marks.aMs)
        cursors += QStringLiteral("A ") + readoutAt(*m_now, *marks.aMs);
    if (marks.bMs)
        cursors += QStringLiteral("   B ") + readoutAt(*m_now, *marks.bMs);
    if (marks.aMs && marks.bMs)
        cursors += QStringLiteral("\n") + cursorDelta(*m_now, *marks.aMs, *marks.bMs);
    m_cursors->setText(cursors);
}

QString ScopeWindow::figuresText() const
{
    QString html = m_figures->text();
    html.replace(QLatin1String("</tr>"), QLatin1String("\n"));
    html.replace(QLatin1String("</p>"), QLatin1String("\n"));
    html.replace(QLatin1String("</td><td"), QLatin1String(" <td"));
    html.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    html.replace(QLatin1String("&quot;"), QLatin1String("\""));
    return html.trimmed();
}

std::optional<QString> ScopeWindow::savePng(const QString &file)
{
    if (grab().save(file, "PNG"))
        return std::nullopt;
    return QString();
}

std::optional<QString> ScopeWindow::saveCsv(const QString &file)
{
    if (!m_now)
        return QStringLiteral("No capture yet.");
    return saveFileWhole(
        file,
        recordCsv(m_now->record, m_now->shape, m_now->spanMs, m_now->names[0], m_now->names[1])
            .toUtf8());
}

void ScopeWindow::askAndSave(const QString &caption, const QString &name, const QString &filter,
                             std::optional<QString> (ScopeWindow::*save)(const QString &))
{
    const QString file = m_fileDialogs->saveFileName(caption, name, filter);
    if (file.isEmpty())
        return;
    if (const std::optional<QString> failed = (this->*save)(file)) {
        m_messages.MsgBox(QStringLiteral("Could not save ") + file
                          + (failed->isEmpty() ? QString() : QStringLiteral("\r\n") + *failed));
    }
}
