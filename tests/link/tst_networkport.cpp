// The network port against a scripted serial server on loopback: the Telnet and COM-port
// negotiation, IAC both ways, the ways an opening fails (and how soon), a connection that goes.
#include "SystemSerialPort.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <future>
#include <optional>
#include <thread>

namespace {
enum : int { IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240 };
enum : int { BIN = 0, ECHO = 1, SGA = 3, COM = 44 };

QByteArray tel(std::initializer_list<int> bytes)
{
    QByteArray out;
    for (const int b : bytes)
        out += char(b);
    return out;
}
// A COM-port subnegotiation with a one-byte value (the server's answers are code + 100).
QByteArray com(int code, int value)
{
    return tel({ IAC, SB, COM, code, value, IAC, SE });
}
QByteArray baud(int code, quint32 bps)
{
    return tel({ IAC, SB, COM, code, int(bps >> 24), int(bps >> 16 & 255), int(bps >> 8 & 255),
                 int(bps & 255), IAC, SE });
}

const QByteArray Greeting = tel({ IAC, WILL, COM, IAC, WILL, BIN, IAC, DO, BIN });
const QByteArray Settings = baud(1, 38400) + com(2, 8) + com(3, 1) + com(4, 1) + com(5, 1);
const QByteArray Confirmed
    = baud(101, 38400) + com(102, 8) + com(103, 1) + com(104, 1) + com(105, 1);
// What ser2net offers a telnet client as soon as it connects.
const QByteArray Offers = tel({ IAC,  WILL, SGA, IAC, DO,  SGA,  IAC, WILL, ECHO, IAC, DONT,
                                ECHO, IAC,  DO,  BIN, IAC, WILL, BIN, IAC,  DO,   COM });

// What a scripted serial server does: says `says`, reads what the client sends (as long as
// `expect`), answers `answers` and closes if `closeAfter`; else reads the line's data (as long
// as `onWire`), sends `wireIn` a byte at a time, reads the client's answers to it (as long as
// `answerIn`), and closes once the client has written "drop\r".
struct Script {
    Script(QByteArray says = {}, QByteArray expect = {}, QByteArray answers = {},
           bool closeAfter = false)
        : says(says), expect(expect), answers(answers), closeAfter(closeAfter)
    {
    }
    QByteArray says, expect, answers;
    bool closeAfter;
    QByteArray onWire, wireIn, answerIn;
};

// The server on its own thread, and what it read.
struct Peer {
    explicit Peer(const Script &script) : s(script)
    {
        std::promise<quint16> listening;
        m_thread = std::thread([this, &listening] { run(listening); });
        port = listening.get_future().get();
    }
    ~Peer() { join(); }
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    const Script s;
    quint16 port = 0;
    QByteArray gotExpect, gotOnWire, gotAnswerIn, gotRest;

private:
    void run(std::promise<quint16> &listening)
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        listening.set_value(server.serverPort());
        if (!server.waitForNewConnection(5000))
            return;
        std::unique_ptr<QTcpSocket> c(server.nextPendingConnection());
        const auto send = [&c](const QByteArray &bytes) {
            if (c->state() == QAbstractSocket::ConnectedState && c->write(bytes) > 0)
                c->waitForBytesWritten(1000);
        };
        // Exactly n bytes (fewer after 4 s): what follows belongs to the next step.
        const auto read = [&c](qsizetype n) {
            QByteArray got;
            for (QDeadlineTimer end(4000); got.size() < n && !end.hasExpired();) {
                if (c->bytesAvailable() == 0 && !c->waitForReadyRead(50)) {
                    if (c->state() != QAbstractSocket::ConnectedState)
                        break;
                    continue;
                }
                got += c->read(n - got.size());
            }
            return got;
        };
        send(s.says);
        gotExpect = read(s.expect.size());
        send(s.answers);
        if (s.closeAfter)
            return;
        gotOnWire = read(s.onWire.size());
        for (const char b : s.wireIn) {
            send(QByteArray(1, b));
            QThread::msleep(2);
        }
        gotAnswerIn = read(s.answerIn.size());
        for (QDeadlineTimer end(4000); !gotRest.contains("drop\r") && !end.hasExpired();) {
            if (!c->waitForReadyRead(50) && c->state() != QAbstractSocket::ConnectedState)
                return;
            gotRest += c->readAll();
        }
    }
    std::thread m_thread;
};
} // namespace

Q_DECLARE_METATYPE(Script)

