// Drives on the network: the console and vcm-tool against the drive simulator behind a real
// ser2net on loopback, one raw TCP port and one RFC 2217 port in front of the same line; a scan
// that loses its line; and servers that flood, stop reading, trickle or go silent.
#include "OwnNamespace.h"
#include "ResidentMemory.h"
#include "Ser2net.h"
#include "SimBench.h"
#include "TcpPeer.h"

#include "DriveLine.h"

#if defined(__SANITIZE_ADDRESS__)
constexpr bool AddressSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool AddressSanitized = true;
#else
constexpr bool AddressSanitized = false;
#endif
#else
constexpr bool AddressSanitized = false;
#endif

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

// vcm-tool run to its end: what it said, how long it took, its largest resident size.
struct ToolRun {
    int exitCode = -1;
    QString out, err;
    qint64 ms = 0;
    long maxRssKb = 0;
};

// `atMs` into the run, `then` is called once (a line pulled, a server stopped).
ToolRun runTool(const QStringList &args, int atMs = -1, const std::function<void()> &then = {})
{
    ToolRun run;
    QProcess tool;
    QElapsedTimer t;
    t.start();
    tool.start(QStringLiteral(VCM_TOOL), args);
    if (!tool.waitForStarted(5000))
        return run;
    bool done = false;
    while (!tool.waitForFinished(20) && t.elapsed() < 30000) {
        run.maxRssKb = std::max(run.maxRssKb, residentKb(tool.processId()));
        if (!done && atMs >= 0 && t.elapsed() >= atMs) {
            done = true;
            if (then)
                then();
        }
    }
    run.ms = t.elapsed();
    if (tool.state() != QProcess::NotRunning) {
        tool.kill();
        tool.waitForFinished(2000);
        return run;
    }
    run.exitCode = tool.exitCode();
    run.out = QString::fromUtf8(tool.readAllStandardOutput());
    run.err = QString::fromUtf8(tool.readAllStandardError());
    return run;
}

// A server in front of drives at `stations`: each "ST n" of one of them answered at once.
TcpPeer::Script drives(QList<int> stations)
{
    return [stations](TcpPeer::Side &s) {
        while (!s.stopping() && s.connected()) {
            const qsizetype from = s.heard.size();
            if (!s.readUntil("\r", 100))
                continue;
            const QByteArray line = s.heard.mid(from).trimmed();
            if (line.startsWith("ST ") && stations.contains(line.mid(3).toInt()))
                s.send("\r\n>");
        }
    };
}

} // namespace

