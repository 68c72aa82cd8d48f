#pragma once

#include "Tuner.h"

#include <QDialog>

#include <array>

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
    bool choiceOpen() const;

    QTableWidget *table() const { return m_table; }

signals:
    void startClicked();
    void abortClicked();
    void keepClicked();
    void restoreClicked();

protected:
    void reject() override;

private:
    void markBest(int row);

    QSpinBox *m_step;
    QDoubleSpinBox *m_overshoot;
    std::array<QCheckBox *, TuneGain::Count> m_gains {};
    QLineEdit *m_backup;
    QPushButton *m_start;
    QPushButton *m_abort;
    QTableWidget *m_table;
    QLabel *m_status;
    QPushButton *m_keep;
    QPushButton *m_restore;
    bool m_running = false;
    int m_bestRow = -1;
};
