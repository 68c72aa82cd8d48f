// Parameter sets as files: the Parameter Adjustment frame's context menu saves what the drive
// holds, writes a file's values into the drive, or marks where the boxes differ from a file.
#include "Form1.h"

#include "DriveProcedures.h"
#include "MessageSink.h"
#include "ParameterReply.h"
#include "ParameterSet.h"
#include "RecordCsv.h"
#include "VbStyle.h"
#include "WriteEcho.h"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>

namespace {
const QString FileFilter = QStringLiteral("VCM parameter sets (*.vcmpar);;All files (*)");
// The compare mark: a tint behind the text, apart from the red write markers.
const QColor CompareTint(255, 236, 140);

QString names(const QStringList &list)
{
    return list.join(QStringLiteral(", "));
}
} // namespace

void Form1::showParameterMenu(const QPoint &pos)
{
    QMenu menu(FrameParaAdj);
    const QAction *save = menu.addAction(QStringLiteral("Save parameter set as..."));
    const QAction *load = menu.addAction(QStringLiteral("Load parameter set into drive..."));
    const QAction *compare = menu.addAction(QStringLiteral("Compare with parameter set..."));
    const QAction *chosen = menu.exec(FrameParaAdj->mapToGlobal(pos));
    if (chosen == save)
        saveParameterSet();
    else if (chosen == load)
        loadParameterSet();
    else if (chosen == compare)
        compareParameterSet();
}

namespace {
struct SetRead {
    std::optional<ParameterSet> set;
    QList<DriveFailure> unreadable;
    DriveFailure failure;
    std::optional<DriveState> state;
};
} // namespace

QCoro::Task<Form1::HeldSet> Form1::readDriveParameters(const QString &nothingDone, bool state)
{
    clearCompareMarks();
    // The reads of LOAD, each shown in its box as LOAD shows it.
    auto lineJob = m_line->run([this, state](DriveProcedures &drive) {
        SetRead r;
        r.set = drive.readParameters(
            [this, &drive](int ordinal, std::int16_t) {
                m_line->toWindow(
                    [this, ordinal,
                     value = parameterValue(drive.link().RxBuffer).value_or(QString())] {
                        const ParameterBox b = ParameterMap::boxAt(ordinal);
                        QLineEdit *box = parameterBox(b.array, b.index);
                        RxValue = value;
                        box->setText(RxValue);
                        setForeColor(box, vbColor(0x000000));
                    });
            },
            &r.unreadable);
        r.failure = drive.failure();
        if (r.set && state) {
            r.state = drive.readState();
            r.failure = drive.failure();
        }
        return r;
    });
    SetRead read = co_await lineJob;
    HeldSet held;
    if (read.set) {
        held.set = read.set;
        held.state = read.state;
        if (state && !read.state)
            held.stateCommand = read.failure.command;
        co_return held;
    }

    const bool silent = read.failure.kind == DriveFailure::Kind::NoAnswer;
    if (silent)
        read.unreadable << read.failure;
    QStringList names;
    for (const DriveFailure &f : read.unreadable) {
        for (const ParameterBox &b : ParameterMap::loadOrder()) {
            if (ParameterMap::readCommand(b.array, b.index) != f.command)
                continue;
            QLineEdit *box = parameterBox(b.array, b.index);
            box->setText(QStringLiteral("ER"));
            setForeColor(box, vbColor(0x0000FF));
            names << ParameterMap::name(b);
        }
    }
    if (read.failure.kind == DriveFailure::Kind::Stopped)
        co_return held;
    m_messages.MsgBox(
        (silent ? QStringLiteral("No answer from station %1 to the read of %2.")
                : QStringLiteral("Station %1 sent no value for %2."))
            .arg(m_selectedStation.value_or(0))
            .arg(silent ? names.value(names.size() - 1) : names.join(QStringLiteral(", ")))
        + QStringLiteral("\r\n") + nothingDone);
    co_return held;
}

QCoro::Task<> Form1::saveParameterSet()
{
    if (!m_selectedStation)
        co_return;
    m_saveSetWaiting = true;
    auto task = saveDriveParameterSet();
    co_await task;
}

QCoro::Task<> Form1::saveDriveParameterSet()
{
    if (deferWhilePolling(ActionSaveSet))
        co_return;
    // Dropped with the link or the drive while it waited.
    if (!std::exchange(m_saveSetWaiting, false) || !m_selectedStation) {
        UnlockButtons();
        co_return;
    }
    std::optional<ParameterSet> set;
    {
        const EntryGate::Hold hold(m_gate);
        // What the drive holds now: the boxes may be older than a tool's write or a power cycle.
        auto task = readDriveParameters(QStringLiteral("Nothing was saved."));
        set = (co_await task).set;
        UnlockButtons();
    }
    if (!set)
        co_return;

    const QString file = m_fileDialogs->saveFileName(
        QStringLiteral("Save parameter set"),
        QStringLiteral("station%1.vcmpar").arg(*m_selectedStation), FileFilter);
    if (file.isEmpty())
        co_return;
    if (const std::optional<QString> failed = saveFileWhole(
            file,
            formatParameterSet(*set, *m_selectedStation, QDateTime::currentDateTime()).toUtf8())) {
        m_messages.MsgBox(QStringLiteral("Could not save ") + file + QStringLiteral("\r\n")
                          + *failed);
    }
}

