#include "FormRig.h"

#include <QLineEdit>
#include <QTimer>
#include <QtTest>

namespace {
QColor textColor(const QLineEdit *box)
{
    return box->palette().color(QPalette::Text);
}
const QColor Red(255, 0, 0);
const QColor Black(0, 0, 0);
} // namespace

Q_DECLARE_METATYPE(BoxArray)

class TestForm1Edit final : public QObject {
    Q_OBJECT

private:
    QLineEdit *box(FormRig &rig, BoxArray array, int index)
    {
        switch (array) {
        case BoxArray::KG:
            return rig.form.txtKG[index];
        case BoxArray::VG:
            return rig.form.txtVG[index];
        case BoxArray::POS:
            return rig.form.txtPOS[index];
        }
        return nullptr;
    }

    void type(QLineEdit *edit, const QString &text)
    {
        edit->clear();
        QTest::keyClicks(edit, text);
    }

private slots:
    void typingOnlyTurnsTheBoxRed()
    {
        FormRig rig;
        rig.select(1);
        rig.port.clearRecord();
        QLineEdit *b = rig.form.txtKG[3];
        type(b, QStringLiteral("12"));
        QCOMPARE(textColor(b), Red);
        QVERIFY(rig.port.lines().isEmpty());
        // Keys that type nothing do not count, nor does moving on with Tab or Shift+Tab.
        rig.form.txtKG[4]->setFocus();
        QTest::keyClick(rig.form.txtKG[4], Qt::Key_Left);
        QTest::keyClick(rig.form.txtKG[4], Qt::Key_Tab);
        QTest::keyClick(rig.form.txtKG[5], Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(textColor(rig.form.txtKG[4]), Black);
        QCOMPARE(textColor(rig.form.txtKG[5]), Black);
        // A 16-bit value with slack, no more: a long text would freeze the window while paced.
        type(b, QString(40, QLatin1Char('9')));
        QCOMPARE(b->text().size(), 12);
    }

    // The write command at once (paced) and deferred (txtVG whole), by its array's timer.
    void writeCommands_data()
    {
        QTest::addColumn<BoxArray>("array");
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("command");

        // One box of each array; the map itself is the box map's own table.
        const struct {
            BoxArray array;
            int index;
            const char *command;
        } rows[] = {
            { BoxArray::KG, 3, "WT 0 3 " },
            { BoxArray::VG, 4, "WT 1 10 " },
            { BoxArray::POS, 5, "WT 4 1 " },
        };
        const char *names[] = { "txtKG", "txtVG", "txtPOS" };
        for (const auto &r : rows)
            QTest::addRow("%s(%d)", names[int(r.array)], r.index)
                << r.array << r.index << QByteArray(r.command);
    }
    void writeCommands()
    {
        QFETCH(BoxArray, array);
        QFETCH(int, index);
        QFETCH(QByteArray, command);

        FormRig rig;
        rig.select(1);
        QLineEdit *b = box(rig, array, index);

        // At once: one character every 5 ms.
        type(b, QStringLiteral("-250"));
        rig.port.clearRecord();
        QTest::keyClick(b, Qt::Key_Return);
        QCOMPARE(rig.port.lines(), QList<QByteArray> { command + "-250" });
        QCOMPARE(rig.port.writes().size(), command.size() + 4 + 1);

        // Deferred: the array's own timer sends it after the tick.
        type(b, QStringLiteral("77"));
        rig.port.clearRecord();
        rig.form.PollIdle = false;
        QTest::keyClick(b, Qt::Key_Return);
        QVERIFY(rig.port.lines().isEmpty());
        QVERIFY(!rig.form.Timer1->isActive());
        QTimer *timer = array == BoxArray::KG ? rig.form.Timer2
            : array == BoxArray::POS          ? rig.form.Timer3
                                              : rig.form.Timer4;
        QVERIFY(timer->isActive());
        rig.form.PollIdle = true;
        QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection);
        QCOMPARE(rig.port.lines(), QList<QByteArray> { command + "77" });
        QCOMPARE(rig.port.writes().size(), array == BoxArray::VG ? 1 : command.size() + 2 + 1);
        QVERIFY(!timer->isActive());
        QVERIFY(rig.form.Timer1->isActive());
    }

