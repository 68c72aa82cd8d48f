#pragma once

#include "Tuner.h"

#include <QDialog>

#include <array>
#include <optional>

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

// What a guided tuning run is asked to do, the trials as they come, and the operator's choice
// at the end. It only shows and asks: the console runs the tuner on its line.
class TuneDialog final : public QDialog {
    Q_OBJECT

public:
    explicit TuneDialog(QWidget *parent = nullptr);

    // The options as set, for `station`; the backup file as the box names it.
    TuneOptions options(int station) const;
    void setBackupPath(const QString &path);
    QString backupPath() const;

    // Where the actuator stands now (PCMD as last read), for the description of the run.
    void setPosition(std::optional<double> pcmd);
    // What Start will do with the options as set: which gains it writes, the test motion through
    // UP0 and between which positions, how long it takes, that nothing is saved.
    QString runDescription() const;

    // Running: the options and Start are off, Abort is on.
    void setRunning(bool running);
    bool running() const { return m_running; }
    void setStatus(const QString &text);
    QString statusText() const;
    void clearTrials();
    // A row for the trial; `best` marks it as the best so far.
    void addTrial(const Trial &trial, bool best);
    // The end of a run: what happened, and whether the choice of gains is still open.
    void showResult(const TuneResult &result, bool recorderChanged);
    // The choice was made (or is no longer open): Keep goes off, and Restore unless a
    // write-back is still to be tried again.
    void closeChoice(bool restoreAgain = false);
    // What the write-back of the original gains achieved, in place of what the end of the run
    // said about the gains in force.
    void showRestored(const QString &report);
    bool choiceOpen() const;

    QTableWidget *table() const { return m_table; }

signals:
    void startClicked();
    void browseClicked();
    void abortClicked();
    void keepClicked();
    void restoreClicked();

protected:
    void reject() override;

private:
    void markBest(int row);
    void describe();

    QSpinBox *m_step;
    QDoubleSpinBox *m_overshoot;
    std::array<QCheckBox *, TuneGain::Count> m_gains {};
    QLineEdit *m_backup;
    QPushButton *m_browse;
    QPushButton *m_start;
    QPushButton *m_abort;
    QTableWidget *m_table;
    QLabel *m_status;
    QPushButton *m_keep;
    QPushButton *m_restore;
    bool m_running = false;
    int m_bestRow = -1;
    std::optional<double> m_position;
    // The end of the run as shown: its line about the gains in force, and the rest.
    QStringList m_resultLines;
    int m_inForceLine = -1;
};
