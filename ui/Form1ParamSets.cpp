// Parameter sets as files: the Parameter Adjustment frame's context menu saves the boxes,
// writes a file's values into the drive, or marks where the boxes differ from a file.
#include "Form1.h"

#include "MessageSink.h"
#include "ParameterSet.h"
#include "RecordCsv.h"
#include "SerialPort.h"
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

QStringList Form1::confirmedBoxTexts() const
{
    // Red is typed but not written, or a marker: no value the drive confirmed.
    QStringList texts;
    for (const ParameterBox &b : ParameterMap::loadOrder()) {
        const QLineEdit *box = parameterBox(b.array, b.index);
        const bool red = box->palette().color(QPalette::Text) == vbColor(0x0000FF);
        texts << (red ? QString() : box->text());
    }
    return texts;
}

void Form1::saveParameterSet()
{
    if (!m_selectedStation)
        return;
    QStringList unconfirmed;
    ParameterSet set = parameterSetFromTexts(confirmedBoxTexts(), &unconfirmed);
    if (!unconfirmed.isEmpty()) {
        if (!m_messages.Confirm(QStringLiteral("These boxes hold no value the drive confirmed: ")
                                    + names(unconfirmed)
                                    + QStringLiteral("\r\nLOAD them from the drive first?"),
                                QStringLiteral("LOAD"))) {
            return;
        }
        cmdRead_Click();
        unconfirmed.clear();
        set = parameterSetFromTexts(confirmedBoxTexts(), &unconfirmed);
        if (!unconfirmed.isEmpty()) {
            m_messages.MsgBox(QStringLiteral("Still no confirmed value in: ") + names(unconfirmed)
                              + QStringLiteral("\r\nNothing was saved."));
            return;
        }
    }

    const QString file = m_fileDialogs->saveFileName(
        QStringLiteral("Save parameter set"),
        QStringLiteral("station%1.vcmpar").arg(*m_selectedStation), FileFilter);
    if (file.isEmpty())
        return;
    if (const std::optional<QString> failed = saveFileWhole(
            file,
            formatParameterSet(set, *m_selectedStation, QDateTime::currentDateTime()).toUtf8())) {
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

void Form1::loadParameterSet()
{
    if (!m_selectedStation)
        return;
    const std::optional<ParameterSet> set
        = chooseParameterSet(QStringLiteral("Load parameter set into drive"));
    if (!set)
        return;
    // A red box is written too: what it shows is no value the drive confirmed.
    const QList<ParameterDifference> changes = parameterDifferences(*set, confirmedBoxTexts());
    if (changes.isEmpty()) {
        m_messages.MsgBox(QStringLiteral("The boxes already show every value of ") + m_setFileName
                          + QStringLiteral("; nothing was written."));
        return;
    }
    QString text = QStringLiteral("Write %1 parameter%2 of %3 to station %4?\r\n")
                       .arg(changes.size())
                       .arg(changes.size() == 1 ? QString() : QStringLiteral("s"))
                       .arg(m_setFileName)
                       .arg(*m_selectedStation);
    const QStringList shown = boxTexts();
    for (const ParameterDifference &d : changes) {
        const QString box = shown.at(ParameterMap::ordinal(d.box));
        text += QStringLiteral("\r\n%1: %2 -> %3")
                    .arg(ParameterMap::name(d.box), box.isEmpty() ? QStringLiteral("(empty)") : box)
                    .arg(d.value);
    }
    if (!m_messages.Confirm(text, QStringLiteral("Write")))
        return;
    m_setToWrite = changes;
    writeParameterSet();
}

void Form1::writeParameterSet()
{
    if (deferWhilePolling(ActionWriteSet))
        return;
    const QList<ParameterDifference> writes = std::exchange(m_setToWrite, {});

    int written = 0;
    int confirmed = 0;
    QStringList heldDifferently;
    QString unanswered;
    QStringList notWritten;
    for (int i = 0; i < writes.size(); ++i) {
        const ParameterDifference &d = writes[i];
        const QString name = ParameterMap::name(d.box);
        if (!unanswered.isEmpty()) {
            notWritten << name;
            continue;
        }
        // As if typed and entered: the box shows the value sent until the echo judges it.
        QLineEdit *box = parameterBox(d.box.array, d.box.index);
        clearCompareMark(box);
        const QString sent = QString::number(d.value);
        box->setText(sent);
        setForeColor(box, vbColor(0x0000FF));
        const bool answered = CommDone()
            && SendCmdPaced(ParameterMap::writeCommand(d.box.array, d.box.index, sent));
        const WriteEcho echo
            = showWriteOutcome(box, answered, QStringLiteral("ERR"), QStringLiteral("ER"));
        if (!answered) {
            // A drive that stopped answering would make every further write wait 8 s.
            unanswered = name;
            continue;
        }
        ++written;
        if (echo == WriteEcho::Confirmed)
            ++confirmed;
        else
            heldDifferently << QStringLiteral("%1 sent %2, held %3")
                                   .arg(name, sent,
                                        echo == WriteEcho::NoValue ? QStringLiteral("?") : RxValue);
    }
    UnlockButtons();

    QString report = QStringLiteral("Parameter set written to station %1: %2 of %3 written, %4 "
                                    "confirmed by the drive.")
                         .arg(m_selectedStation.value_or(0))
                         .arg(written)
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
    if (m_setToWrite.isEmpty())
        return;
    m_setToWrite.clear();
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
