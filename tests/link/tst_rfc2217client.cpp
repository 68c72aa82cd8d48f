// The Telnet client with the COM-port option, byte by byte and without a socket: what a
// server's bytes make of the connection, and what the server sees in return, read back with a
// Telnet decoder of the test's own and held against RFC 854, 855, 856, 1143 and 2217.
#include "Rfc2217Client.h"
#include "TcpPeer.h"

#include <QtTest>

#include <algorithm>

using namespace Telnet;

namespace {
using State = Rfc2217Client::State;

// What the RFCs ask of a client of a drive line: the COM-port option and binary data offered.
const QStringList Greeting { "WILL 44", "WILL 0", "DO 0" };
// 38400 baud (four bytes, network order), 8 data bits, no parity (1), one stop bit (1), no
// flow control (1).
const QStringList Settings { "SB 44 1 0 0 150 0", "SB 44 2 8", "SB 44 3 1", "SB 44 4 1",
                             "SB 44 5 1" };
const QString Purge = QStringLiteral("SB 44 12 3");

// A server that agrees to everything asked, in one go.
const QByteArray Agrees = agreesToOptions();
const QByteArray Confirms = confirmsSettings();
const QByteArray Purged = purged();
const QByteArray ReadyScript = Agrees + Confirms + Purged;
const QStringList ReadyHeard = Greeting + Settings + QStringList { Purge };

struct Outcome {
    State state;
    QByteArray data;
    QByteArray said;
    QByteArray sent;
    QString problem;
    bool suspended;
};

// The script delivered in the pieces given by the cut positions.
Outcome run(const QByteArray &script, const QList<qsizetype> &cuts)
{
    Rfc2217Client client;
    Outcome o { State::Negotiating, {}, {}, client.greeting(), {}, false };
    qsizetype from = 0;
    for (const qsizetype cut : cuts + QList<qsizetype> { script.size() }) {
        o.data += client.receive(script.mid(from, cut - from), o.sent);
        from = cut;
    }
    o.state = client.state();
    o.said = client.said();
    o.problem = client.problem();
    o.suspended = client.suspended();
    return o;
}
} // namespace

