#include "SimHarness.h"

#include <QRegularExpression>
#include <QtTest>

class TestSimProtocol : public QObject
{
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void consoleCutsTheValue_data();
    void consoleCutsTheValue();
    void onlyTheAddressedStationAnswers();
    void absentStationStaysSilent();
    void badStationNumberKeepsTheAddress();
    void lineAssembly_data();
    void lineAssembly();
    void writeEchoesTheClampedValue_data();
    void writeEchoesTheClampedValue();
    void commandSourceRefusedWhileServoOn();
    void faults_data();
    void faults();
    void delayedAndSplitReplies();
    void lineNoiseNeverBreaksTheBus();
};

void TestSimProtocol::replies_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("pattern");

    const QString end = QStringLiteral(";\\r\\n>$");
    QTest::newRow("variable") << "RV 1"
                              << "^-?\\d+" + end;
    QTest::newRow("current feedback") << "RV 7"
                                      << "^-?\\d+" + end;
    QTest::newRow("status word") << "RV 8"
                                 << "^[0-9A-F]{4}" + end;
    QTest::newRow("mode word") << "RV 10"
                               << "^[0-9A-F]{4}" + end;
    QTest::newRow("no variable 9") << "RV 9"
                                   << "^\\?3" + end;
    QTest::newRow("gain") << "RD 0 0"
                          << "^KPP=250" + end;
    QTest::newRow("item 10 of group 1") << "RD 1 10"
                                        << "^VCF2=1500" + end;
    QTest::newRow("item 11 of group 1") << "RD 1 11"
                                        << "^VT2=2" + end;
    QTest::newRow("hidden item 4") << "RD 1 4"
                                   << "^VER=112" + end;
    QTest::newRow("position group") << "RD 4 1"
                                    << "^TH1=5000" + end;
    QTest::newRow("recorder interval") << "RD 9 4"
                                       << "^RIV=10" + end;
    QTest::newRow("no such item") << "RD 0 8"
                                  << "^\\?3" + end;
    QTest::newRow("missing item") << "RD 0"
                                  << "^\\?2" + end;
    QTest::newRow("lower case") << "rd 0 1"
                                << "^KFV=50" + end;
    QTest::newRow("extra blanks") << "RD  0   2"
                                  << "^KVP=100" + end;
    QTest::newRow("save") << "SV"
                          << "^OK" + end;
    QTest::newRow("source up/down") << "UD 1"
                                    << "^OK" + end;
    QTest::newRow("source 2") << "UD 2"
                              << "^\\?2" + end;
    QTest::newRow("channels") << "RC 1 8"
                              << "^OK" + end;
    QTest::newRow("one channel") << "RC 1"
                                 << "^\\?2" + end;
    QTest::newRow("channel 9") << "RC 1 9"
                               << "^\\?2" + end;
    QTest::newRow("arm") << "RN 0 1"
                         << "^OK" + end;
    QTest::newRow("arm badly") << "RN 1"
                               << "^\\?2" + end;
    QTest::newRow("upload") << "RO"
                            << "^RO:(-?\\d+,){512}" + end;
    QTest::newRow("unknown") << "XY 1"
                             << "^\\?1" + end;
    QTest::newRow("empty line") << ""
                                << "^" + end;
}

void TestSimProtocol::replies()
{
    QFETCH(QString, command);
    QFETCH(QString, pattern);
    SimHarness sim;
    QCOMPARE(sim.exchange("ST 0"), QStringLiteral("OK;\r\n>"));
    const QString reply = sim.exchange(command.toStdString(), 200000);
    QVERIFY2(QRegularExpression(pattern).match(reply).hasMatch(), qPrintable(reply));
}

void TestSimProtocol::consoleCutsTheValue_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("parameter");
    QTest::addColumn<QString>("value");
    QTest::newRow("RD") << "RD 0 3" << true << "100";
    QTest::newRow("WT") << "WT 2 1 250" << true << "250";
    QTest::newRow("RV 8") << "RV 8" << false << "0810";
    QTest::newRow("RV 10") << "RV 10" << false << "0000";
    QTest::newRow("RV 0") << "RV 0" << false << "-4905";
}

// The console cuts values three characters before the first ">", after the first "="
// for parameters and from the start for variables.
void TestSimProtocol::consoleCutsTheValue()
{
    QFETCH(QString, command);
    QFETCH(bool, parameter);
    QFETCH(QString, value);
    SimHarness sim;
    sim.exchange("ST 0");
    const QString reply = sim.exchange(command.toStdString());
    const int prompt = reply.indexOf('>');
    const int start = parameter ? reply.indexOf('=') + 1 : 0;
    QVERIFY(prompt > 3);
    QCOMPARE(reply.mid(start, prompt - 3 - start), value);
}

