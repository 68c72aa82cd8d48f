#include "ControlArray.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

#include <cstdlib>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

class TstControlArray : public QObject
{
    Q_OBJECT

private slots:
    void keepsGivenIndicesWithGaps();
    void rangeForVisitsInIndexOrder();
    void missingIndexStopsTheProgram_data();
    void missingIndexStopsTheProgram();
};

void TstControlArray::keepsGivenIndicesWithGaps()
{
    QObject a, b, c;
    ControlArray<QObject> array("Label1");
    array.insert(22, &c);
    array.insert(0, &a);
    array.insert(9, &b);
    QCOMPARE(array.size(), 3);
    QCOMPARE(array.indices(), (QList<int> { 0, 9, 22 }));
    QCOMPARE(array[0], &a);
    QCOMPARE(array.at(9), &b);
    QCOMPARE(array[22], &c);
    QVERIFY(array.contains(9));
    QVERIFY(!array.contains(10));
    QVERIFY(!array.contains(-1));
    QCOMPARE(QByteArray(array.name()), QByteArray("Label1"));
}

void TstControlArray::rangeForVisitsInIndexOrder()
{
    QObject members[4];
    ControlArray<QObject> array;
    const int indices[] = { 16, 2, 40, 7 };
    for (int i = 0; i < 4; ++i)
        array.insert(indices[i], &members[i]);
    QList<QObject *> visited;
    for (QObject *member : array)
        visited.append(member);
    QCOMPARE(visited, (QList<QObject *> { &members[1], &members[3], &members[0], &members[2] }));
    QList<int> keys;
    for (auto it = array.begin(); it != array.end(); ++it)
        keys.append(it.key());
    QCOMPARE(keys, (QList<int> { 2, 7, 16, 40 }));
}

void TstControlArray::missingIndexStopsTheProgram_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("operator[] on a gap") << QStringLiteral("gap");
    QTest::newRow("at() beyond the end") << QStringLiteral("beyond");
    QTest::newRow("insert twice") << QStringLiteral("twice");
}

// The refusal ends the program, so it is watched from a child process running this binary.
void TstControlArray::missingIndexStopsTheProgram()
{
    QFETCH(QString, mode);
    QProcess child;
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments({ QStringLiteral("--refuse"), mode });
    child.start();
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    const QByteArray err = child.readAllStandardError();
    QVERIFY2(err.contains("Probe"), err.constData());
}

static int runRefusal(const char *mode)
{
    QObject member;
    ControlArray<QObject> array("Probe");
    array.insert(1, &member);
    array.insert(3, &member);
    if (std::strcmp(mode, "gap") == 0)
        return array[2] ? 0 : 1;
    if (std::strcmp(mode, "beyond") == 0)
        return array.at(4) ? 0 : 1;
    array.insert(3, &member);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--refuse") == 0) {
#ifdef Q_OS_UNIX
        // The abort is expected: no core file for it.
        const rlimit noCore { 0, 0 };
        setrlimit(RLIMIT_CORE, &noCore);
#endif
        return runRefusal(argv[2]);
    }
    QCoreApplication app(argc, argv);
    TstControlArray test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_controlarray.moc"
