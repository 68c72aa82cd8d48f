#include "ReplyValue.h"

#include <QtTest>

class TestReplyValue final : public QObject {
    Q_OBJECT

private slots:
    void variable_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("value");

        QTest::newRow("plain") << "1234 \r\n>" << true << "1234";
        QTest::newRow("negative") << "-120 ok>" << true << "-120";
        QTest::newRow("one digit") << "7 ok>" << true << "7";
        QTest::newRow("first prompt counts") << "5 ok>6 ok>" << true << "5";
        QTest::newRow("prompt at fourth") << "ab >" << false << "";
        QTest::newRow("prompt first") << ">" << false << "";
        QTest::newRow("no prompt") << "1234\r\n" << false << "";
        QTest::newRow("empty") << "" << false << "";
    }
    void variable()
    {
        QFETCH(QString, reply);
        QFETCH(bool, valid);
        QFETCH(QString, value);
        const auto v = variableValue(reply);
        QCOMPARE(v.has_value(), valid);
        if (valid)
            QCOMPARE(*v, value);
    }

    void hex_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("word");

        QTest::newRow("0100") << "0100\r\n>" << true << 0x100;
        QTest::newRow("FFFF is -1") << "FFFF\r\n>" << true << -1;
        QTest::newRow("8000") << "8000 ok>" << true << -32768;
        QTest::newRow("lower case") << "0a0f" << true << 0x0a0f;
        QTest::newRow("one digit") << "1" << true << 1;
        QTest::newRow("only four read") << "00401234>" << true << 0x40;
        QTest::newRow("short reply") << "1\r\n>" << false << 0;
        QTest::newRow("not hex") << "ER" << false << 0;
        QTest::newRow("blank inside") << "01 0" << false << 0;
        QTest::newRow("sign") << "-001" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("non-ASCII") << QString::fromLatin1("\xe9\xe9\xe9\xe9") << false << 0;
    }
    void hex()
    {
        QFETCH(QString, reply);
        QFETCH(bool, valid);
        QFETCH(int, word);
        const auto w = hexWord(reply);
        QCOMPARE(w.has_value(), valid);
        if (valid)
            QCOMPARE(int(*w), word);
    }
};

QTEST_GUILESS_MAIN(TestReplyValue)
#include "tst_replyvalue.moc"
