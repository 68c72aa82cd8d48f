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
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("ordinal"); // the rows are in the order the load reads them

        using B = BoxArray;
        const struct {
            const char *name;
            BoxArray array;
            int index;
            const char *address;
        } rows[] = {
            { "txtKG(0) KPP", B::KG, 0, "0 0" },    { "txtKG(1) KFV", B::KG, 1, "0 1" },
            { "txtKG(2) KVP", B::KG, 2, "0 2" },    { "txtKG(3) KVI", B::KG, 3, "0 3" },
            { "txtKG(4) KVV", B::KG, 4, "0 4" },    { "txtKG(5) KFS", B::KG, 5, "0 5" },
            { "txtKG(6) KFD", B::KG, 6, "0 6" },    { "txtKG(7) KGC", B::KG, 7, "0 7" },
            { "txtVG(0) VCW", B::VG, 0, "1 0" },    { "txtVG(1) VIP", B::VG, 1, "1 1" },
            { "txtVG(2) VPX", B::VG, 2, "1 2" },    { "txtVG(3) VT1", B::VG, 3, "1 3" },
            { "txtVG(4) VCF2", B::VG, 4, "1 10" },  { "txtVG(5) VSV", B::VG, 5, "1 5" },
            { "txtVG(6) VCF", B::VG, 6, "1 6" },    { "txtVG(7) VPK", B::VG, 7, "1 7" },
            { "txtVG(8) VI2", B::VG, 8, "1 8" },    { "txtVG(9) VAC", B::VG, 9, "1 9" },
            { "txtVG(10) VT2", B::VG, 10, "1 11" }, { "txtPOS(0) UP0", B::POS, 0, "2 0" },
            { "txtPOS(1) UP1", B::POS, 1, "2 1" },  { "txtPOS(2) DN0", B::POS, 2, "3 0" },
            { "txtPOS(3) DN1", B::POS, 3, "3 1" },  { "txtPOS(4) TH0", B::POS, 4, "4 0" },
            { "txtPOS(5) TH1", B::POS, 5, "4 1" },
        };
        int ordinal = 0;
        for (const auto &r : rows)
            QTest::newRow(r.name) << r.array << r.index << QStringLiteral("RD %1").arg(r.address)
                                  << QStringLiteral("WT %1 -250").arg(r.address)
                                  << QString::fromLatin1(r.name).section(QLatin1Char(' '), 1)
                                  << ordinal++;
    }
    void commands()
    {
        QFETCH(BoxArray, array);
        QFETCH(int, index);
        QFETCH(QString, read);
        QFETCH(QString, write);
        QCOMPARE(ParameterMap::readCommand(array, index), read);
        QCOMPARE(ParameterMap::writeCommand(array, index, QStringLiteral("-250")), write);
        QFETCH(QString, name);
        QFETCH(int, ordinal);
        QCOMPARE(ParameterMap::name({ array, index }), name);
        const auto named = ParameterMap::boxNamed(name);
        QVERIFY(named && named->array == array && named->index == index);
        const QList<ParameterBox> order = ParameterMap::loadOrder();
        QCOMPARE(order.size(), 25);
        QVERIFY(order[ordinal].array == array && order[ordinal].index == index);
    }
};

QTEST_GUILESS_MAIN(TestParameterMap)
#include "tst_parametermap.moc"
