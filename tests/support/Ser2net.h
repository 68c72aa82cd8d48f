#pragma once

// Debian's ser2net as a child process, with a configuration of its own, in front of one line:
// a raw TCP accepter and a telnet(rfc2217) accepter on 127.0.0.1 at ports that were free.
// Never the system's service.
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

class Ser2net final {
public:
    // `device` is the line's path; `telnetLine` what ser2net sets it to for a telnet client
    // before any COM-port negotiation ("9600o72" shows whether the negotiation took);
    // `options` the connections' options as YAML lines (indented by four), the README's by
    // default. Not started yet.
    explicit Ser2net(const QString &device, const QString &telnetLine = QStringLiteral("38400n81"),
                     const QString &options = recommendedOptions())
    {
        const QString yaml = QStringLiteral("connection: &raw\n"
                                            "  accepter: tcp,127.0.0.1,%1\n"
                                            "  connector: serialdev,%3,38400n81,local\n"
                                            "  options:\n%5"
                                            "connection: &tel\n"
                                            "  accepter: telnet(rfc2217),tcp,127.0.0.1,%2\n"
                                            "  connector: serialdev,%3,%4,local\n"
                                            "  options:\n%5")
                                 .arg(m_raw)
                                 .arg(m_telnet)
                                 .arg(device, telnetLine, options);
        QFile file(m_dir.filePath(QStringLiteral("ser2net.yaml")));
        if (file.open(QIODevice::WriteOnly))
            file.write(yaml.toUtf8());
    }
    // What the README asks of ser2net in front of a drive line: each reply sent on as soon as
    // its prompt is there, not a few milliseconds later.
    static QString recommendedOptions() { return QStringLiteral("    sendon: \">\"\n"); }
    // ser2net's own defaults (it waits a little after each character for more).
    static QString defaultOptions() { return QStringLiteral("    kickolduser: false\n"); }
    ~Ser2net() { stop(); }

    static QString program()
    {
        return QStandardPaths::findExecutable(
            QStringLiteral("ser2net"), { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin") });
    }

    // Starts (again, on the same ports) and waits until both ports take connections.
    bool start()
    {
        if (program().isEmpty())
            return false;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program(),
                        { QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"),
                          m_dir.filePath(QStringLiteral("ser2net.yaml")), QStringLiteral("-P"),
                          m_dir.filePath(QStringLiteral("ser2net.pid")) });
        if (!m_process.waitForStarted(5000))
            return false;
        for (QDeadlineTimer end(5000); !end.hasExpired(); QThread::msleep(50)) {
            if (listening(m_raw) && listening(m_telnet))
                return true;
        }
        return false;
    }
    // SIGTERM: ser2net closes its clients' connections on the way out.
    void stop()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }

    QString rawPort() const { return QStringLiteral("socket://127.0.0.1:%1").arg(m_raw); }
    QString rfc2217Port() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_telnet); }
    quint16 telnetPort() const { return m_telnet; }

    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        return probe.serverPort();
    }

private:
    // Whether something listens on the port. A test connection would do instead, but ser2net
    // opens the device for it and may hold it a while after it closes.
    static bool listening(quint16 port)
    {
        QFile table(QStringLiteral("/proc/net/tcp"));
        const QByteArray entry = QStringLiteral("0100007F:%1 00000000:0000 0A")
                                     .arg(port, 4, 16, QLatin1Char('0'))
                                     .toUpper()
                                     .toLatin1();
        return table.open(QIODevice::ReadOnly) && table.readAll().contains(entry);
    }

    QTemporaryDir m_dir;
    quint16 m_raw = freePort();
    quint16 m_telnet = freePort();
    QProcess m_process;
};
