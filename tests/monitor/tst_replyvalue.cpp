#include "ReplyValue.h"

#include <QtTest>

// What a variable reply ("RV n") and a status word reply show, for the same replies.
class TestReplyValue final : public QObject {
    Q_OBJECT

private slots:
    void reply_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QVariant>("value"); // the variable; null: none
        QTest::addColumn<QVariant>("word"); // the hex word; null: none
        const QVariant none;
        const auto row
            = [](const char *name, const QString &reply, const QVariant &value,
                 const QVariant &word) { QTest::newRow(name) << reply << value << word; };
        row("plain", "1234 \r\n>", "1234", 0x1234);
        row("one digit", "7 ok>", "7", none);
        row("first prompt counts", "5 ok>6 ok>", "5", none);
        row("FFFF is -1", "FFFF\r\n>", "FFF", -1);
        row("lower case", "0a0f", none, 0x0a0f);
        row("one character", "1", none, 1);
        row("prompt at fourth", "ab >", none, none);
        row("non-ASCII", QString::fromLatin1("\xe9\xe9\xe9\xe9"), none, none);
    }
    void reply()
    {
        QFETCH(QString, reply);
        QFETCH(QVariant, value);
        QFETCH(QVariant, word);
        const auto v = variableValue(reply);
        QCOMPARE(v ? QVariant(*v) : QVariant(), value);
        const auto w = hexWord(reply);
        QCOMPARE(w ? QVariant(int(*w)) : QVariant(), word);
    }
};

QTEST_GUILESS_MAIN(TestReplyValue)
#include "tst_replyvalue.moc"
