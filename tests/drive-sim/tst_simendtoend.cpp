#include "Clock.h"
#include "CommandExchange.h"
#include "SystemSerialPort.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The real program on a pseudo-terminal, driven through the console's own serial port
// adapter and exchange routines.
class TestSimEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void exchangesThroughTheConsolesPort();
    void faultsAndTheLineVanishing();
    void repliesArePacedAtWireSpeed();

private:
    bool startSimulator(const QStringList &arguments);
    QString nextOutputLine();
    void control(const QByteArray &command);

    QProcess m_sim;
    QTemporaryDir m_dir;
    QString m_ptyPath;
};

bool TestSimEndToEnd::startSimulator(const QStringList &arguments)
{
    m_sim.setProgram(QStringLiteral(VCM_DRIVE_SIM));
    m_sim.setArguments(arguments);
    m_sim.start();
    if (!m_sim.waitForStarted(5000))
        return false;
    m_ptyPath = nextOutputLine();
    return m_ptyPath.startsWith('/');
}

QString TestSimEndToEnd::nextOutputLine()
{
    QElapsedTimer timer;
    timer.start();
    while (!m_sim.canReadLine() && timer.elapsed() < 5000)
        m_sim.waitForReadyRead(100);
    return QString::fromLocal8Bit(m_sim.readLine()).trimmed();
}

void TestSimEndToEnd::control(const QByteArray &command)
{
    m_sim.write(command + '\n');
    m_sim.waitForBytesWritten(1000);
}

void TestSimEndToEnd::cleanup()
{
    if (m_sim.state() != QProcess::NotRunning) {
        control("quit");
        if (!m_sim.waitForFinished(3000)) {
            m_sim.kill();
            m_sim.waitForFinished(3000);
        }
    }
}

void TestSimEndToEnd::exchangesThroughTheConsolesPort()
{
    const QString link = m_dir.filePath("bus");
    QVERIFY(startSimulator({ "--fast", "--stations", "0,5", "--link", link }));
    QCOMPARE(QFileInfo(link).symLinkTarget(), m_ptyPath);

    SystemSerialPort port;
    port.setPortName(link);
    QVERIFY2(port.open(), qPrintable(port.errorString()));
    SteadyClock clock;
    CommandExchange exchange(port, clock);
    exchange.setEventPump([] {});

    QVERIFY(exchange.SendCmd("ST 0"));
    QCOMPARE(exchange.RxBuffer, QStringLiteral("OK;\r\n>"));
    QVERIFY(!exchange.SendCmd("ST 3"));
    QCOMPARE(exchange.RxBuffer, QString());
    QVERIFY(exchange.SendCmd("ST 5"));
    QVERIFY(exchange.SendCmdLong("RV 8"));
    QCOMPARE(exchange.RxBuffer.left(4), QStringLiteral("0810"));
    QVERIFY(exchange.SendCmdPaced("WT 0 0 300"));
    QCOMPARE(exchange.RxBuffer, QStringLiteral("KPP=300;\r\n>"));
    QVERIFY(exchange.SendCmdLong("RD 0 0"));
    QCOMPARE(exchange.RxBuffer, QStringLiteral("KPP=300;\r\n>"));

    QVERIFY(exchange.SendCmdPaced("WT 9 4 2"));
    QVERIFY(exchange.SendCmdPaced("RC 1 8"));
    QVERIFY(exchange.SendCmdLong("RN 0 1"));
    exchange.Delay(200);
    QVERIFY(exchange.SendCmdSlow("RO"));
    QCOMPARE(exchange.RxBuffer.count(','), 512);
    QVERIFY(exchange.RxBuffer.endsWith(",;\r\n>"));
}

void TestSimEndToEnd::faultsAndTheLineVanishing()
{
    const QString link = m_dir.filePath("bus2");
    QVERIFY(startSimulator({ "--fast", "--link", link }));
    SystemSerialPort port;
    port.setPortName(link);
    QVERIFY(port.open());
    SteadyClock clock;
    CommandExchange exchange(port, clock);
    exchange.setEventPump([] {});
    QVERIFY(exchange.SendCmd("ST 0"));

    control("fault 0 delay 400");
    QCOMPARE(nextOutputLine(), QStringLiteral("ok"));
    QVERIFY(!exchange.SendCmd("RV 8")); // 200 ms is too short
    QVERIFY(exchange.SendCmdLong("RV 8"));
    control("fault clear 0");
    QCOMPARE(nextOutputLine(), QStringLiteral("ok"));

    control("line drop");
    QCOMPARE(nextOutputLine(), QStringLiteral("line dropped"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!exchange.SendCmdLong("RV 8"));
    QVERIFY(timer.elapsed() < 1500); // ends at once instead of waiting out the limit
    QVERIFY(!port.isUsable());
    QVERIFY(!QFileInfo::exists(link));

    control("line restore");
    QVERIFY(nextOutputLine().startsWith("line restored: /dev/"));
    port.close();
    QVERIFY(port.open());
    QVERIFY(exchange.SendCmd("ST 0"));
    QVERIFY(exchange.SendCmdLong("RD 0 1"));
    QCOMPARE(exchange.RxBuffer, QStringLiteral("KFV=50;\r\n>"));
}

void TestSimEndToEnd::repliesArePacedAtWireSpeed()
{
    QVERIFY(startSimulator({}));
    SystemSerialPort port;
    port.setPortName(m_ptyPath);
    QVERIFY(port.open());
    SteadyClock clock;
    CommandExchange exchange(port, clock);
    exchange.setEventPump([] {});
    QVERIFY(exchange.SendCmd("ST 0"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(exchange.SendCmdSlow("RO"));
    // 10 bits a byte at 38400 baud.
    const qint64 wireMs = exchange.RxBuffer.size() * 10 * 1000 / 38400;
    QVERIFY2(timer.elapsed() >= wireMs, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(wireMs > 200);
    QVERIFY2(timer.elapsed() < wireMs + 1000,
             qPrintable(QString("%1 %2").arg(timer.elapsed()).arg(wireMs)));
}

QTEST_GUILESS_MAIN(TestSimEndToEnd)
#include "tst_simendtoend.moc"