class TestNetworkPort final : public QObject {
    Q_OBJECT

private slots:
    void negotiation_data()
    {
        QTest::addColumn<QString>("name"); // the port text; %1: the scripted server's port
        QTest::addColumn<Script>("script");
        QTest::addColumn<QByteArray>("data"); // the console writes
        QTest::addColumn<QByteArray>("dataIn"); // ... and reads, from the server's wireIn
        QTest::addColumn<QString>("error"); // text of a failed opening; empty: it opens
        // `scheme` alone is the scripted server's port.
        const auto row
            = [](const char *tag, const char *scheme, const Script &p, const QByteArray &data = {},
                 const QByteArray &dataIn = {}, const char *error = "") {
                  const QString name = QString::fromLatin1(scheme);
                  QTest::newRow(tag) << (name.contains("//") ? name : name + "://127.0.0.1:%1") << p
                                     << data << dataIn << error;
              };
        Script p;

        // ser2net's way: every offer answered once, the settings sent once the option is
        // agreed and confirmed; IAC doubled on the way out and undone on the way in, a NOP
        // dropped, unknown options refused, a notification ignored, all split across reads.
        p.says = Offers;
        p.expect = Greeting + tel({ IAC, DO, SGA, IAC, WILL, SGA, IAC, DONT, ECHO }) + Settings;
        p.answers = Confirmed + tel({ IAC, SB, COM, 107, 0, IAC, SE });
        p.onWire = "RV\xFF\xFF 8\r\xFF\xFF";
        p.wireIn = QByteArray("1\xFF\xFF") + tel({ IAC, 241 }) + "2"
            + tel({ IAC, DO, 99, IAC, WILL, 99, IAC, SB, COM, 106, IAC, IAC, IAC, SE }) + ">";
        p.answerIn = tel({ IAC, WONT, 99, IAC, DONT, 99 });
        row("rfc2217: ser2net's offers", "rfc2217", p, "RV\xFF 8\r\xFF",
            "1\xFF"
            "2>");
        // A server that offers nothing but answers what it is asked, then ends binary mode.
        p = { {}, Greeting, tel({ IAC, DO, COM, IAC, DO, BIN, IAC, WILL, BIN }) + Confirmed };
        p.onWire = Settings + "ST 1\r";
        p.wireIn = tel({ IAC, WONT, BIN, IAC, DONT, BIN }) + "OK>";
        p.answerIn = tel({ IAC, DONT, BIN, IAC, WONT, BIN });
        row("rfc2217: asked, then binary mode ends", "rfc2217", p, "ST 1\r", "OK>");
        p = { {}, Greeting, tel({ IAC, DONT, COM, IAC, WONT, BIN }) };
        row("rfc2217: COM-port option refused", "rfc2217", p, {}, {},
            "the server 127.0.0.1:%1 refuses the COM-port option");
        p = { tel({ IAC, DO, COM }), Greeting + Settings,
              baud(101, 9600) + com(102, 8) + com(103, 1) + com(104, 1) + com(105, 1) };
        row("rfc2217: another baud rate", "rfc2217", p, {}, {},
            "127.0.0.1:%1 did not set the line to 38400 8N1 without flow control: baud rate "
            "9600 instead of 38400");
        p = { {}, Greeting, {} };
        row("rfc2217: no answer", "rfc2217", p, {}, {},
            "no answer from 127.0.0.1:%1 to the COM-port settings within 3 s");
        p = { Offers + "Port already in use\r\n", {}, {}, true };
        row("rfc2217: in use", "rfc2217", p, {}, {},
            "127.0.0.1:%1 is in use: the server said \"Port already in use\"");

        // Raw TCP: the bytes as they are.
        p = {};
        p.onWire = "RV\xFF 8\r";
        p.wireIn = tel({ IAC, WILL, ECHO }) + "0810>";
        row("socket: bytes as they are", "socket", p, p.onWire, p.wireIn);
        p = { "Port already in use\r\n", {}, {}, true };
        row("socket: in use", "socket", p, {}, {},
            "127.0.0.1:%1 is in use: the server said \"Port already in use\"");

        // No server is reached, or the text names none.
        row("refused", "socket://127.0.0.1:1", {}, {}, {}, "127.0.0.1:1 refused the connection");
        row("refused, IPv6", "socket://[::1]:1", {}, {}, {}, "[::1]:1 refused the connection");
        row("unknown host", "rfc2217://no-such-host.invalid:4001", {}, {}, {},
            "the host no-such-host.invalid c"); // cannot, or could not within 3 s
        row("no port number", "socket://127.0.0.1", {}, {}, {}, "no port number");
        row("port 0", "socket://127.0.0.1:0", {}, {}, {}, "must be 1 to 65535");
        row("unknown scheme", "telnet://127.0.0.1:23", {}, {}, {}, "unknown scheme \"telnet://\"");
    }
    void negotiation()
    {
        QFETCH(QString, name);
        QFETCH(Script, script);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, dataIn);
        QFETCH(QString, error);
        std::optional<Peer> peer;
        if (name.contains("%1"))
            peer.emplace(script);
        const auto at = [&peer](const QString &text) { return peer ? text.arg(peer->port) : text; };
        SystemSerialPort port;
        port.setPortName(at(name));
        QElapsedTimer t;
        t.start();
        const bool opened = port.open();
        QVERIFY(t.elapsed() < 3300);
        if (!error.isEmpty()) {
            QVERIFY(!opened && !port.isOpen() && !port.write("ST 1\r"));
            QVERIFY2(port.errorString().contains(at(error)), qPrintable(port.errorString()));
        } else {
            QVERIFY2(opened, qPrintable(port.errorString()));
            QVERIFY(port.write(data));
            QByteArray in;
            for (QDeadlineTimer end(3000); in.size() < dataIn.size() && !end.hasExpired();) {
                port.waitForInput(5);
                in += port.readAll();
            }
            QCOMPARE(in, dataIn);
            // The server goes: the port knows at once, and refuses to write.
            QVERIFY(port.write("drop\r"));
            for (QDeadlineTimer end(2000); port.isUsable() && !end.hasExpired();)
                port.waitForInput(5);
            QVERIFY(port.isOpen() && !port.isUsable() && !port.write("x"));
            QVERIFY(port.errorString().contains("was lost"));
        }
        port.close();
        if (!peer)
            return;
        peer->join();
        QCOMPARE(peer->gotExpect, script.expect);
        QCOMPARE(peer->gotOnWire, script.onWire);
        QCOMPARE(peer->gotAnswerIn, script.answerIn);
        QCOMPARE(peer->gotRest, error.isEmpty() ? QByteArray("drop\r") : QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestNetworkPort)
#include "tst_networkport.moc"
