// Drives on the network: the console and vcm-tool against the drive simulator behind a real
// ser2net on loopback, one raw TCP port and one RFC 2217 port in front of the same line.
#include "Ser2net.h"
#include "SimBench.h"

namespace {
// Whether the device's line settings, as the kernel holds them, hold all of `words`.
bool stty(const QString &device, const QString &words)
{
    QProcess p;
    p.start(QStringLiteral("stty"), { QStringLiteral("-a"), QStringLiteral("-F"), device });
    p.waitForFinished(5000);
    const QStringList got = QString::fromLocal8Bit(p.readAllStandardOutput())
                                .split(QRegularExpression(QStringLiteral("[\\s;]+")));
    const QStringList want = words.split(QLatin1Char(' '));
    return std::all_of(want.begin(), want.end(), [&](const QString &w) { return got.contains(w); });
}
} // namespace

class TestNetwork final : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY2(!Ser2net::program().isEmpty(), "no ser2net: scripts/setup installs it");
    }

    // A server that refuses is a port that does not exist. Through the raw port the console
    // connects, scans, selects (which loads), polls and captures. ser2net stopped mid-run is a line
    // that is gone; RESET finds it again.
    void consoleOverRawTcp()
    {
        const QString link = m_dir.filePath(QStringLiteral("bus"));
        Ser2net server(link);
        QVERIFY(server.start());
        SimBench b({ "--fast", "--stations", "1", "--new-recorder", "1", "--link", link },
                   server.rawPort());
        b.form.listComPort->setText(QStringLiteral("socket://127.0.0.1:1")); // refused
        b.form.cmdCommStart->click();
        b.settle();
        QCOMPARE(b.messages.texts, QStringList { "Fail, COM Port does not exist!" });
        b.messages.texts.clear();
        b.form.listComPort->setText(server.rawPort());
        QVERIFY(b.connect(1, true));
        QCOMPARE(b.messages.texts,
                 (QStringList { "COM Port Open Success", "VCM Driver Board communication OK" }));
        QCOMPARE(b.form.Combo1->count(), 1);
        QVERIFY(b.shows("selected KG0=# VG0=# POS0=#"));
        b.messages.texts.clear();
        b.startScope("100");
        QCOMPARE(b.messages.texts, QStringList { "Setup OK" });
        QCOMPARE(b.tick(), QString());
        QVERIFY(b.shows("ticked plot RG*=#"));

        server.stop();
        QElapsedTimer t;
        t.start();
        QVERIFY(b.tick().startsWith(QStringLiteral("Communication error")));
        QVERIFY(t.elapsed() < 1000 && !b.port->isUsable());
        QVERIFY(server.start());
        b.messages.texts.clear();
        b.form.Command1->click();
        b.settle();
        QVERIFY(b.form.Timer1->isActive());
        QCOMPARE(b.messages.texts, QStringList());
        QCOMPARE(b.tick(), QString());
        QVERIFY(b.shows("plot RG*=#"));
    }

    // ser2net gives a telnet client 9600 baud, 2 stop bits and hardware flow control until the
    // COM-port negotiation sets the drive line's 38400 8N1, no flow control. (A pseudo-terminal
    // keeps no parity and always 8 bits: those only show in ser2net's answers.)
    void lineSettingsAfterNegotiation()
    {
        SimProcess sim({ "--fast", "--stations", "1" });
        Ser2net server(sim.path(), QStringLiteral("9600o72,rtscts"));
        QVERIFY(server.start());
        QTcpSocket plain; // a telnet client that negotiates nothing
        plain.connectToHost(QHostAddress::LocalHost, server.telnetPort());
        QVERIFY(plain.waitForConnected(1000));
        QTRY_VERIFY(stty(sim.path(), "9600 cstopb crtscts"));
        plain.abort();

        SystemSerialPort port;
        port.setPortName(server.rfc2217Port());
        QVERIFY2(port.open(), qPrintable(port.errorString()));
        QVERIFY(stty(sim.path(), "38400 cs8 -parenb -cstopb -crtscts"));
    }

    // vcm-tool through the RFC 2217 port: reads, writes and captures; an opening that fails
    // exits 3 and names the cause. "@held": another client holds the port.
    void toolOverRfc2217_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out"); // a pattern stdout matches
        QTest::addColumn<QString>("err"); // text stderr holds
        QTest::newRow("read") << QStringList { "read" } << 0
                              << "^# VCM drive parameter set\n.*\n(\\w+ = -?\\d+\n){25}$"
                              << "";
        QTest::newRow("set") << QStringList { "set", "KPP=300" } << 0 << "^KPP=300 confirmed\n$"
                             << "";
        QTest::newRow("capture") << QStringList { "capture", "--channels", "PCMD,PFBK" } << 0
                                 << "^time_ms,PCMD,PFBK\n(-?[\\d.]+,-?\\d+,-?\\d+\n){256}$"
                                 << "";
        QTest::newRow("in use") << QStringList { "@held", "status" } << 3 << "^$"
                                << "is in use: the server said \"Port already in use\"";
        QTest::newRow("refused") << QStringList { "--port", "socket://127.0.0.1:@free", "status" }
                                 << 3 << "^$"
                                 << "127.0.0.1:@free refused the connection";
        QTest::newRow("no port number")
            << QStringList { "--port", "rfc2217://127.0.0.1", "scan" } << 2 << "^$"
            << "no port number after the host";
    }
    void toolOverRfc2217()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        SimProcess sim({ "--fast", "--stations", "1" });
        Ser2net server(sim.path(), QStringLiteral("9600o72"));
        QVERIFY(server.start());
        SystemSerialPort held;
        held.setPortName(server.rfc2217Port());
        QVERIFY(!args.contains("@held") || held.open());
        args.removeAll(QStringLiteral("@held"));
        const QString free = QString::number(Ser2net::freePort());
        args.replaceInStrings(QStringLiteral("@free"), free);

        QProcess tool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VCM_PORT"), server.rfc2217Port());
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral(VCM_TOOL), args);
        QVERIFY(tool.waitForFinished(60000));
        const QString stdoutText = QString::fromUtf8(tool.readAllStandardOutput());
        const QString stderrText = QString::fromUtf8(tool.readAllStandardError());
        QVERIFY2(tool.exitCode() == exitCode, qPrintable(stderrText));
        QVERIFY2(QRegularExpression(out).match(stdoutText).hasMatch(), qPrintable(stdoutText));
        QVERIFY2(stderrText.contains(err.replace(QLatin1String("@free"), free)),
                 qPrintable(stderrText));
    }
};

QTEST_MAIN(TestNetwork)
#include "tst_network.moc"