void TestSimProtocol::onlyTheAddressedStationAnswers()
{
    SimHarness sim({ 1, 5 });
    QCOMPARE(sim.exchange("ST 5"), QStringLiteral("OK;\r\n>"));
    QCOMPARE(sim.exchange("WT 0 0 400"), QStringLiteral("KPP=400;\r\n>"));
    QCOMPARE(sim.bus.station(5)->parameters().value(0, 0), 400);
    QCOMPARE(sim.bus.station(1)->parameters().value(0, 0), 250);
    QCOMPARE(sim.exchange("ST 1"), QStringLiteral("OK;\r\n>"));
    QCOMPARE(sim.exchange("RD 0 0"), QStringLiteral("KPP=250;\r\n>"));
}

void TestSimProtocol::absentStationStaysSilent()
{
    SimHarness sim({ 1, 5 });
    QCOMPARE(sim.exchange("RV 8"), QString()); // nobody addressed yet
    QCOMPARE(sim.exchange("ST 1"), QStringLiteral("OK;\r\n>"));
    QCOMPARE(sim.exchange("ST 2"), QString());
    QCOMPARE(sim.exchange("RV 8"), QString());
    QCOMPARE(sim.exchange("WT 0 0 400"), QString());
    QCOMPARE(sim.bus.station(1)->parameters().value(0, 0), 250);
}

void TestSimProtocol::badStationNumberKeepsTheAddress()
{
    SimHarness sim({ 1 });
    sim.exchange("ST 1");
    QCOMPARE(sim.exchange("ST 16"), QStringLiteral("?2;\r\n>"));
    QCOMPARE(sim.exchange("ST x"), QStringLiteral("?2;\r\n>"));
    QCOMPARE(sim.exchange("RD 0 0"), QStringLiteral("KPP=250;\r\n>"));
}

void TestSimProtocol::lineAssembly_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reply");
    QTest::newRow("CR") << QByteArray("RD 0 0\r") << "KPP=250;\r\n>";
    QTest::newRow("CR LF is one line") << QByteArray("RD 0 0\r\n") << "KPP=250;\r\n>";
    QTest::newRow("LF alone") << QByteArray("RD 0 0\n") << "KPP=250;\r\n>";
    QTest::newRow("NUL ignored") << QByteArray("RD\0 0 0\r", 8) << "KPP=250;\r\n>";
    QTest::newRow("backspace") << QByteArray("RD 0 1\b0\r") << "KPP=250;\r\n>";
    QTest::newRow("high bytes") << QByteArray("R\xff\xfe 0\r") << "?1;\r\n>";
    QTest::newRow("overlong") << QByteArray(500, 'W') + "\rRD 0 0\r"
                              << "?5;\r\n>KPP=250;\r\n>";
    QTest::newRow("huge number") << QByteArray("WT 0 0 999999999999999999999999\r")
                                 << "KPP=20000;\r\n>";
}

void TestSimProtocol::lineAssembly()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reply);
    SimHarness sim;
    sim.exchange("ST 0");
    sim.bus.receive(bytes.toStdString(), sim.nowUs);
    QCOMPARE(QString::fromLatin1(sim.bus.takeDue(sim.nowUs).c_str()), reply);
}

void TestSimProtocol::writeEchoesTheClampedValue_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("echo");
    QTest::newRow("in range") << "WT 0 3 150"
                              << "KVI=150";
    QTest::newRow("leading zeros") << "WT 0 3 007"
                                   << "KVI=7";
    QTest::newRow("above") << "WT 0 1 150"
                           << "KFV=100";
    QTest::newRow("below") << "WT 1 0 5"
                           << "VCW=100";
    QTest::newRow("negative") << "WT 0 7 -2500"
                              << "KGC=-2000";
    QTest::newRow("read-only") << "WT 1 4 1"
                               << "VER=112";
    QTest::newRow("interval") << "WT 9 4 0"
                              << "RIV=1";
    QTest::newRow("empty value") << "WT 9 4"
                                 << "?2";
    QTest::newRow("fraction") << "WT 0 3 1.5"
                              << "?2";
    QTest::newRow("text") << "WT 0 3 abc"
                          << "?2";
    QTest::newRow("no parameter") << "WT 5 0 1"
                                  << "?3";
}

void TestSimProtocol::writeEchoesTheClampedValue()
{
    QFETCH(QString, command);
    QFETCH(QString, echo);
    SimHarness sim;
    sim.exchange("ST 0");
    QCOMPARE(sim.exchange(command.toStdString()), echo + ";\r\n>");
    // What the echo says is what the drive holds.
    if (echo.contains('=')) {
        const QStringList words = command.split(' ');
        const QString read
                = sim.exchange(QStringLiteral("RD %1 %2").arg(words[1], words[2]).toStdString());
        QCOMPARE(read, echo + ";\r\n>");
    }
}

