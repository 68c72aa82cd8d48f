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
        QTest::addColumn<QString>("value1");
        QTest::addColumn<QString>("value2");

        const auto row = [](const char *name, bool conti, bool trig, bool before, int mode,
                            bool toggle, const char *value1, const char *value2) {
            QTest::newRow(name) << conti << trig << before << mode << toggle << value1 << value2;
        };
        row("none keeps toggle", false, false, false, 0, false, "2000", "10000");
        row("none keeps toggle set", false, false, true, 0, true, "2000", "10000");
        row("trig single", false, true, false, 1, false, " 500", "x");
        row("trig keeps toggle", false, true, true, 1, true, " 500", "x");
        row("conti alternates", true, false, false, 2, true, " 500", "x");
        row("both alternate", true, true, false, 2, true, " 500", "x");
    }
    void decide()
    {
        QFETCH(bool, continuous);
        QFETCH(bool, trig);
        QFETCH(bool, toggleBefore);
        QFETCH(int, mode);
        QFETCH(bool, toggle);
        QFETCH(QString, value1);
        QFETCH(QString, value2);

        MotionSettings before;
        before.MotionToggle = toggleBefore;
        before.MotionValue1 = QStringLiteral("old");
        const MotionSettings after
            = decideMotion(trig, continuous, QStringLiteral(" 500"), QStringLiteral("x"), before);
        QCOMPARE(int(after.MotionMode), mode);
        QCOMPARE(after.MotionToggle, toggle);
        QCOMPARE(after.MotionValue1, value1);
        QCOMPARE(after.MotionValue2, value2);
    }
};

QTEST_GUILESS_MAIN(TestMotionSettings)
#include "tst_motionsettings.moc"
