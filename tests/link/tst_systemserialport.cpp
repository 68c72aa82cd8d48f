#include "Clock.h"
#include "CommandExchange.h"
#include "SystemSerialPort.h"

#include <QTemporaryFile>
#include <QtTest>

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

// The QSerialPort adapter on a real pseudo-terminal, with a small echoing drive on the
// master side running in its own thread.
class PtyDrive final
{
public:
    PtyDrive()
    {
        int slave = -1;
        char name[256] = {};
        if (openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
            return;
        termios tio {};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        ::close(slave); // the port under test opens its own descriptor
        m_path = QString::fromLocal8Bit(name);
        m_thread = std::thread([this] { run(); });
    }
    ~PtyDrive()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        hangUp();
    }
    QString path() const { return m_path; }
    // The far end vanishes, as when an adapter is unplugged.
    void hangUp()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    std::atomic<int> linesSeen { 0 };

private:
    void run()
    {
        QByteArray line;
        while (!m_stop) {
            const int fd = m_master;
            if (fd < 0)
                return;
            pollfd p { fd, POLLIN, 0 };
            if (::poll(&p, 1, 5) <= 0)
                continue;
            char buf[64];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                continue;
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] != '\r') {
                    line += buf[i];
                    continue;
                }
                ++linesSeen;
                const QByteArray reply = line == "RV 8" ? "0100\r\n>" : (line == "HANG" ? "" : "?\r\n>");
                if (!reply.isEmpty() && ::write(fd, reply.constData(), reply.size()) < 0)
                    return;
                line.clear();
            }
        }
    }

    int m_master = -1;
    QString m_path;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
};

class TestSystemSerialPort final : public QObject
{
    Q_OBJECT

private slots:
    void exchangeOverPseudoTerminal()
    {
        PtyDrive drive;
        QVERIFY(!drive.path().isEmpty());
        SystemSerialPort port;
        SteadyClock clock;
        CommandExchange link(port, clock);
        port.setPortName(drive.path());
        QVERIFY2(port.open(), qPrintable(port.errorString()));

        QElapsedTimer timer;
        timer.start();
        QVERIFY(link.SendCmdLong(QStringLiteral("RV 8")));
        QCOMPARE(link.RxBuffer, QStringLiteral("0100\r\n>"));
        // 20 ms initial wait, then the prompt is there at the first read.
        QVERIFY2(timer.elapsed() < 200, qPrintable(QString::number(timer.elapsed())));

        QVERIFY(!link.SendCmd(QStringLiteral("HANG")));
        QVERIFY(link.CommDone);
        port.close();
        QVERIFY(!port.isOpen());
    }

    void vanishedFarEndEndsTheExchange()
    {
        auto drive = std::make_unique<PtyDrive>();
        SystemSerialPort port;
        SteadyClock clock;
        CommandExchange link(port, clock);
        port.setPortName(drive->path());
        QVERIFY(port.open());
        QVERIFY(link.SendCmdLong(QStringLiteral("RV 8")));

        drive.reset();
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!link.SendCmdPaced(QStringLiteral("SV")));
        QVERIFY(link.CommDone);
        QVERIFY(!port.isUsable());
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        port.close();
    }

    void refusesWhatIsNoSerialPort_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing device") << QStringLiteral("/dev/ttyNoSuchPort9");
        QTest::newRow("directory") << QStringLiteral("/dev/");
        QTest::newRow("empty") << QString();
    }
    void refusesWhatIsNoSerialPort()
    {
        QFETCH(QString, name);
        SystemSerialPort port;
        port.setPortName(name);
        QVERIFY(!port.open());
        QVERIFY(!port.isOpen());
    }

    void refusesRegularFile()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        SystemSerialPort port;
        port.setPortName(file.fileName());
        QVERIFY(!port.open());
    }

    void secondOpenOfSameDeviceFails()
    {
        PtyDrive drive;
        SystemSerialPort first;
        SystemSerialPort second;
        first.setPortName(drive.path());
        second.setPortName(drive.path());
        QVERIFY(first.open());
        QVERIFY(!second.open());
        first.close();
        QVERIFY(second.open());
    }
};

QTEST_GUILESS_MAIN(TestSystemSerialPort)
#include "tst_systemserialport.moc"
