#pragma once

#include <QProcess>
#include <QStringList>

// The drive simulator as a child process: the line's path from its first output line, and
// its control commands on standard input, each answered by one line.
class SimProcess final {
public:
    explicit SimProcess(const QStringList &args)
    {
        m_process.start(QStringLiteral(VCM_DRIVE_SIM), args);
        if (m_process.waitForStarted(5000))
            m_path = readLine();
    }
    // Asked to quit first; QProcess's destructor kills it if it does not.
    ~SimProcess()
    {
        if (m_process.state() != QProcess::NotRunning && command(QStringLiteral("quit")) == "bye")
            m_process.waitForFinished(2000);
    }

    QString path() const { return m_path; }

    // Sends one control command and returns the simulator's answer line.
    QString command(const QString &line)
    {
        m_process.write(line.toUtf8() + '\n');
        m_process.waitForBytesWritten(1000);
        return readLine();
    }

private:
    // Gives up when the simulator has been silent for 5 s or has gone.
    QString readLine()
    {
        while (!m_process.canReadLine() && m_process.waitForReadyRead(5000)) { }
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }

    QProcess m_process;
    QString m_path;
};