Q_DECLARE_METATYPE(TcpPeer::Script)

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

        if (!args.contains("--port"))
            args = QStringList { "--port", server.rfc2217Port() } + args;
        const ToolRun run = runTool(args);
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.err));
        QVERIFY2(QRegularExpression(out).match(run.out).hasMatch(), qPrintable(run.out));
        QVERIFY2(run.err.contains(err.replace(QLatin1String("@free"), free)), qPrintable(run.err));
    }

    // A scan that loses its line 1.5 s in (the drive's pseudo-terminal closed, ser2net
    // stopped) exits 3 at once and names the loss; the station found before is no scan.
    void scanLosesItsLine_data()
    {
        QTest::addColumn<QString>("via");
        QTest::addColumn<QString>("err");
        QTest::newRow("pseudo-terminal closed") << "pty"
                                                << "was lost (unplugged, or its other end closed)";
        QTest::newRow("ser2net stopped, socket://") << "socket"
                                                    << "was lost: the server closed it";
        QTest::newRow("ser2net stopped, rfc2217://") << "rfc2217"
                                                     << "was lost: the server closed it";
    }
    void scanLosesItsLine()
    {
        QFETCH(QString, via);
        QFETCH(QString, err);
        SimProcess sim({ "--fast", "--stations", "1,5" });
        Ser2net server(sim.path());
        QVERIFY(via == "pty" || server.start());
        const QString port = via == "pty" ? sim.path()
            : via == "socket"             ? server.rawPort()
                                          : server.rfc2217Port();
        const ToolRun run = runTool({ "--port", port, "scan" }, 1500, [&] {
            if (via == "pty")
                sim.command(QStringLiteral("line drop"));
            else
                server.stop();
        });
        QVERIFY2(run.exitCode == 3, qPrintable(run.err));
        QVERIFY2(run.err.contains(QRegularExpression(QStringLiteral("no answer to \"ST \\d+\": ")))
                     && run.err.contains(err),
                 qPrintable(run.err));
        QCOMPARE(run.out, QStringLiteral("1\n"));
        QVERIFY2(run.ms < 1500 + 1000, qPrintable(QString::number(run.ms)));
    }

    // Servers that flood, never read, never end a subnegotiation, trickle, or go silent: the
    // tool and the console end within their limits with the message named, in bounded memory.
    void hostileServer_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<TcpPeer::Script>("script");
        QTest::addColumn<int>("lossAtMs"); // the loopback goes down then; -1 never
        QTest::addColumn<QString>("err"); // what the tool's stderr holds
        QTest::addColumn<int>("toolMs"); // the tool ends within
        QTest::addColumn<QStringList>("console"); // the window's messages after Start
        QTest::addColumn<int>("consoleMs"); // Start and a scan end within
        QTest::addColumn<bool>("lost"); // the window's scan says the port was lost
        const QString none = QStringLiteral("vcm-tool: no station answered");
        const QStringList opened { "COM Port Open Success" };

        // A scan's own waits come to 32 x 210 ms, 6.7 s; a flood that held each exchange to the
        // long timeout would take 64 s, so a slow machine gets room.
        QTest::newRow("flood of option requests")
            << "rfc2217" << TcpPeer::Script([](TcpPeer::Side &s) {
                   s.negotiate();
                   QByteArray flood;
                   for (int i = 0; i < 1000; ++i)
                       flood += Telnet::bytes(
                           { Telnet::IAC, i % 2 ? Telnet::DO : Telnet::WILL, 50 + i % 200 });
                   while (!s.stopping() && s.connected())
                       s.send(flood);
               })
            << -1 << none << 12000 << opened << 12000 << false;
        QTest::newRow("server that never reads")
            << "socket" << TcpPeer::Script([](TcpPeer::Side &s) { s.hold(60000); }) << -1 << none
            << 9000 << opened << 9000 << false;
        QTest::newRow("never-ending subnegotiation")
            << "rfc2217" << TcpPeer::Script([](TcpPeer::Side &s) {
                   s.negotiate();
                   s.readUntil("\r");
                   s.send(Telnet::bytes({ Telnet::IAC, Telnet::SB, Telnet::COM, 106 }));
                   while (!s.stopping() && s.connected())
                       s.send(QByteArray(1024, 'x'));
               })
            << -1 << "the server broke the Telnet rules (a subnegotiation longer than 256 bytes)"
            << 1500 << opened << 1500 << true;
        QTest::newRow("negotiation trickled a byte every 50 ms")
            << "rfc2217" << TcpPeer::Script([](TcpPeer::Side &s) {
                   // A dozen NOPs first: 84 bytes in all, 4.2 s.
                   QByteArray all;
                   for (int i = 0; i < 12; ++i)
                       all += Telnet::bytes({ Telnet::IAC, 241 });
                   all += Telnet::agreesToOptions() + Telnet::confirmsSettings() + Telnet::purged();
                   for (const char c : all) {
                       if (s.stopping())
                           return;
                       s.send(QByteArray(1, c));
                       QThread::msleep(50);
                   }
               })
            << -1 << "to the Telnet negotiation (binary mode, COM-port settings, purge) within 3 s"
            << 3700 << QStringList { "Fail, COM Port does not exist!" } << 3500 << false;
        QTest::newRow("silent loss")
            << "socket" << drives({ 1 }) << 1500 << "was lost: no sign of the server for 3 s"
            << 1500 + 3000 + 1500 << opened << 9000 << true;
    }
    void hostileServer()
    {
        QFETCH(QString, scheme);
        QFETCH(TcpPeer::Script, script);
        QFETCH(int, lossAtMs);
        QFETCH(QString, err);
        QFETCH(int, toolMs);
        QFETCH(QStringList, console);
        QFETCH(int, consoleMs);
        QFETCH(bool, lost);
        // A silent loss needs a loopback of its own to take down: the row runs again in a
        // network namespace of its own.
        if (lossAtMs >= 0 && !OwnNamespace::inside()) {
            const auto child = OwnNamespace::rerun("hostileServer", QTest::currentDataTag());
            if (!child.ran)
                QSKIP(qPrintable("no network namespace of its own: " + child.output.trimmed()));
            QVERIFY2(child.exitCode == 0, qPrintable(child.output));
            return;
        }
        if (OwnNamespace::inside())
            QVERIFY(OwnNamespace::setLoopback(true));
        // Reading a flood costs an instrumented client about a third more; the times hold in full
        // in the plain build.
        const double sanitizedSlowdown = AddressSanitized ? 1.5 : 1;

        {
            TcpPeer peer(script);
            const QString port = QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(peer.port());
            const ToolRun run = runTool({ "--port", port, "scan" }, lossAtMs,
                                        [] { QVERIFY(OwnNamespace::setLoopback(false)); });
            QVERIFY2(run.exitCode == 3 && run.err.contains(err), qPrintable(run.err));
            QVERIFY2(run.ms < toolMs * sanitizedSlowdown, qPrintable(QString::number(run.ms)));
            // AddressSanitizer keeps freed memory in quarantine (256 MiB): memory is judged in the
            // plain build only.
            if (!AddressSanitized)
                QVERIFY2(run.maxRssKb < 64 * 1024, qPrintable(QString::number(run.maxRssKb)));
        }
        if (OwnNamespace::inside())
            QVERIFY(OwnNamespace::setLoopback(true));

        // The window as the program runs it: its line on a thread of its own.
        TcpPeer peer(script);
        SteadyClock clock;
        RecordingMessages messages;
        Form1 form(std::make_unique<DriveLine>(
                       [] { return std::make_unique<SystemSerialPort>(); }, clock),
                   messages);
        const auto settle = [&form] {
            QTRY_VERIFY_WITH_TIMEOUT(form.lineIdle() && form.gate().waiting() == 0, 20000);
        };
        form.listComPort->setText(QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(peer.port()));
        const long before = residentKb();
        QElapsedTimer t;
        t.start();
        if (lossAtMs >= 0)
            QTimer::singleShot(lossAtMs, [] { QVERIFY(OwnNamespace::setLoopback(false)); });
        form.cmdCommStart->click();
        settle();
        QCOMPARE(messages.texts, console);
        if (form.CmdScan->isEnabled()) {
            form.CmdScan->click();
            settle();
        }
        QVERIFY2(t.elapsed() < consoleMs * sanitizedSlowdown,
                 qPrintable(QString::number(t.elapsed())));
        // A port lost in the middle keeps the stations found before it.
        if (!lost)
            QCOMPARE(form.Combo1->count(), 0);
        if (lost) {
            QCOMPARE(messages.texts.size(), console.size() + 1);
            QVERIFY2(messages.texts.last().startsWith(
                         "Communication error\r\nThe port was lost during the scan: ")
                         && messages.texts.last().contains(err),
                     qPrintable(messages.texts.last()));
        }
        if (!AddressSanitized)
            QVERIFY(residentKb() - before < 32 * 1024);
    }
};

QTEST_MAIN(TestNetwork)
#include "tst_network.moc"
