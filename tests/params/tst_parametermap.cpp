#include "ParameterMap.h"

#include <QtTest>

Q_DECLARE_METATYPE(BoxArray)

class TestParameterMap final : public QObject {
    Q_OBJECT

private slots:
    void commands_data()
    {
        QTest::addColumn<BoxArray>("array");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("read");
        QTest::addColumn<QString>("write");

        const struct {
            const char *name;
            BoxArray array;
            int index;
            const char *address;
        } rows[] = {
            { "txtKG(0) KPP", BoxArray::KG, 0, "0 0" },
            { "txtKG(1) KFV", BoxArray::KG, 1, "0 1" },
            { "txtKG(2) KVP", BoxArray::KG, 2, "0 2" },
            { "txtKG(3) KVI", BoxArray::KG, 3, "0 3" },
            { "txtKG(4) KVV", BoxArray::KG, 4, "0 4" },
            { "txtKG(5) KFS", BoxArray::KG, 5, "0 5" },
            { "txtKG(6) KFD", BoxArray::KG, 6, "0 6" },
            { "txtKG(7) KGC", BoxArray::KG, 7, "0 7" },
            { "txtVG(0) VCW", BoxArray::VG, 0, "1 0" },
            { "txtVG(1) VIP", BoxArray::VG, 1, "1 1" },
            { "txtVG(2) VPX", BoxArray::VG, 2, "1 2" },
            { "txtVG(3) VT1", BoxArray::VG, 3, "1 3" },
            { "txtVG(4) VCF2", BoxArray::VG, 4, "1 10" },
            { "txtVG(5) VSV", BoxArray::VG, 5, "1 5" },
            { "txtVG(6) VCF", BoxArray::VG, 6, "1 6" },
            { "txtVG(7) VPK", BoxArray::VG, 7, "1 7" },
            { "txtVG(8) VI2", BoxArray::VG, 8, "1 8" },
            { "txtVG(9) VAC", BoxArray::VG, 9, "1 9" },
            { "txtVG(10) VT2", BoxArray::VG, 10, "1 11" },
            { "txtPOS(0) UP0", BoxArray::POS, 0, "2 0" },
            { "txtPOS(1) UP1", BoxArray::POS, 1, "2 1" },
            { "txtPOS(2) DN0", BoxArray::POS, 2, "3 0" },
            { "txtPOS(3) DN1", BoxArray::POS, 3, "3 1" },
            { "txtPOS(4) TH0", BoxArray::POS, 4, "4 0" },
            { "txtPOS(5) TH1", BoxArray::POS, 5, "4 1" },
        };
        for (const auto &r : rows)
            QTest::newRow(r.name) << r.array << r.index << QStringLiteral("RD %1").arg(r.address)
                                  << QStringLiteral("WT %1 -250").arg(r.address);
    }
    void commands()
    {
        QFETCH(BoxArray, array);
        QFETCH(int, index);
        QFETCH(QString, read);
        QFETCH(QString, write);
        QCOMPARE(ParameterMap::readCommand(array, index), read);
        QCOMPARE(ParameterMap::writeCommand(array, index, QStringLiteral("-250")), write);
    }

    void loadReadsEveryBoxOnceInOrder()
    {
        QStringList commands;
        for (const ParameterBox &b : ParameterMap::loadOrder())
            commands << ParameterMap::readCommand(b.array, b.index);
        QCOMPARE(commands.size(), 25);
        QCOMPARE(commands.removeDuplicates(), 0);
        QVERIFY(!commands.contains(QStringLiteral("RD 1 4")));
        QCOMPARE(commands.mid(19),
                 (QStringList { "RD 2 0", "RD 2 1", "RD 3 0", "RD 3 1", "RD 4 0", "RD 4 1" }));
    }
};

QTEST_GUILESS_MAIN(TestParameterMap)
#include "tst_parametermap.moc"