    // What the box shows after the drive's reply, on both paths.
    void markers_data()
    {
        QTest::addColumn<bool>("deferred");
        QTest::addColumn<bool>("setting"); // a txtVG box, deferred by Timer4; else txtKG, Timer2
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("red");

        const auto row = [](const char *name, bool deferred, bool setting, const char *reply,
                            const char *typed, const char *text, bool red) {
            QTest::newRow(name) << deferred << setting << QByteArray(reply) << QString(typed)
                                << QString(text) << red;
        };
        row("at once, no prompt", false, false, "", "1500", "ERR", true);
        row("at once, no equals", false, false, "1500 ok>", "1500", "ER", true);
        row("at once, other echo", false, false, "=1000 ok>", "1500", "ER", true);
        row("at once, equal echo", false, false, "=1500 ok>", "1500", "1500", false);
        row("at once, 007 is 7", false, false, "=7 ok>", "007", "007", false);
        row("at once, no number", false, false, "=7 ok>", "x", "ER", true);
        row("later, no prompt", true, false, "", "1500", "KR", true);
        row("later, setting, no prompt", true, true, "", "1500", "KR", true);
        row("later, no equals", true, false, "1500 ok>", "1500", "KRR", true);
        row("later, other echo", true, false, "=1000 ok>", "1500", "KRR", true);
        row("later, equal echo", true, false, "=1500 ok>", "1500", "1500", false);
    }
    void markers()
    {
        QFETCH(bool, deferred);
        QFETCH(bool, setting);
        QFETCH(QByteArray, reply);
        QFETCH(QString, typed);
        QFETCH(QString, text);
        QFETCH(bool, red);

        FormRig rig;
        rig.select(1);
        rig.bus.set(1, (setting ? "WT 1 5 " : "WT 0 5 ") + typed.toLatin1(), reply);
        QLineEdit *b = setting ? rig.form.txtVG[5] : rig.form.txtKG[5];
        type(b, typed);
        rig.form.PollIdle = !deferred;
        QTest::keyClick(b, Qt::Key_Return);
        if (deferred) {
            rig.form.PollIdle = true;
            setting ? rig.form.Timer4_Timer() : rig.form.Timer2_Timer();
        }
        QCOMPARE(b->text(), text);
        QCOMPARE(textColor(b), red ? Red : Black);
        QVERIFY(rig.form.cmdRead->isEnabled());
        QVERIFY(rig.messages.texts.size() == 1); // only the selection's
    }

    void retypedBeforeTheTickIsComparedWithTheNewText()
    {
        FormRig rig;
        rig.select(1);
        rig.bus.set(1, "WT 0 1 300", "=300 ok>");
        QLineEdit *b = rig.form.txtKG[1];
        type(b, QStringLiteral("300"));
        rig.form.PollIdle = false;
        QTest::keyClick(b, Qt::Key_Return);
        type(b, QStringLiteral("400"));
        rig.form.PollIdle = true;
        rig.port.clearRecord();
        rig.form.Timer2_Timer();
        QCOMPARE(rig.port.lines(), QList<QByteArray> { "WT 0 1 300" });
        QCOMPARE(b->text(), QStringLiteral("KRR"));
    }

    void secondEditInOneArrayReplacesTheFirst()
    {
        FormRig rig;
        rig.select(1);
        rig.form.PollIdle = false;
        type(rig.form.txtPOS[0], QStringLiteral("11"));
        QTest::keyClick(rig.form.txtPOS[0], Qt::Key_Return);
        type(rig.form.txtPOS[3], QStringLiteral("22"));
        QTest::keyClick(rig.form.txtPOS[3], Qt::Key_Return);
        rig.bus.set(1, "WT 3 1 22", "=22 ok>");
        rig.form.PollIdle = true;
        rig.port.clearRecord();
        rig.form.Timer3_Timer();
        QCOMPARE(rig.port.lines(), QList<QByteArray> { "WT 3 1 22" });
        QCOMPARE(textColor(rig.form.txtPOS[0]), Red);
        QCOMPARE(textColor(rig.form.txtPOS[3]), Black);
    }

    void editsInTwoArraysStayApart()
    {
        FormRig rig;
        rig.select(1);
        rig.bus.set(1, "WT 0 2 5", "=5 ok>");
        rig.bus.set(1, "WT 1 10 9", "=9 ok>");
        rig.form.PollIdle = false;
        type(rig.form.txtKG[2], QStringLiteral("5"));
        QTest::keyClick(rig.form.txtKG[2], Qt::Key_Return);
        type(rig.form.txtVG[4], QStringLiteral("9"));
        QTest::keyClick(rig.form.txtVG[4], Qt::Key_Return);
        rig.form.PollIdle = true;
        rig.port.clearRecord();
        rig.form.Timer2_Timer();
        rig.form.Timer4_Timer();
        QCOMPARE(rig.port.lines(), (QList<QByteArray> { "WT 0 2 5", "WT 1 10 9" }));
        QCOMPARE(textColor(rig.form.txtKG[2]), Black);
        QCOMPARE(textColor(rig.form.txtVG[4]), Black);
    }

    void readBackTimerWaitsForTheTick()
    {
        FormRig rig;
        rig.select(1);
        rig.form.PollIdle = false;
        type(rig.form.txtKG[0], QStringLiteral("1"));
        QTest::keyClick(rig.form.txtKG[0], Qt::Key_Return);
        rig.port.clearRecord();
        rig.form.Timer2_Timer(); // the tick is still running
        QVERIFY(rig.port.lines().isEmpty());
        QVERIFY(rig.form.Timer2->isActive());
    }

    void stopDropsAPendingEdit()
    {
        FormRig rig;
        rig.select(1);
        rig.form.PollIdle = false;
        type(rig.form.txtKG[0], QStringLiteral("1"));
        QTest::keyClick(rig.form.txtKG[0], Qt::Key_Return);
        rig.form.cmdCommStop_Click();
        QVERIFY(!rig.form.Timer2->isActive());
        rig.port.clearRecord();
        rig.form.Timer2_Timer();
        QVERIFY(rig.port.writes().isEmpty());
    }
};

QTEST_MAIN(TestForm1Edit)
#include "tst_form1edit.moc"