class TestRfc2217Client final : public QObject {
    Q_OBJECT

private slots:
    void conversation_data()
    {
        QTest::addColumn<QByteArray>("script"); // what the server sends
        QTest::addColumn<int>("state");
        QTest::addColumn<QByteArray>("data"); // the line's data handed on
        QTest::addColumn<QStringList>("heard"); // what the server receives, in any order
        QTest::addColumn<QString>("problem");
        QTest::addColumn<bool>("suspended");
        const auto row = [](const char *tag, const QByteArray &script, State state,
                            const QByteArray &data, const QStringList &heard,
                            const char *problem = "", bool suspended = false) {
            QTest::newRow(tag) << script << int(state) << data << heard << problem << suspended;
        };
        const QStringList ready = ReadyHeard;

        // ser2net's way: it offers and asks for more than the client takes.
        row("ser2net's offers",
            bytes({ IAC,   WILL, SGA, IAC, DO,  SGA,  IAC, WILL, TECHO, IAC, DONT,
                    TECHO, IAC,  DO,  BIN, IAC, WILL, BIN, IAC,  DO,    COM })
                + Confirms + Purged + "0810>",
            State::Ready, "0810>", ready + QStringList { "DO 3", "WILL 3", "DONT 1" });
        row("doubled IAC, NOP, GA and a stray SE are no data",
            ReadyScript + "1\xFF\xFF" + bytes({ IAC, 241, IAC, 249, IAC, SE }) + "2>", State::Ready,
            "1\xFF"
            "2>",
            ready);

        // A subnegotiation cut short by a command: the command counts, its option is no data.
        row("IAC DO inside a subnegotiation, then data",
            ReadyScript + bytes({ IAC, SB, COM, 106, 0, IAC, DO, 62 }) + "OK>", State::Ready, "OK>",
            ready + QStringList { "WONT 62" });

        // A subnegotiation without end is a protocol error, however it is padded.
        row("endless subnegotiation",
            ReadyScript + bytes({ IAC, SB, COM, 106 }) + QByteArray(300, 'x') + ">",
            State::ProtocolError, "", ready, "longer than 256 bytes");
        row("endless subnegotiation of doubled IAC",
            ReadyScript + bytes({ IAC, SB, COM, 106 }) + QByteArray(600, char(IAC)) + ">",
            State::ProtocolError, "", ready, "longer than 256 bytes");
        row("longest subnegotiation",
            ReadyScript + bytes({ IAC, SB, 99 }) + QByteArray(255, 'x') + bytes({ IAC, SE }) + ">",
            State::Ready, ">", ready);

        // Each unknown option refused once, however often the server asks.
        QByteArray flood;
        for (int i = 0; i < 500; ++i)
            flood += bytes({ IAC, DO, 99, IAC, WILL, 99, IAC, WILL, TECHO });
        row("flood of requests", ReadyScript + flood, State::Ready, "",
            ready + QStringList { "WONT 99", "DONT 99", "DONT 1" });

        // Binary mode both ways, or no connection; withdrawn later, the NVT rules apply.
        row("server will not send binary",
            bytes({ IAC, DO, COM, IAC, DO, BIN, IAC, WONT, BIN }) + Confirms, State::BinaryRefused,
            "", Greeting + Settings, "not send binary");
        row("server silent about binary", bytes({ IAC, DO, COM }) + Confirms + Purged + ">",
            State::Negotiating, "", Greeting + Settings);
        row("server will not take binary", bytes({ IAC, DONT, BIN }), State::BinaryRefused, "",
            Greeting, "not take binary");
        row("binary ends: CR NUL is a bare CR",
            ReadyScript + bytes({ IAC, WONT, BIN }) + QByteArray("A\r\0B\r\n\0\r", 8)
                + QByteArray(1, '\0') + ">",
            State::Ready, QByteArray("A\rB\r\n\0\r>", 8), ready + QStringList { "DONT 0" });
        // Nothing the server held before the purge reaches the line's data.
        row("stale bytes before the purge", Agrees + "stale>" + Confirms + "old>" + Purged + "new>",
            State::Ready, "new>", ready);
        row("purge of one buffer only", Agrees + Confirms + com(112, { 1 }), State::Mismatch, "",
            ready, "purge 1 instead of 3");
        row("purge answered before asked", Agrees + com(112, { 3 }) + "x>", State::Negotiating, "",
            Greeting + Settings);

        // Only the answers to what was asked.
        row("DTR state before the flow control",
            Agrees + Confirms.chopped(7) + com(105, { 8 }) + com(105, { 11 }) + com(105, { 1 })
                + Purged + ">",
            State::Ready, ">", ready);
        row("other flow control", Agrees + Confirms.chopped(7) + com(105, { 2 }), State::Mismatch,
            "", Greeting + Settings, "flow control 2 instead of 1");
        row("another baud rate", Agrees + com(101, { 0, 0, 37, 128 }), State::Mismatch, "",
            Greeting + Settings, "baud rate 9600 instead of 38400");
        row("baud rate with IAC in its value", Agrees + com(101, { 0, 0, 255, 255 }),
            State::Mismatch, "", Greeting + Settings, "baud rate 65535 instead of 38400");
        row("short answer", Agrees + com(101, { 150, 0 }), State::Mismatch, "", Greeting + Settings,
            "baud rate ? instead of 38400");
        row("answer before the question", com(101, { 0, 0, 37, 128 }) + ReadyScript + ">",
            State::Ready, ">", ready);
        row("answers nobody asked for",
            ReadyScript + com(101, { 0, 0, 37, 128 }) + com(112, { 1 }) + ">", State::Ready, ">",
            ready);
        row("COM-port option refused", bytes({ IAC, DONT, COM }), State::Refused, "", Greeting);

        // FLOWCONTROL-SUSPEND holds our data until FLOWCONTROL-RESUME.
        row("suspended", ReadyScript + com(108, {}), State::Ready, "", ready, "", true);
        row("suspended and resumed", ReadyScript + com(108, {}) + com(109, {}), State::Ready, "",
            ready);
    }
    // Each script whole, cut in two at every position, and a byte at a time: the same outcome.
    void conversation()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, state);
        QFETCH(QByteArray, data);
        QFETCH(QStringList, heard);
        QFETCH(QString, problem);
        QFETCH(bool, suspended);

        const Outcome whole = run(script, {});
        QCOMPARE(int(whole.state), state);
        QCOMPARE(whole.data, data);
        QStringList got = Telnet::heard(whole.sent);
        QStringList want = heard;
        std::sort(got.begin(), got.end());
        std::sort(want.begin(), want.end());
        QCOMPARE(got, want);
        QVERIFY2(whole.problem.contains(problem), qPrintable(whole.problem));
        QCOMPARE(whole.suspended, suspended);
        // The purge comes once all five settings are confirmed, never before.
        const QStringList inOrder = Telnet::heard(whole.sent);
        if (inOrder.contains(Purge)) {
            for (const QString &s : Settings)
                QVERIFY(inOrder.indexOf(s) < inOrder.indexOf(Purge));
        }

        QList<qsizetype> everyByte;
        for (qsizetype i = 1; i < script.size(); ++i) {
            everyByte << i;
            const Outcome cut = run(script, { i });
            QVERIFY2(int(cut.state) == state && cut.data == data && cut.sent == whole.sent
                         && cut.suspended == suspended,
                     qPrintable(QStringLiteral("cut at %1").arg(i)));
        }
        const Outcome bytewise = run(script, everyByte);
        QCOMPARE(int(bytewise.state), state);
        QCOMPARE(bytewise.data, data);
        QCOMPARE(bytewise.sent, whole.sent);
    }

    void encode_data()
    {
        QTest::addColumn<QByteArray>("after"); // what the server sent after the negotiation
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("binary") << QByteArray() << QByteArray("RV\xFF 8\r")
                                << QByteArray("RV\xFF\xFF 8\r");
        QTest::newRow("binary refused later: CR NUL")
            << bytes({ IAC, DONT, BIN }) << QByteArray("SV\r") << QByteArray("SV\r\0", 4);
        QTest::newRow("paced CR alone")
            << bytes({ IAC, DONT, BIN }) << QByteArray("\r") << QByteArray("\r\0", 2);
        QTest::newRow("binary again")
            << bytes({ IAC, DONT, BIN, IAC, DO, BIN }) << QByteArray("SV\r") << QByteArray("SV\r");
    }
    void encode()
    {
        QFETCH(QByteArray, after);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, wire);
        Rfc2217Client client;
        QByteArray sent = client.greeting();
        client.receive(ReadyScript + after, sent);
        QCOMPARE(client.encode(data), wire);
    }
};

QTEST_GUILESS_MAIN(TestRfc2217Client)
#include "tst_rfc2217client.moc"
