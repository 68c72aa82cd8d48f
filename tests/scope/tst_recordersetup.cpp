#include "RecorderSetup.h"

#include <QtTest>

class TestRecorderSetup final : public QObject {
    Q_OBJECT

private slots:
    // The recorder's interval table: a code with "VCRR new" and one without, and the wait.
    void interval_data()
    {
        QTest::addColumn<QString>("span");
        QTest::addColumn<QString>("newCode"); // empty: no code
        QTest::addColumn<QString>("oldCode");
        QTest::addColumn<int>("wait");
        QTest::newRow("100") << "100"
                             << "4"
                             << "2" << 200;
        QTest::newRow("200") << "200"
                             << "8"
                             << "4" << 300;
        QTest::newRow("300") << "300"
                             << "12"
                             << "6" << 400;
        QTest::newRow("400") << "400"
                             << "16"
                             << "8" << 500;
        QTest::newRow("500") << "500"
                             << "20"
                             << "10" << 600;
        // Anything else has no code.
        QTest::newRow("typed 250") << "250"
                                   << ""
                                   << "" << 0;
        QTest::newRow("blank after") << "500 "
                                     << ""
                                     << "" << 0;
        QTest::newRow("empty") << ""
                               << ""
                               << "" << 0;
    }
    void interval()
    {
        QFETCH(QString, span);
        QFETCH(QString, newCode);
        QFETCH(QString, oldCode);
        QFETCH(int, wait);
        for (const bool vcrr : { true, false }) {
            const auto s = intervalSetting(span, vcrr);
            QCOMPARE(s ? s->code : QString(), vcrr ? newCode : oldCode);
            QCOMPARE(s ? int(s->waitMs) : 0, wait);
            QCOMPARE(int(recordLength(vcrr)), vcrr ? 256 : 512);
        }
    }

    void channels_data()
    {
        QTest::addColumn<QList<int>>("boxes");
        QTest::addColumn<QString>("list");
        QTest::newRow("PCMD, VCMD") << QList<int> { 3, 0 } << " 1 4";
        QTest::newRow("PCMD, DIO") << QList<int> { 0, 7 } << " 1 8";
        QTest::newRow("ICMD, DIO") << QList<int> { 7, 6 } << " 7 8";
        QTest::newRow("none") << QList<int>() << "";
    }
    void channels()
    {
        QFETCH(QList<int>, boxes);
        QFETCH(QString, list);
        std::array<bool, 8> ticked {};
        for (int b : boxes)
            ticked[b] = true;
        QCOMPARE(channelList(ticked), list);
    }

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
        QTest::newRow("clear last")
            << QList<int> { 3, 0, 3, 0 } << 0 << 10 << 10 << int(B::None) << -1;
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
};

QTEST_GUILESS_MAIN(TestRecorderSetup)
#include "tst_recordersetup.moc"
