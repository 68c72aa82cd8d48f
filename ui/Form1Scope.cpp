// The oscilloscope: channel choice, recorder set-up, capture and plot.
#include "Form1.h"

#include "GraphSurface.h"
#include "Lamp.h"
#include "MessageSink.h"
#include "MotionSettings.h"
#include "Record.h"
#include "RecordCsv.h"
#include "RecorderSetup.h"
#include "ScopeWindow.h"
#include "VbStyle.h"

#include <QApplication>
#include <QClipboard>
#include <QMenu>

void Form1::chkBox_Click(std::int16_t Index)
{
    ChannelSelection selection { ChannelCount, FirstChannel, SecondChannel };
    const ChannelSelection::Effect effect = selection.toggle(Index, chkBox[Index]->isChecked());
    ChannelCount = selection.ChannelCount;
    FirstChannel = selection.FirstChannel;
    SecondChannel = selection.SecondChannel;

    if (effect.boxes == ChannelSelection::BoxChange::DisableUnticked) {
        for (int i : chkBox.indices())
            chkBox[i]->setEnabled(i == FirstChannel || i == SecondChannel);
    } else if (effect.boxes == ChannelSelection::BoxChange::EnableAll) {
        for (int i : chkBox.indices())
            chkBox[i]->setEnabled(true);
    }
    if (effect.setupEnabled) {
        m_setupValid = false;
        cmdSetup->setEnabled(*effect.setupEnabled);
        cmdStart->setEnabled(false);
        cmdStop->setEnabled(false);
        ScopeRunning = false;
    }
}

QCoro::Task<> Form1::cmdSetup_Click()
{
    if (deferWhilePolling(ActionSetup))
        co_return;
    const EntryGate::Hold hold(m_gate);

    std::array<bool, 8> ticked {};
    int count = 0;
    for (int i : chkBox.indices()) {
        ticked[i] = chkBox[i]->isChecked();
        count += ticked[i] ? 1 : 0;
    }
    if (count != 2) {
        m_messages.MsgBox(QStringLiteral(" At least 2 variables must be selected"));
        UnlockButtons();
        co_return;
    }

    const bool vcrrNew = Check_VCRR->isChecked();
    const std::optional<IntervalSetting> interval
        = intervalSetting(listInterval->currentText(), vcrrNew);
    // A typed span the recorder has no code for would set it up with an empty interval.
    if (!interval) {
        m_messages.MsgBox(QStringLiteral(" Interval must be 100, 200, 300, 400 or 500"));
        UnlockButtons();
        co_return;
    }
    RecordWaitMs = interval->waitMs;
    RecordLength = recordLength(vcrrNew);

    struct Outcome {
        RecorderSetUp step;
        QString reply;
    };
    auto lineJob = m_line->run([setting = *interval, ticked](DriveProcedures &drive) {
        const RecorderSetUp step = drive.setUpRecorder(setting, ticked);
        return Outcome { step, drive.link().RxBuffer };
    });
    const Outcome outcome = co_await lineJob;
    if (outcome.step == RecorderSetUp::Stopped) {
        UnlockButtons();
        co_return;
    }
    if (outcome.step == RecorderSetUp::IntervalFailed) {
        m_messages.MsgBox(QStringLiteral("Communication error write interval\r\n") + outcome.reply);
        UnlockButtons();
        ResumePolling();
        co_return;
    }

    Graph1->setToolTip(traceLegend(ticked[7]).replace(QLatin1String("\r\n"), QLatin1String("\n")));

    if (outcome.step == RecorderSetUp::ChannelsFailed) {
        m_messages.MsgBox(QStringLiteral("Communication error write channel\r\n") + outcome.reply);
        UnlockButtons();
        ResumePolling();
        co_return;
    }

    m_setupValid = true;
    StartWasEnabled = true;
    cmdStart->setEnabled(true);
    cmdStop->setEnabled(false);
    m_messages.MsgBox(QStringLiteral("Setup OK"));
    ResumePolling();
    UnlockButtons();
}

