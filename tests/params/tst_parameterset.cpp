#include "ParameterSet.h"

#include <QTemporaryDir>
#include <QtTest>

class TestParameterSet final : public QObject {
    Q_OBJECT

private slots:
    // Each rule of the file format. An accepted file is written back canonically (the lines
    // after the two comment lines) and read again to the same set; a refused one names the
    // line (0: the whole file) and the reason.
    void format_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("line"); // -1: accepted
        QTest::addColumn<QString>("expected"); // canonical lines, or part of the reason

        QByteArray all;
        QString canonical;
        for (const ParameterBox &box : ParameterMap::loadOrder()) {
            const int v = -300 + 25 * ParameterMap::ordinal(box);
            all.prepend(ParameterMap::name(box).toLatin1() + "=" + QByteArray::number(v) + "\n");
            canonical += QStringLiteral("%1 = %2\n").arg(ParameterMap::name(box)).arg(v);
        }
        const auto ok = [](const char *name, const QByteArray &file, const QString &expected) {
            QTest::newRow(name) << file << -1 << expected;
        };
        const auto bad = [](const char *name, const QByteArray &file, int line, const char *why) {
            QTest::newRow(name) << file << line << QString::fromUtf8(why);
        };
        ok("all 25, any order, written in box order", all, canonical);
        ok("partial set", "KPP = 300\n", "KPP = 300\n");
        ok("blanks around = optional", "KPP=300\n  KVP =\t-120  \n", "KPP = 300\nKVP = -120\n");
        ok("comments and blank lines", "# a\n\n   # b\nTH1 = 1\n\n", "TH1 = 1\n");
        ok("CRLF", "# a\r\nKPP = 1\r\n\r\nKFV = 2\r\n", "KPP = 1\nKFV = 2\n");
        ok("byte order mark, no last line end", "\xEF\xBB\xBFKPP = 1", "KPP = 1\n");
        ok("range ends, sign, leading zeros", "KGC = -32768\nTH1 = +32767\nKPP = 007",
           "KPP = 7\nKGC = -32768\nTH1 = 32767\n");
        ok("64 KiB exactly", QByteArray(64 * 1024 - 9, '#') + "\nKPP = 1\n", "KPP = 1\n");

        bad("unknown name", "KPP = 1\nKPX = 2\n", 2, "unknown name \"KPX\"");
        bad("lower-case name", "kpp = 1\n", 1, "unknown name");
        bad("name twice", "KPP = 1\n# again\nKPP = 1\n", 3, "KPP given twice (first on line 1)");
        bad("fraction", "KPP = 1.5\n", 1, "not an integer");
        bad("no value", "KPP =\n", 1, "not an integer");
        bad("above range", "KVP = 1\nKPP = 32768\n", 2, "out of range");
        bad("below range", "KPP = -32769\n", 1, "out of range");
        bad("far out of range", "KPP = 99999999999999999999999\n", 1, "out of range");
        bad("no equals sign", "KPP 300\n", 1, "not NAME = value");
        bad("a name alone", "KPP\n", 1, "not NAME = value");
        bad("no name", "= 300\n", 1, "not NAME = value");
        bad("blank inside the name", "K PP = 3\n", 1, "not NAME = value");
        bad("empty", "", 0, "empty");
        bad("comments only", "# nothing\n\n", 0, "names no parameter");
        bad("binary", QByteArray("KPP = 1\n\177ELF\2\1\0\0", 16), 2, "binary");
        bad("not UTF-8", "KPP = 1\n# caf\xE9\n", 2, "not UTF-8");
        bad("over 64 KiB", QByteArray(64 * 1024 - 8, '#') + "\nKPP = 1\n", 0, "64 KiB");
    }
    void format()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, line);
        QFETCH(QString, expected);

        const ParameterSetParse p = parseParameterSet(file);
        if (line >= 0) {
            QVERIFY(!p.ok);
            QCOMPARE(p.line, line);
            QVERIFY2(p.reason.contains(expected), qPrintable(p.reason));
            return;
        }
        QVERIFY2(p.ok, qPrintable(p.message()));
        const QString text
            = formatParameterSet(p.set, 5, QDateTime({ 2026, 12, 6 }, { 14, 3, 11 }));
        QCOMPARE(text,
                 "# VCM drive parameter set\n# station 5, read 2026-12-06 14:03:11\n" + expected);
        QVERIFY(parseParameterSet(text.toUtf8()).set == p.set);
    }

    void fileTooLargeIsNotRead()
    {
        QTemporaryDir dir;
        QFile big(dir.filePath(QStringLiteral("big.vcmpar")));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(qint64(1) << 32));
        big.close();
        QVERIFY(readParameterSetFile(big.fileName()).reason.contains(QStringLiteral("64 KiB")));
        QCOMPARE(readParameterSetFile(dir.filePath(QStringLiteral("none"))).ok, false);
    }

    // What a window needs: a set from its boxes, and where a file differs from them.
    void boxes()
    {
        QStringList texts(ParameterMap::Count, QStringLiteral("250"));
        texts[0] = QStringLiteral("ER");
        texts[2] = QStringLiteral("007");
        QStringList unconfirmed;
        const ParameterSet shown = parameterSetFromTexts(texts, &unconfirmed);
        QCOMPARE(unconfirmed, QStringList { "KPP" });
        QCOMPARE(shown.count(), 24);

        ParameterSet file = parseParameterSet("KPP = 250\nKVP = 7\nKVI = 250\nTH1 = 9\n").set;
        const QList<ParameterDifference> d = parameterDifferences(file, texts);
        QCOMPARE(d.size(), 2);
        QCOMPARE(ParameterMap::name(d[0].box), QStringLiteral("KPP"));
        QCOMPARE(d[0].shown, QStringLiteral("ER"));
        QCOMPARE(int(d[1].value), 9);
    }
};

QTEST_GUILESS_MAIN(TestParameterSet)
#include "tst_parameterset.moc"
