// The network port against a scripted serial server on loopback: the Telnet and COM-port
// negotiation as the server sees it, IAC both ways, the ways an opening fails (and how soon),
// and the ways a server can end or spoil a connection once it is open.
#include "Clock.h"
#include "CommandExchange.h"
#include "HostLookup.h"
#include "OwnNamespace.h"
#include "PtyPeer.h"
#include "SystemSerialPort.h"
#include "TcpPeer.h"

#include <QElapsedTimer>
#include <QTemporaryFile>
#include <QUdpSocket>
#include <QtTest>

#include <optional>
#include <sys/mount.h>

using namespace Telnet;

namespace {
// What ser2net offers a telnet client as soon as it connects.
const QByteArray Offers = bytes({ IAC,   WILL, SGA, IAC, DO,  SGA,  IAC, WILL, TECHO, IAC, DONT,
                                  TECHO, IAC,  DO,  BIN, IAC, WILL, BIN, IAC,  DO,    COM });

// The end of every script that keeps the line: the client's "drop" ends the connection.
void dropOnRequest(TcpPeer::Side &s)
{
    s.readUntil("drop\r");
    s.close();
}

// A server that (over Telnet) negotiates, holding `stale` from before, answers the client's
// first command with `reply`, and closes on the client's "drop".
TcpPeer::Script answering(bool telnet, const QByteArray &reply, const QByteArray &stale = {})
{
    return [=](TcpPeer::Side &s) {
        if (telnet)
            s.negotiate(Offers, stale);
        s.readUntil("\r");
        s.send(reply);
        dropOnRequest(s);
    };
}

TcpPeer::Script saying(const QByteArray &bytes)
{
    return [=](TcpPeer::Side &s) {
        s.send(bytes);
        s.hold();
    };
}
} // namespace

Q_DECLARE_METATYPE(TcpPeer::Script)