void TestSimProtocol::commandSourceRefusedWhileServoOn()
{
    SimHarness sim;
    sim.exchange("ST 0");
    sim.bus.station(0)->setServoInput(true);
    QCOMPARE(sim.exchange("UD 1"), QStringLiteral("?4;\r\n>"));
    QCOMPARE(sim.exchange("RV 10"), QStringLiteral("0000;\r\n>"));
    sim.bus.station(0)->setServoInput(false);
    QCOMPARE(sim.exchange("UD 1"), QStringLiteral("OK;\r\n>"));
    QCOMPARE(sim.exchange("RV 10"), QStringLiteral("0040;\r\n>"));
}

void TestSimProtocol::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("reply");
    QTest::newRow("silent") << "silent"
                            << "RD 0 0"
                            << "";
    QTest::newRow("silent to ST") << "silent"
                                  << "ST 0"
                                  << "";
    QTest::newRow("garbage") << "garbage"
                             << "RD 0 0" << QString::fromLatin1("\x15~\xFFKPP=250;\r\n>");
    QTest::newRow("no-equals") << "no-equals"
                               << "WT 0 0 300"
                               << "KPP 300;\r\n>";
    QTest::newRow("bad-status") << "bad-status"
                                << "RV 8"
                                << "ZZZZ;\r\n>";
    QTest::newRow("bad mode word") << "bad-status"
                                   << "RV 10"
                                   << "ZZZZ;\r\n>";
    QTest::newRow("variables unaffected") << "bad-status"
                                          << "RV 2"
                                          << "0;\r\n>";
}

void TestSimProtocol::faults()
{
    QFETCH(QString, fault);
    QFETCH(QString, command);
    QFETCH(QString, reply);
    SimHarness sim;
    sim.exchange("ST 0");
    FaultSet &f = sim.bus.station(0)->faults();
    f.silent = fault == "silent";
    f.garbage = fault == "garbage";
    f.noEquals = fault == "no-equals";
    f.badStatus = fault == "bad-status";
    QCOMPARE(sim.exchange(command.toStdString()), reply);
}

void TestSimProtocol::delayedAndSplitReplies()
{
    SimHarness sim;
    sim.exchange("ST 0");
    FaultSet &f = sim.bus.station(0)->faults();
    f.delayMs = 250;
    f.splitPromptMs = 40;
    sim.bus.receive("RD 0 0\r", sim.nowUs);
    const std::int64_t sent = sim.nowUs;
    QCOMPARE(sim.bus.takeDue(sent + 249000), std::string());
    QCOMPARE(sim.bus.takeDue(sent + 250000), std::string("KPP=250;\r\n"));
    QCOMPARE(sim.bus.takeDue(sent + 289000), std::string());
    QCOMPARE(sim.bus.takeDue(sent + 290000), std::string(">"));
    sim.bus.receive("RD 0 0\r", sent + 300000);
    sim.bus.discardPending(); // the line went away
    QVERIFY(!sim.bus.nextDue());
}

// Random bytes and fragments of real commands: every reply still ends with the prompt,
// and the bus answers normally afterwards.
void TestSimProtocol::lineNoiseNeverBreaksTheBus()
{
    SimHarness sim({ 0, 15 });
    QRandomGenerator random(1234);
    const char *pieces[] = { "ST 0",    "ST 15", "RO",  "RN 0 1", "WT 9 4 ", "RC 8 8",
                             "WT 2 0 ", "RD 1 ", "UD ", "SV",     "-",       "99999999999999999999",
                             "\r",      "\n",    " " };
    for (int round = 0; round < 2000; ++round) {
        std::string bytes;
        for (int i = random.bounded(1, 12); i > 0; --i) {
            if (random.bounded(2))
                bytes += pieces[random.bounded(int(std::size(pieces)))];
            else
                bytes += char(random.bounded(256));
        }
        sim.bus.receive(bytes, sim.nowUs);
        sim.runMs(random.bounded(5));
        const std::string out = sim.bus.takeDue(sim.nowUs);
        QVERIFY(out.empty() || out.back() == '>');
    }
    sim.bus.receive("\r", sim.nowUs);
    sim.bus.takeDue(sim.nowUs);
    QCOMPARE(sim.exchange("ST 0"), QStringLiteral("OK;\r\n>"));
    QVERIFY(sim.exchange("RV 1").endsWith(";\r\n>"));
}

QTEST_GUILESS_MAIN(TestSimProtocol)
#include "tst_simprotocol.moc"
