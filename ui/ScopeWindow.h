#pragma once

#include "MessageSink.h"
#include "ScopeView.h"
#include "StepResponse.h"

#include <QWidget>

#include <memory>
#include <optional>

class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;
class ScopePlot;

// A resizable window for reading captures closely: the plot with cursors and zoom, the
// step-response figures beside it, and a reference capture to compare with. It is handed
// records and never talks to the drive.
class ScopeWindow final : public QWidget {
    Q_OBJECT

public:
    explicit ScopeWindow(MessageSink &messages, QWidget *parent = nullptr);

    // A new capture; the zoom and the cursors stay.
    void showRecord(const Record &record, const RecordShape &shape, double spanMs,
                    const QString &first, const QString &second);

    void holdReference();
    // The value axis fitted to the traces, as a zoom (Reset zoom shows everything again).
    void fitValues();
    void clearReference();
    // On failure, the reason (empty when none is known).
    std::optional<QString> savePng(const QString &file);
    std::optional<QString> saveCsv(const QString &file);
    // Where file names come from; Qt's dialogs unless a test scripts them.
    void setFileDialogs(FileDialogs &dialogs) { m_fileDialogs = &dialogs; }

    ScopePlot *plot() const { return m_plot; }
    // The figures panel as plain text.
    QString figuresText() const;

signals:
    // "Tune..." pressed: the console, which owns the line, opens the tuning dialog.
    void tuneRequested();

private:
    void updateFigures();
    void updateReadout();
    StepOptions options() const;
    std::optional<StepFigures> figuresOf(const std::optional<ScopeRecord> &r) const;
    void askAndSave(const QString &caption, const QString &name, const QString &filter,
                    std::optional<QString> (ScopeWindow::*save)(const QString &));

    MessageSink &m_messages;
    std::unique_ptr<FileDialogs> m_qtFileDialogs;
    FileDialogs *m_fileDialogs;
    std::optional<ScopeRecord> m_now;
    std::optional<ScopeRecord> m_reference;
    ScopePlot *m_plot;
    QLabel *m_legend;
    QLabel *m_figures;
    QLabel *m_readout;
    QLabel *m_cursors;
    QDoubleSpinBox *m_bandPercent;
    QSpinBox *m_bandMin;
    QPushButton *m_clearReference;
};