class TestNetworkPort final : public QObject {
    Q_OBJECT

private slots:
    void conversation_data()
    {
        QTest::addColumn<QString>("name"); // the port text; a bare scheme: the scripted server
        QTest::addColumn<TcpPeer::Script>("script");
        QTest::addColumn<QByteArray>("out"); // what the client writes first
        QTest::addColumn<QByteArray>("in"); // ... and then reads
        QTest::addColumn<QString>("error"); // the failed opening's text; empty: it opens
        QTest::addColumn<QString>("loss"); // the loss after the exchange; empty: still usable
        QTest::addColumn<QStringList>("once"); // what the server heard exactly once
        const auto row = [](const char *tag, const char *name, const TcpPeer::Script &script,
                            const QByteArray &out, const QByteArray &in, const char *error,
                            const char *loss, const QStringList &once = {}) {
            QTest::newRow(tag) << name << script << out << in << error << loss << once;
        };

        // The drive line's settings and a purge, each asked once; IAC doubled on the way out
        // and undone on the way in; a NOP, a notification and unknown options in between.
        row("rfc2217: ser2net's way", "rfc2217",
            answering(
                true,
                "1\xFF\xFF" + bytes({ IAC, 241 }) + "2"
                    + bytes({ IAC, DO, 99, IAC, WILL, 99, IAC, SB, COM, 106, IAC, IAC, IAC, SE })
                    + ">",
                "stale>"),
            "RV\xFF 8\r", "1\xFF\x32>", "", "",
            { "SB 44 1 0 0 150 0", "SB 44 2 8", "SB 44 3 1", "SB 44 4 1", "SB 44 5 1", "SB 44 12 3",
              "WONT 99", "DONT 99", "DONT 1", QString::fromLatin1("data RV\xFF 8\rdrop\r") });
        // Binary mode withdrawn after the opening: a CR goes out as CR NUL, CR NUL comes in as CR.
        row("rfc2217: binary mode ends", "rfc2217",
            answering(true, bytes({ IAC, WONT, BIN, IAC, DONT, BIN }) + QByteArray("OK\r\0>", 5)),
            "ST 1\r", "OK\r>", "", "",
            { "DONT 0", "WONT 0", QString::fromLatin1("data ST 1\rdrop\r\0", 16) });
        row("rfc2217: COM-port option refused", "rfc2217", saying(bytes({ IAC, DONT, COM })), {},
            {}, "the server 127.0.0.1:%1 refuses the COM-port option", "");
        row("rfc2217: binary refused", "rfc2217", saying(bytes({ IAC, DO, COM, IAC, WONT, BIN })),
            {}, {},
            "the server 127.0.0.1:%1 refuses binary mode (RFC 856): it will not send binary", "");
        row("rfc2217: another baud rate", "rfc2217",
            saying(bytes({ IAC, DO, COM }) + com(101, { 0, 0, 37, 128 })), {}, {},
            "127.0.0.1:%1 did not set the line to 38400 8N1 without flow control: baud rate 9600",
            "");
        row("rfc2217: no answer", "rfc2217", saying({}), {}, {},
            "no answer from 127.0.0.1:%1 to the Telnet negotiation", "");
        row("rfc2217: in use", "rfc2217", saying(Offers + "Port already in use\r\n"), {}, {},
            "127.0.0.1:%1 is in use: the server said \"Port already in use\"", "");
        // ser2net's way of turning a client away: its words and its close come together, a
        // moment after the connection (here 50 ms). Whatever the client sent by then makes the
        // close a reset, which takes the words with it (on a busy machine, before they are read).
        row(
            "rfc2217: in use, said as the server closes", "rfc2217",
            [](TcpPeer::Side &s) {
                QThread::msleep(50);
                if (!s.readUntil(bytes({ IAC }), 1))
                    s.send(Offers + "Port already in use\r\n");
                s.close();
            },
            {}, {}, "127.0.0.1:%1 is in use: the server said \"Port already in use\"", "");
        // Raw TCP: the bytes as they are.
        row("socket: bytes as they are", "socket",
            answering(false, bytes({ IAC, WILL, TECHO }) + "0810>"), "RV\xFF 8\r",
            bytes({ IAC, WILL, TECHO }) + "0810>", "", "",
            { QString::fromLatin1("data RV\xFF 8\rdrop\r") });
        row("socket: in use", "socket", saying("Port already in use\r\n"), {}, {},
            "127.0.0.1:%1 is in use: the server said \"Port already in use\"", "");
        row(
            "socket: closed at once", "socket", [](TcpPeer::Side &s) { s.close(); }, {}, {},
            "127.0.0.1:%1 closed the connection at once", "");
        // A server far away says so after the opening's grace, within the first exchange.
        row(
            "socket: in use, said late", "socket",
            [](TcpPeer::Side &s) {
                QThread::msleep(250);
                s.send("Port already in use\r\n");
                s.close();
            },
            "ST 0\r", {}, "", "127.0.0.1:%1 is in use: the server said \"Port already in use\"");
        row("socket: words after the first prompt are the drive's", "socket",
            answering(false, "0810>in use>"), "ST 1\r", "0810>in use>", "", "");

        // No server is reached, or the text names none.
        row("refused", "socket://127.0.0.1:1", {}, {}, {}, "127.0.0.1:1 refused the connection",
            "");
        row("refused, IPv6", "socket://[::1]:1", {}, {}, {}, "[::1]:1 refused the connection", "");
        row("unknown host", "rfc2217://no-such-host.invalid:4001", {}, {}, {},
            "the host no-such-host.invalid c", ""); // cannot, or could not in time
        row("no port number", "socket://127.0.0.1", {}, {}, {}, "no port number", "");
    }
    void conversation()
    {
        QFETCH(QString, name);
        QFETCH(TcpPeer::Script, script);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, in);
        QFETCH(QString, error);
        QFETCH(QString, loss);
        QFETCH(QStringList, once);
        std::optional<TcpPeer> peer;
        if (!name.contains("//")) {
            peer.emplace(script);
            name += QStringLiteral("://127.0.0.1:%1").arg(peer->port());
        }
        const auto at = [&peer](QString text) {
            return peer && text.contains("%1") ? text.arg(peer->port()) : text;
        };
        SystemSerialPort port;
        port.setPortName(name);
        QElapsedTimer t;
        t.start();
        const bool opened = port.open();
        QVERIFY(t.elapsed() < 3300);
        if (!error.isEmpty()) {
            QVERIFY(!opened && !port.isOpen() && !port.write("ST 1\r", 100));
            QVERIFY2(port.errorString().contains(at(error)), qPrintable(port.errorString()));
            return;
        }
        QVERIFY2(opened, qPrintable(port.errorString()));
        QVERIFY(out.isEmpty() || port.write(out, 1000));
        QByteArray got;
        for (QDeadlineTimer end(3000); got.size() < in.size() && !end.hasExpired();) {
            port.waitForInput(5);
            got += port.readAll();
        }
        QCOMPARE(got, in);
        if (!loss.isEmpty()) {
            for (QDeadlineTimer end(3000); port.isUsable() && !end.hasExpired();) {
                port.waitForInput(5);
                port.readAll();
            }
            QVERIFY(port.isOpen() && !port.isUsable() && !port.write("x", 100));
            QVERIFY2(port.errorString().contains(at(loss)), qPrintable(port.errorString()));
            return;
        }
        // A short while for what the server still sends, then the server goes on request:
        // the port knows at once, and refuses to write.
        for (QDeadlineTimer end(200); !end.hasExpired();) {
            port.waitForInput(5);
            QCOMPARE(port.readAll(), QByteArray());
        }
        QVERIFY(port.write("drop\r", 1000));
        for (QDeadlineTimer end(2000); port.isUsable() && !end.hasExpired();)
            port.waitForInput(5);
        QVERIFY(port.isOpen() && !port.isUsable() && !port.write("x", 100));
        QVERIFY2(port.errorString().contains("was lost: the server closed it"),
                 qPrintable(port.errorString()));
        port.close();
        peer->stop();
        const QStringList heard = name.startsWith("rfc2217")
            ? Telnet::heard(peer->heard())
            : QStringList { "data " + QString::fromLatin1(peer->heard()) };
        for (const QString &token : once)
            QVERIFY2(heard.count(token) == 1, qPrintable(token + " in " + heard.join(", ")));
    }

    // FLOWCONTROL-SUSPEND holds writes until RESUME, within the write's own time; nothing of
    // the command goes while it is held.
    void flowControlSuspend_data()
    {
        QTest::addColumn<int>("resumeMs"); // -1: never
        QTest::addColumn<bool>("written");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        // The upper bounds leave room for a loaded machine.
        QTest::newRow("resumed in time") << 150 << true << 140 << 290 + 500;
        QTest::newRow("held past the limit") << -1 << false << 300 << 600 + 900;
    }
    void flowControlSuspend()
    {
        QFETCH(int, resumeMs);
        QFETCH(bool, written);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        TcpPeer peer([resumeMs](TcpPeer::Side &s) {
            s.negotiate(Offers);
            s.readUntil("\r");
            s.send(com(108, {}) + "0>");
            if (resumeMs < 0)
                return s.hold();
            QThread::msleep(resumeMs);
            s.send(com(109, {}));
            s.hold();
        });
        SystemSerialPort port;
        port.setPortName(QStringLiteral("rfc2217://127.0.0.1:%1").arg(peer.port()));
        QVERIFY(port.open());
        QVERIFY(port.write("ST 1\r", 300));
        for (QByteArray got; !got.contains('>');) {
            port.waitForInput(5);
            got += port.readAll();
        }
        QElapsedTimer t;
        t.start();
        QCOMPARE(port.write("SV\r", 300), written);
        QVERIFY2(t.elapsed() >= minMs && t.elapsed() <= maxMs,
                 qPrintable(QString::number(t.elapsed())));
        QVERIFY(port.isUsable());
        port.close();
        peer.stop();
        QCOMPARE(peer.heard().contains("SV\r"), written);
    }

    // A server that stops reading: a write gives up at its time limit, and the connection goes
    // rather than leave bytes that might reach the drive at any later time.
    void serverStopsReading()
    {
        TcpPeer peer([](TcpPeer::Side &s) { s.hold(); });
        SystemSerialPort port;
        port.setPortName(QStringLiteral("socket://127.0.0.1:%1").arg(peer.port()));
        QVERIFY(port.open());
        // More than the system's buffers on both sides take.
        const QByteArray lots(16 << 20, 'W');
        QElapsedTimer t;
        t.start();
        QVERIFY(!port.write(lots, 500));
        QVERIFY2(t.elapsed() >= 500 && t.elapsed() < 1500,
                 qPrintable(QString::number(t.elapsed())));
        QVERIFY(!port.isUsable());
        QVERIFY2(port.errorString().contains("the server took no data for 500 ms"),
                 qPrintable(port.errorString()));
    }

    // A name server that never answers: each lookup gives up at its deadline and leaves its
    // thread behind, and past MaxHanging such threads no new one is started. In namespaces of
    // the test's own, where /etc/resolv.conf names a silent server on the loopback.
    void hungNameLookups()
    {
        if (!OwnNamespace::inside()) {
            const auto child = OwnNamespace::rerun("hungNameLookups", QString(), true);
            if (!child.ran)
                QSKIP(qPrintable("no namespaces of its own: " + child.output.trimmed()));
            QVERIFY2(child.exitCode == 0, qPrintable(child.output));
            return;
        }
        QVERIFY(OwnNamespace::setLoopback(true));
        QTemporaryFile conf;
        QVERIFY(conf.open());
        conf.write("nameserver 127.0.0.1\noptions timeout:5 attempts:2\n");
        conf.flush();
        QVERIFY(::mount(qPrintable(conf.fileName()), "/etc/resolv.conf", nullptr, MS_BIND, nullptr)
                == 0);
        QUdpSocket silent;
        QVERIFY(silent.bind(QHostAddress::LocalHost, 53));

        QString error;
        for (int i = 0; i < HostLookup::MaxHanging; ++i) {
            QElapsedTimer t;
            t.start();
            QVERIFY(HostLookup::resolve("bench-7.example", QDeadlineTimer(200), error).isEmpty());
            // Far from the resolver's own 10 s, with room for a loaded machine.
            QVERIFY2(t.elapsed() >= 195 && t.elapsed() < 4000,
                     qPrintable(QString::number(t.elapsed())));
            QCOMPARE(error,
                     QStringLiteral("the host bench-7.example could not be resolved in time"));
        }
        QCOMPARE(HostLookup::running(), HostLookup::MaxHanging);
        SystemSerialPort port;
        port.setPortName(QStringLiteral("socket://bench-7.example:4001"));
        QElapsedTimer t;
        t.start();
        QVERIFY(!port.open());
        QVERIFY(t.elapsed() < 1000);
        QCOMPARE(port.errorString(),
                 QStringLiteral("4 earlier name lookups still hang; give the server's address "
                                "instead of bench-7.example"));
        QCOMPARE(HostLookup::running(), HostLookup::MaxHanging);
        // An address needs no lookup.
        QVERIFY(!HostLookup::resolve("127.0.0.1", QDeadlineTimer(0), error).isEmpty());
    }

    // The line's worker thread opens, uses and closes the port, with no event loop of its own:
    // not a word from Qt about threads, notifiers or parents.
    void onAWorkerThread_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("pseudo-terminal") << "pty";
        QTest::newRow("socket://") << "socket";
        QTest::newRow("rfc2217://") << "rfc2217";
    }
    void onAWorkerThread()
    {
        QFETCH(QString, kind);
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        PtyPeer drive([](const QByteArray &line) { return line == "ST 1" ? "\r\n>" : ""; });
        TcpPeer peer([kind](TcpPeer::Side &s) {
            if (kind == "rfc2217")
                s.negotiate(Offers);
            s.readUntil("ST 1\r");
            s.send("\r\n>");
            s.hold();
        });
        const QString name = kind == "pty"
            ? drive.path()
            : QStringLiteral("%1://127.0.0.1:%2").arg(kind).arg(peer.port());
        bool opened = false, answered = false, usable = true;
        // Made here, used there: what belongs to a thread is made by open().
        SystemSerialPort port;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            SteadyClock clock;
            CommandExchange link(port, clock);
            port.setPortName(name);
            opened = port.open();
            answered = opened && link.SendCmd(QStringLiteral("ST 1"));
            port.close();
            usable = port.isUsable();
        }));
        worker->start();
        QVERIFY(worker->wait(10000));
        QVERIFY(opened && answered && !usable);
    }

    void interleavedFamilies_data()
    {
        QTest::addColumn<QStringList>("resolved");
        QTest::addColumn<QStringList>("tried");
        QTest::newRow("IPv6 first") << QStringList { "fd00::1", "fd00::2", "10.0.0.1", "10.0.0.2" }
                                    << QStringList { "fd00::1", "10.0.0.1", "fd00::2", "10.0.0.2" };
        QTest::newRow("IPv4 first") << QStringList { "10.0.0.1", "fd00::1", "fd00::2" }
                                    << QStringList { "10.0.0.1", "fd00::1", "fd00::2" };
        QTest::newRow("one family")
            << QStringList { "10.0.0.1", "10.0.0.2" } << QStringList { "10.0.0.1", "10.0.0.2" };
        QTest::newRow("none") << QStringList {} << QStringList {};
    }
    void interleavedFamilies()
    {
        QFETCH(QStringList, resolved);
        QFETCH(QStringList, tried);
        QList<QHostAddress> addresses;
        for (const QString &a : resolved)
            addresses << QHostAddress(a);
        QStringList got;
        for (const QHostAddress &a : HostLookup::interleaved(addresses))
            got << a.toString();
        QCOMPARE(got, tried);
    }
};

QTEST_GUILESS_MAIN(TestNetworkPort)
#include "tst_networkport.moc"
