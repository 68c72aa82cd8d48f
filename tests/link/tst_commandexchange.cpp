#include "CommandExchange.h"
#include "ExchangeTrace.h"
#include "ScriptedSerialPort.h"
#include "VirtualClock.h"

#include <QtTest>

#include <memory>

using Routine = bool (CommandExchange::*)(const QString &);
Q_DECLARE_METATYPE(Routine)
using Pieces = QList<QPair<int, QByteArray>>;
enum class Line { Open, Breaks, Closed };
Q_DECLARE_METATYPE(Line)

class TestCommandExchange final : public QObject {
    Q_OBJECT

private:
    struct Rig {
        explicit Rig(std::uint32_t start = 1000) : clock(start), port(clock), link(port, clock)
        {
            port.setPortName(QStringLiteral("COM4"));
            port.open();
        }
        VirtualClock clock;
        ScriptedSerialPort port;
        CommandExchange link;
    };

private slots:
    // Each routine with a drive that answers at once, one that stays silent while the tick
    // counter wraps (neither early nor endless), and one that answers at the last moment the
    // reply window takes and one just after. Delay(n) lasts n+1 ms on a 1 ms counter; the
    // window counts from the carriage return, and its last read falls 2 to 16 ms before its
    // limit because each pass sleeps a whole poll step after reading.
    void routine_data()
    {
        QTest::addColumn<Routine>("routine");
        QTest::addColumn<QString>("command");
        QTest::addColumn<qint64>("answered"); // elapsed, start to return
        QTest::addColumn<qint64>("silent");
        QTest::addColumn<int>("lastTaken"); // reply delay
        const auto row = [](const char *name, Routine r, const char *command, qint64 answered,
                            qint64 silent, int lastTaken) {
            QTest::newRow(name) << r << QString::fromLatin1(command) << answered << silent
                                << lastTaken;
        };
        using C = CommandExchange;
        // poll steps of 6 until more than 200 ms passed
        row("SendCmd", &C::SendCmd, "ST 1", 11 + 6, 11 + 34 * 6, 11 + 198);
        row("SendCmdLong", &C::SendCmdLong, "RV 8", 21 + 6, 21 + 334 * 6, 21 + 1998);
        // 6 before writing, 51, steps of 16, 16 after
        row("SendCmdSlow", &C::SendCmdSlow, "RO", 6 + 51 + 16 + 16, 6 + 51 + 188 * 16 + 16,
            51 + 2992);
        // one character every 6 ms (Delay(5)), then the wait of SendCmd
        row("SendCmdPaced", &C::SendCmdPaced, "SV", 2 * 6 + 11 + 6, 2 * 6 + 11 + 1334 * 6,
            11 + 7998);
    }
    void routine()
    {
        QFETCH(Routine, routine);
        QFETCH(QString, command);
        QFETCH(qint64, answered);
        QFETCH(qint64, silent);
        QFETCH(int, lastTaken);
        const QByteArray line = command.toLatin1(), reply = "0000\r\n>";
        for (const bool answers : { true, false }) {
            Rig rig(answers ? 1000 : 0xFFFFFFFFu - 100);
            if (answers)
                rig.port.answer(line, reply);
            const qint64 t0 = rig.clock.now();
            QCOMPARE((rig.link.*routine)(command), answers);
            QCOMPARE(rig.clock.now() - t0, answers ? answered : silent);
            QVERIFY(rig.link.CommDone);
            QCOMPARE(rig.link.RxBuffer, answers ? QString::fromLatin1(reply) : QString());
            QCOMPARE(rig.port.lines(), QList<QByteArray> { line });
            // Paced: a write per character, 6 ms apart; otherwise the line in one write.
            const auto &w = rig.port.writes();
            const bool paced = routine == &CommandExchange::SendCmdPaced;
            QCOMPARE(w.size(), paced ? command.size() + 1 : 1);
            QVERIFY(!paced || (w[0].at == t0 && w[1].at - w[0].at == 6));
        }
        for (const int delay : { lastTaken, lastTaken + 1 }) {
            Rig rig;
            rig.port.answer(line, reply, delay);
            QCOMPARE((rig.link.*routine)(command), delay == lastTaken);
            QCOMPARE(rig.link.RxBuffer.contains(QLatin1Char('>')), delay == lastTaken);
        }
    }

