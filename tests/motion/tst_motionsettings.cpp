#include "MotionSettings.h"

#include <QtTest>

class TestMotionSettings final : public QObject {
    Q_OBJECT

private slots:
    void decide_data()
    {
        QTest::addColumn<bool>("continuous");
        QTest::addColumn<bool>("trig");
        QTest::addColumn<bool>("toggleBefore");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("toggle");
        // Without a mode the values fall back to "2000" and "10000"; otherwise the boxes' texts.
        const auto row
            = [](const char *name, bool conti, bool trig, bool before, int mode, bool toggle) {
                  QTest::newRow(name) << conti << trig << before << mode << toggle;
              };
        row("none keeps toggle set", false, false, true, 0, true);
        row("trig single", false, true, false, 1, false);
        row("trig keeps toggle", false, true, true, 1, true);
        row("both alternate", true, true, false, 2, true);
    }
    void decide()
    {
        QFETCH(bool, continuous);
        QFETCH(bool, trig);
        QFETCH(bool, toggleBefore);
        QFETCH(int, mode);
        QFETCH(bool, toggle);

        MotionSettings before;
        before.MotionToggle = toggleBefore;
        before.MotionValue1 = QStringLiteral("old");
        const MotionSettings after
            = decideMotion(trig, continuous, QStringLiteral(" 500"), QStringLiteral("x"), before);
        QCOMPARE(int(after.MotionMode), mode);
        QCOMPARE(after.MotionToggle, toggle);
        QCOMPARE(after.MotionValue1, mode ? QStringLiteral(" 500") : QStringLiteral("2000"));
        QCOMPARE(after.MotionValue2, mode ? QStringLiteral("x") : QStringLiteral("10000"));
    }
};

QTEST_GUILESS_MAIN(TestMotionSettings)
#include "tst_motionsettings.moc"