std::optional<ParameterSet> Form1::chooseParameterSet(const QString &title)
{
    const QString file = m_fileDialogs->openFileName(title, FileFilter);
    if (file.isEmpty())
        return std::nullopt;
    const ParameterSetParse parse = readParameterSetFile(file);
    if (!parse.ok) {
        m_messages.MsgBox(QStringLiteral("The parameter set cannot be used; nothing was sent.\r\n")
                          + QFileInfo(file).fileName() + QStringLiteral(": ") + parse.message());
        return std::nullopt;
    }
    m_setFileName = QFileInfo(file).fileName();
    return parse.set;
}

QCoro::Task<> Form1::loadParameterSet()
{
    if (!m_selectedStation)
        co_return;
    m_setToLoad = chooseParameterSet(QStringLiteral("Load parameter set into drive"));
    if (!m_setToLoad)
        co_return;
    auto task = loadSetIntoDrive();
    co_await task;
}

QCoro::Task<> Form1::loadSetIntoDrive()
{
    if (deferWhilePolling(ActionLoadSet))
        co_return;
    const std::optional<ParameterSet> set = std::exchange(m_setToLoad, std::nullopt);
    if (!set || !m_selectedStation) {
        UnlockButtons();
        co_return;
    }
    const QString nothingDone = QStringLiteral("Nothing was written.");
    HeldSet held;
    {
        const EntryGate::Hold hold(m_gate);
        // Compared with what the drive holds now, not with the boxes, which may be stale; and
        // whether a changed target would move the actuator, as the drive says now.
        auto task = readDriveParameters(nothingDone, true);
        held = co_await task;
        UnlockButtons();
    }
    if (!held.set)
        co_return;
    if (!held.state) {
        m_messages.MsgBox(QStringLiteral("No answer from station %1 to %2.\r\n")
                              .arg(*m_selectedStation)
                              .arg(held.stateCommand)
                          + nothingDone);
        co_return;
    }
    const std::optional<DriveState> &state = held.state;

    const QStringList shown = boxTexts();
    const QList<ParameterDifference> changes = parameterDifferences(*set, shown);
    if (changes.isEmpty()) {
        m_messages.MsgBox(QStringLiteral("Station %1 already holds every value of %2; nothing was "
                                         "written.")
                              .arg(*m_selectedStation)
                              .arg(m_setFileName));
        co_return;
    }
    QString text = QStringLiteral("Write %1 parameter%2 of %3 to station %4?\r\n")
                       .arg(changes.size())
                       .arg(changes.size() == 1 ? QString() : QStringLiteral("s"))
                       .arg(m_setFileName)
                       .arg(*m_selectedStation);
    QStringList moves;
    for (const ParameterDifference &d : changes) {
        const QString box = shown.at(ParameterMap::ordinal(d.box));
        const QString name = ParameterMap::name(d.box);
        text += QStringLiteral("\r\n%1: %2 -> %3")
                    .arg(name, box.isEmpty() ? QStringLiteral("(empty)") : box)
                    .arg(d.value);
        if (d.box.array == BoxArray::POS && (d.box.index == 0 || d.box.index == 2))
            moves << QStringLiteral("%1 to %2 counts").arg(name).arg(d.value);
    }
    // UP0 and DN0 are the targets the drive follows in up/down mode.
    if (!moves.isEmpty() && state->servoOn() && state->upDown()) {
        text += QStringLiteral("\r\n\r\nThe servo is on and the drive follows DI2 up/down, so "
                               "these writes will move the actuator: ")
            + names(moves) + QLatin1Char('.');
    }
    if (!m_messages.Confirm(text, QStringLiteral("Write")))
        co_return;
    m_setToWrite = changes;
    auto task = writeParameterSet();
    co_await task;
}

