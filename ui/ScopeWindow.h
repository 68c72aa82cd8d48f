#pragma once

#include "ScopeView.h"
#include "StepResponse.h"

#include <QWidget>

#include <optional>

class MessageSink;
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
    void clearReference();
    bool savePng(const QString &file);
    bool saveCsv(const QString &file);

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
                    bool (ScopeWindow::*save)(const QString &));

    MessageSink &m_messages;
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