    // Replies as the line delivers them: pieces (ms after the command, bytes), then perhaps a
    // failing line. What the routine keeps, and how soon it returns.
    void delivery_data()
    {
        QTest::addColumn<Routine>("routine");
        QTest::addColumn<Pieces>("pieces"); // a negative time: waiting before the command
        QTest::addColumn<Line>("line");
        QTest::addColumn<QString>("kept"); // empty: the routine failed
        QTest::addColumn<qint64>("within");
        const auto row
            = [](const char *name, Routine r, const Pieces &p, Line line, const QString &kept,
                 qint64 within) { QTest::newRow(name) << r << p << line << kept << within; };
        using C = CommandExchange;
        row("stale input flushed", &C::SendCmdLong, { { -1, "=12 ok>" }, { 3, "55\r\n>" } },
            Line::Open, "55\r\n>", 2025);
        // Reads at 21, 27, ... 45 after the write; the one at 45 sees the prompt, then one more
        // poll step: found on the first pass after it arrived, not at the limit; what follows
        // the prompt is kept.
        row("prompt split over two reads", &C::SendCmdLong,
            { { 0, "=1500\r\n" }, { 40, ">trailing" } }, Line::Open, "=1500\r\n>trailing", 51);
        row("line fails mid-exchange", &C::SendCmdLong, { { 0, "12" } }, Line::Breaks, "", 99);
        row("closed port", &C::SendCmdPaced, { { 0, "0>" } }, Line::Closed, "", 99);
        Pieces flood;
        for (int i = 0; i < 8; ++i)
            flood.append({ i * 10, QByteArray(64 * 1024, 'x') });
        flood.append({ 100, ">" });
        // The prompt is found, but the reply is kept only up to its limit.
        row("flood", &C::SendCmdLong, flood, Line::Open,
            QString(CommandExchange::MaxReplyBytes, QLatin1Char('x')), 2025);
    }
    void delivery()
    {
        QFETCH(Routine, routine);
        QFETCH(Pieces, pieces);
        QFETCH(Line, line);
        QFETCH(QString, kept);
        QFETCH(qint64, within);

        Rig rig;
        for (const auto &[delay, bytes] : pieces)
            if (delay < 0)
                rig.port.schedule(bytes, 0);
        rig.port.setResponder([&](ScriptedSerialPort &port, const QByteArray &) {
            for (const auto &[delay, bytes] : pieces)
                if (delay >= 0)
                    port.schedule(bytes, delay);
            if (line == Line::Breaks)
                port.breakLine();
        });
        if (line == Line::Closed)
            rig.port.close();
        const qint64 start = rig.clock.now();
        QCOMPARE((rig.link.*routine)(QStringLiteral("RV 1")), !kept.isEmpty());
        QVERIFY(rig.link.CommDone);
        QCOMPARE(rig.link.RxBuffer, kept);
        QCOMPARE(rig.link.failureCount(), quint64(kept.isEmpty()));
        QVERIFY(rig.clock.now() - start <= within);
    }

    // A line that takes its bytes slowly (a server that stops reading): the writes of one
    // exchange together never outlast its reply window, and one that gives up ends it.
    void stalledWrites_data()
    {
        QTest::addColumn<Routine>("routine");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("stall"); // ms each write takes
        QTest::addColumn<bool>("answered");
        QTest::addColumn<qint64>("elapsed");
        using C = CommandExchange;
        QTest::newRow("slow, in time")
            << Routine(&C::SendCmdLong) << "RV 8" << 50 << true << qint64(50 + 21 + 6);
        QTest::newRow("no data taken")
            << Routine(&C::SendCmd) << "ST 1" << 1000 << false << qint64(200);
        // 3000 + 3000 ms for two characters, then the last 2000 of the window's 8000.
        QTest::newRow("paced, slow characters") << Routine(&C::SendCmdPaced) << "WT 1" << 3000
                                                << false << qint64(3000 + 6 + 3000 + 6 + 2000 + 6);
    }
    void stalledWrites()
    {
        QFETCH(Routine, routine);
        QFETCH(QString, command);
        QFETCH(int, stall);
        QFETCH(bool, answered);
        QFETCH(qint64, elapsed);
        Rig rig;
        rig.port.answer(command.toLatin1(), "0>");
        rig.port.setWriteStall(stall);
        const qint64 start = rig.clock.now();
        QCOMPARE((rig.link.*routine)(command), answered);
        QCOMPARE(rig.clock.now() - start, elapsed);
        QVERIFY(rig.link.CommDone);
    }

