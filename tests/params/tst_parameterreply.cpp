#include "ParameterReply.h"

#include <QtTest>

class TestParameterReply final : public QObject {
    Q_OBJECT

private slots:
    void value_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("value");

        QTest::newRow("read") << "RD 0 0=1500 \r\n>" << true << "1500";
        QTest::newRow("echo") << "=-32768 ok>" << true << "-32768";
        QTest::newRow("empty value") << "= ok>" << true << "";
        QTest::newRow("marks too close") << "=1>" << false << "";
        QTest::newRow("no equals") << "1500 ok>" << false << "";
        QTest::newRow("no prompt") << "=1500\r\n" << false << "";
        QTest::newRow("prompt before equals") << "ok>=15 ok" << false << "";
        QTest::newRow("first marks count") << "=12 ok>=34 ok>" << true << "12";
    }
    void value()
    {
        QFETCH(QString, reply);
        QFETCH(bool, valid);
        QFETCH(QString, value);
        const auto v = parameterValue(reply);
        QCOMPARE(v.has_value(), valid);
        if (valid)
            QCOMPARE(*v, value);
    }
};

QTEST_GUILESS_MAIN(TestParameterReply)
#include "tst_parameterreply.moc"
