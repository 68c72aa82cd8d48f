#include "WriteEcho.h"

#include <QtTest>

Q_DECLARE_METATYPE(WriteEcho)

class TestWriteEcho final : public QObject {
    Q_OBJECT

private slots:
    void number_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");

        QTest::newRow("plain") << "1500" << true << 1500;
        QTest::newRow("leading zeros") << "007" << true << 7;
        QTest::newRow("blanks") << " -12 " << true << -12;
        QTest::newRow("plus") << "+3" << true << 3;
        QTest::newRow("half to even down") << "2.5" << true << 2;
        QTest::newRow("half to even up") << "3.5" << true << 4;
        QTest::newRow("negative half") << "-2.5" << true << -2;
        QTest::newRow("fraction") << "7.6" << true << 8;
        QTest::newRow("lowest") << "-32768" << true << -32768;
        QTest::newRow("highest") << "32767" << true << 32767;
        QTest::newRow("rounds into range") << "-32768.5" << true << -32768;
        QTest::newRow("rounds out of range") << "32767.5" << false << 0;
        QTest::newRow("too large") << "32768" << false << 0;
        QTest::newRow("too small") << "-40000" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("word") << "abc" << false << 0;
        QTest::newRow("marker") << "ER" << false << 0;
        QTest::newRow("trailing text") << "12x" << false << 0;
        QTest::newRow("infinity") << "inf" << false << 0;
        QTest::newRow("nan") << "nan" << false << 0;
    }
    void number()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        const auto n = parameterNumber(text);
        QCOMPARE(n.has_value(), valid);
        if (valid)
            QCOMPARE(int(*n), value);
    }

    void judge_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("box");
        QTest::addColumn<WriteEcho>("result");

        QTest::newRow("equal") << "WT 0 3 1500=1500 ok>"
                               << "1500" << WriteEcho::Confirmed;
        QTest::newRow("numbers not texts") << "=7 ok>"
                                           << "007" << WriteEcho::Confirmed;
        QTest::newRow("clamped by the drive") << "=1000 ok>"
                                              << "5000" << WriteEcho::Differs;
        QTest::newRow("no equals") << "WT 0 3 1500 ok>"
                                   << "1500" << WriteEcho::NoValue;
        QTest::newRow("marks too close") << "=1>"
                                         << "1" << WriteEcho::NoValue;
        QTest::newRow("echo not a number") << "=??? ok>"
                                           << "1" << WriteEcho::Differs;
        QTest::newRow("box not a number") << "=1 ok>"
                                          << "one" << WriteEcho::Differs;
        QTest::newRow("box out of range") << "=32767 ok>"
                                          << "99999" << WriteEcho::Differs;
    }
    void judge()
    {
        QFETCH(QString, reply);
        QFETCH(QString, box);
        QFETCH(WriteEcho, result);
        QCOMPARE(judgeWriteEcho(reply, box), result);
    }
};

QTEST_GUILESS_MAIN(TestWriteEcho)
#include "tst_writeecho.moc"
