#include "ParameterReply.h"
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

        QTest::newRow("blanks") << " -12 " << true << -12;
        QTest::newRow("half to even down") << "2.5" << true << 2;
        QTest::newRow("half to even up") << "3.5" << true << 4;
        QTest::newRow("highest") << "32767" << true << 32767;
        QTest::newRow("rounds into range") << "-32768.5" << true << -32768;
        QTest::newRow("rounds out of range") << "32767.5" << false << 0;
        QTest::newRow("too small") << "-32769" << false << 0;
        QTest::newRow("trailing text") << "12x" << false << 0;
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

    // The value between "=" and the prompt, as a read shows it and a write's echo confirms it.
    void reply_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QVariant>("value"); // null: no value
        QTest::addColumn<QString>("box");
        QTest::addColumn<WriteEcho>("result");
        const QVariant none;
        const auto row
            = [](const char *name, const char *reply, const QVariant &value, const char *box,
                 WriteEcho result) { QTest::newRow(name) << reply << value << box << result; };
        using E = WriteEcho;
        row("echo", "WT 0 3 -32768=-32768 ok>", "-32768", "-32768", E::Confirmed);
        row("numbers not texts", "=7 ok>", "7", "007", E::Confirmed);
        row("first marks count", "=12 ok>=34 ok>", "12", "12", E::Confirmed);
        row("clamped by the drive", "=1000 ok>", "1000", "5000", E::Differs);
        row("empty value", "= ok>", "", "1", E::Differs);
        row("echo not a number", "=??? ok>", "???", "1", E::Differs);
        row("box not a number", "=1 ok>", "1", "one", E::Differs);
        row("box out of range", "=32767 ok>", "32767", "99999", E::Differs);
        row("no prompt", "=1500\r\n", none, "1500", E::NoValue);
        row("prompt before equals", "ok>=15 ok", none, "15", E::NoValue);
    }
    void reply()
    {
        QFETCH(QString, reply);
        QFETCH(QVariant, value);
        QFETCH(QString, box);
        QFETCH(WriteEcho, result);
        const auto v = parameterValue(reply);
        QCOMPARE(v ? QVariant(*v) : QVariant(), value);
        QCOMPARE(judgeWriteEcho(reply, box), result);
    }
};

QTEST_GUILESS_MAIN(TestWriteEcho)
#include "tst_writeecho.moc"