void Form1::drawRecord(const Record &record)
{
    Graph1->setDisplayList(DisplayList());
    const RecordShape shape = m_tickShape;
    const PlotRange range = plotRange(record, shape);
    const QString span = listInterval->currentText();
    const std::array<QString, 5> times = timeAxisLabels(span);
    for (int k = 1; k <= 5; ++k)
        Label6[k]->setText(times[k - 1]);
    const std::array<QString, 5> values = valueAxisLabels(range);
    for (int k = 0; k <= 4; ++k)
        Label5[k]->setText(values[k]);
    Graph1->setDisplayList(plotRecord(record, shape, range));

    m_lastRecord = record;
    m_lastShape = shape;
    m_lastSpanMs = lenientNumber(span);
    m_lastChannelNames[0] = m_tickNames[0];
    m_lastChannelNames[1] = m_tickNames[1];
    if (m_scopeWindow && m_scopeWindow->isVisible())
        m_scopeWindow->showRecord(*m_lastRecord, shape, m_lastSpanMs, m_lastChannelNames[0],
                                  m_lastChannelNames[1]);

    Shape1->setFillColor(vbColor(0x008080));
    Shape1->repaint();
}

QString Form1::lastRecordCsv() const
{
    if (!m_lastRecord)
        return {};
    return recordCsv(*m_lastRecord, m_lastShape, m_lastSpanMs, m_lastChannelNames[0],
                     m_lastChannelNames[1]);
}

void Form1::openScopeWindow()
{
    if (!m_scopeWindow) {
        m_scopeWindow = new ScopeWindow(m_messages, this);
        if (m_fileDialogs != m_qtFileDialogs.get())
            m_scopeWindow->setFileDialogs(*m_fileDialogs);
        connect(m_scopeWindow, &ScopeWindow::tuneRequested, this, &Form1::openTuneDialog);
    }
    if (m_lastRecord)
        m_scopeWindow->showRecord(*m_lastRecord, m_lastShape, m_lastSpanMs, m_lastChannelNames[0],
                                  m_lastChannelNames[1]);
    m_scopeWindow->show();
    m_scopeWindow->raise();
    m_scopeWindow->activateWindow();
}

void Form1::showPlotMenu(const QPoint &pos)
{
    QMenu menu(Graph1);
    QAction *scope = menu.addAction(QStringLiteral("Open scope window"));
    menu.addSeparator();
    QAction *copy = menu.addAction(QStringLiteral("Copy plot"));
    QAction *png = menu.addAction(QStringLiteral("Save plot as PNG..."));
    QAction *csv = menu.addAction(QStringLiteral("Save record as CSV..."));
    csv->setEnabled(m_lastRecord.has_value());
    QAction *chosen = menu.exec(Graph1->mapToGlobal(pos));
    if (chosen == scope) {
        openScopeWindow();
    } else if (chosen == copy) {
        QApplication::clipboard()->setPixmap(Graph1->grab());
    } else if (chosen == png) {
        const QString file
            = m_fileDialogs->saveFileName(QStringLiteral("Save plot"), QStringLiteral("plot.png"),
                                          QStringLiteral("PNG images (*.png)"));
        if (!file.isEmpty() && !Graph1->grab().save(file, "PNG"))
            m_messages.MsgBox(QStringLiteral("Could not save ") + file);
    } else if (chosen == csv) {
        const QString file = m_fileDialogs->saveFileName(QStringLiteral("Save record"),
                                                         QStringLiteral("record.csv"),
                                                         QStringLiteral("CSV files (*.csv)"));
        if (file.isEmpty())
            return;
        if (const std::optional<QString> failed = saveFileWhole(file, lastRecordCsv().toUtf8()))
            m_messages.MsgBox(QStringLiteral("Could not save ") + file + QStringLiteral("\r\n")
                              + *failed);
    }
}