QCoro::Task<> Form1::writeParameterSet()
{
    if (deferWhilePolling(ActionWriteSet))
        co_return;
    const EntryGate::Hold hold(m_gate);
    const QList<ParameterDifference> writes = std::exchange(m_setToWrite, {});
    ParameterSet set;
    for (const ParameterDifference &d : writes)
        set.values[std::size_t(ParameterMap::ordinal(d.box))] = d.value;

    // Each as if typed and entered: the box shows the value sent until the echo judges it.
    auto lineJob = m_line->run([this, set](DriveProcedures &drive) {
        QList<ParameterWrite> done;
        drive.writeSet(
            set,
            [this, &done](const ParameterWrite &w) {
                done << w;
                m_line->toWindow([this, w] {
                    const ParameterBox b = ParameterMap::boxAt(w.ordinal);
                    RxValue = w.held;
                    showWriteOutcome(parameterBox(b.array, b.index), w.echo, QStringLiteral("ERR"),
                                     QStringLiteral("ER"));
                });
            },
            [this](int ordinal, std::int16_t value) {
                m_line->toWindow([this, ordinal, value] {
                    const ParameterBox b = ParameterMap::boxAt(ordinal);
                    QLineEdit *box = parameterBox(b.array, b.index);
                    clearCompareMark(box);
                    box->setText(QString::number(value));
                    setForeColor(box, vbColor(0x0000FF));
                });
            });
        return done;
    });
    const QList<ParameterWrite> results = co_await lineJob;

    int confirmed = 0;
    QStringList heldDifferently;
    for (const ParameterWrite &w : results) {
        if (w.echo == WriteEcho::Confirmed)
            ++confirmed;
        else
            heldDifferently << QStringLiteral("%1 sent %2, held %3")
                                   .arg(ParameterMap::name(ParameterMap::boxAt(w.ordinal)))
                                   .arg(w.sent)
                                   .arg(w.echo == WriteEcho::NoValue ? QStringLiteral("?")
                                                                     : w.held);
    }
    // Writing stops at the first write without answer: a drive that stopped answering would
    // make every further write wait 8 s.
    QString unanswered;
    QStringList notWritten;
    for (int i = int(results.size()); i < writes.size(); ++i) {
        const ParameterBox &b = writes[i].box;
        if (unanswered.isEmpty()) {
            unanswered = ParameterMap::name(b);
            parameterBox(b.array, b.index)->setText(QStringLiteral("ERR"));
            setForeColor(parameterBox(b.array, b.index), vbColor(0x0000FF));
        } else {
            notWritten << ParameterMap::name(b);
        }
    }
    UnlockButtons();

    QString report = QStringLiteral("Parameter set written to station %1: %2 of %3 written, %4 "
                                    "confirmed by the drive.")
                         .arg(m_selectedStation.value_or(0))
                         .arg(results.size())
                         .arg(writes.size())
                         .arg(confirmed);
    if (!heldDifferently.isEmpty())
        report += QStringLiteral("\r\nHeld differently:\r\n") + heldDifferently.join("\r\n");
    if (!unanswered.isEmpty())
        report += QStringLiteral("\r\nNo answer to ") + unanswered
            + QStringLiteral(". Not written: ")
            + (notWritten.isEmpty() ? "none" : names(notWritten)) + QLatin1Char('.');
    report += QStringLiteral("\r\nPress SAVE to keep the values over a power cycle.");
    m_messages.MsgBox(report);
}

void Form1::dropWaitingSet(const QString &why)
{
    if (std::exchange(m_saveSetWaiting, false))
        m_messages.MsgBox(QStringLiteral("The parameter set was not saved: ") + why);
    if (m_setToWrite.isEmpty() && !m_setToLoad)
        return;
    m_setToWrite.clear();
    m_setToLoad.reset();
    m_messages.MsgBox(QStringLiteral("The parameter set was not written: ") + why);
}

void Form1::compareParameterSet()
{
    const std::optional<ParameterSet> set
        = chooseParameterSet(QStringLiteral("Compare with parameter set"));
    if (!set)
        return;
    clearCompareMarks();
    const QList<ParameterDifference> differences = parameterDifferences(*set, boxTexts());
    QStringList differing;
    for (const ParameterDifference &d : differences) {
        QLineEdit *box = parameterBox(d.box.array, d.box.index);
        QPalette palette = box->palette();
        palette.setColor(QPalette::Base, CompareTint);
        box->setPalette(palette);
        box->setToolTip(m_setFileName + QStringLiteral(": ") + QString::number(d.value));
        m_comparedBoxes.insert(box);
        differing << ParameterMap::name(d.box);
    }
    m_messages.MsgBox(differing.isEmpty() ? QStringLiteral("Every parameter of ") + m_setFileName
                              + QStringLiteral(" matches the boxes.")
                                          : QStringLiteral("Differ from ") + m_setFileName
                              + QStringLiteral(" (marked): ") + names(differing));
}

QStringList Form1::boxTexts() const
{
    QStringList texts;
    for (const ParameterBox &b : ParameterMap::loadOrder())
        texts << parameterBox(b.array, b.index)->text();
    return texts;
}

void Form1::clearCompareMark(QLineEdit *box)
{
    if (!m_comparedBoxes.remove(box))
        return;
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, QApplication::palette(box).color(QPalette::Base));
    box->setPalette(palette);
    box->setToolTip(QString());
}

void Form1::clearCompareMarks()
{
    const QSet<QLineEdit *> marked = m_comparedBoxes;
    for (QLineEdit *box : marked)
        clearCompareMark(box);
}