    // What the line would not carry as built is refused whole, never cut or re-encoded.
    void commandThatDoesNotFitIsNotSent_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("sent");
        QTest::newRow("longest") << QString(32767, QLatin1Char('1')) << true;
        QTest::newRow("one too long") << QString(32768, QLatin1Char('1')) << false;
        QTest::newRow("line end inside") << QStringLiteral("WT 0 0 1\rSV") << false;
        QTest::newRow("not one byte") << QStringLiteral("WT 0 0 1\u20ac") << false;
        QTest::newRow("Latin-1") << QStringLiteral("WT 0 0 \u00e9") << true;
        QTest::newRow("empty") << QString() << true;
    }
    void commandThatDoesNotFitIsNotSent()
    {
        QFETCH(QString, command);
        QFETCH(bool, sent);
        Rig rig;
        rig.link.RxBuffer = QStringLiteral("stale");
        rig.link.SendCmdPaced(command);
        QCOMPARE(rig.port.written(), sent ? command.toLatin1() + '\r' : QByteArray());
        QVERIFY(rig.link.RxBuffer.isEmpty());
        QVERIFY(rig.link.CommDone);
    }

    // Delay(n) lasts strictly longer than n ms, even as the tick counter wraps; DelayDoEvents
    // lets the window's events through on every pass.
    void delay_data()
    {
        QTest::addColumn<uint>("start");
        QTest::addColumn<int>("msecond");
        QTest::addColumn<bool>("events");
        QTest::addColumn<qint64>("elapsed");
        QTest::addColumn<int>("passes");

        QTest::newRow("Delay(0)") << 1000u << 0 << false << qint64(1) << 0;
        QTest::newRow("negative") << 1000u << -3 << false << qint64(0) << 0;
        QTest::newRow("at wrap") << 0xFFFFFFFFu << 1000 << false << qint64(1001) << 0;
        QTest::newRow("DelayDoEvents") << 1000u << 100 << true << qint64(101) << 102;
    }
    void delay()
    {
        QFETCH(uint, start);
        QFETCH(int, msecond);
        QFETCH(bool, events);
        QFETCH(qint64, elapsed);
        QFETCH(int, passes);

        Rig rig(start);
        int pumped = 0;
        rig.link.setEventPump([&] { ++pumped; });
        const qint64 t0 = rig.clock.now();
        events ? rig.link.DelayDoEvents(msecond) : rig.link.Delay(msecond);
        QCOMPARE(rig.clock.now() - t0, elapsed);
        QCOMPARE(pumped, passes);
    }

    // "ST 16" addresses no drive: the trace names the station addressed before it.
    void traceNamesTheStation()
    {
        QTemporaryDir dir;
        JsonLinesTrace trace;
        QVERIFY(trace.open(dir.filePath(QStringLiteral("t"))));
        for (const char *command : { "ST 15", "ST 16", "RV 8" })
            trace.exchanged({ {}, QStringLiteral("SendCmd"), command, {}, 0, true });
        QFile f(dir.filePath(QStringLiteral("t")));
        QVERIFY(f.open(QIODevice::ReadOnly) && f.readAll().count("\"station\":15,") == 3);
    }
};

QTEST_GUILESS_MAIN(TestCommandExchange)
#include "tst_commandexchange.moc"
