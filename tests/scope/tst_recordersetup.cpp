#include "RecorderSetup.h"

#include <QtTest>

class TestRecorderSetup final : public QObject {
    Q_OBJECT

private slots:
    // Clicks on boxes, each ticking or clearing it, with the state and effect after the last.
    void selection_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("boxes");
        QTest::addColumn<int>("setup"); // -1 unchanged, 0 disable, 1 enable

        using B = ChannelSelection::BoxChange;
        QTest::newRow("one tick") << QList<int> { 3 } << 1 << 10 << 3 << int(B::None) << -1;
        QTest::newRow("second tick")
            << QList<int> { 3, 0 } << 2 << 3 << 0 << int(B::DisableUnticked) << 1;
        QTest::newRow("clear second")
            << QList<int> { 3, 0, 0 } << 1 << 10 << 3 << int(B::EnableAll) << 0;
        QTest::newRow("clear first")
            << QList<int> { 3, 0, 3 } << 1 << 10 << 0 << int(B::EnableAll) << 0;
        QTest::newRow("tick again")
            << QList<int> { 3, 0, 3, 5 } << 2 << 0 << 5 << int(B::DisableUnticked) << 1;
    }
    void selection()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(int, count);
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, boxes);
        QFETCH(int, setup);

        ChannelSelection s;
        ChannelSelection::Effect e;
        std::array<bool, 8> ticked {};
        for (int box : clicks)
            e = s.toggle(box, ticked[box] = !ticked[box]);
        QCOMPARE(int(s.ChannelCount), count);
        QCOMPARE(int(s.FirstChannel), first);
        QCOMPARE(int(s.SecondChannel), second);
        QCOMPARE(int(e.boxes), boxes);
        QCOMPARE(e.setupEnabled ? int(*e.setupEnabled) : -1, setup);
    }

    // A channel named on a command line: its box, any case; nothing for a name that is none,
    // an empty one (a trailing comma) included, since the box indexes the eight ticks.
    void channelByName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("box"); // -1: none

        QTest::newRow("first") << "PCMD" << 0;
        QTest::newRow("lower case") << "icmd" << 6;
        QTest::newRow("the inputs") << "DIO" << 7;
        QTest::newRow("misspelt") << "PFBX" << -1;
        QTest::newRow("empty") << "" << -1;
    }
    void channelByName()
    {
        QFETCH(QString, name);
        QFETCH(int, box);
        const std::optional<int> found = channelBox(name);
        QCOMPARE(found.value_or(-1), box);
    }
};

QTEST_GUILESS_MAIN(TestRecorderSetup)
#include "tst_recordersetup.moc"
