#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

// The far end of a real pseudo-terminal, answering command lines from its own thread.
// The port under test opens path() through the console's QSerialPort adapter.
class PtyPeer final {
public:
    using Answer = std::function<QByteArray(const QByteArray &line)>;

    explicit PtyPeer(Answer answer) : m_answer(std::move(answer))
    {
        int slave = -1;
        char name[256] = {};
        if (openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
            return;
        termios tio {};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        ::close(slave);
        m_path = QString::fromLocal8Bit(name);
        m_thread = std::thread([this] { run(); });
    }
    ~PtyPeer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_master >= 0)
            ::close(m_master);
    }
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    QString path() const { return m_path; }
    int linesSeen() const { return m_lines; }

private:
    void run()
    {
        QByteArray line;
        while (!m_stop) {
            pollfd p { m_master, POLLIN, 0 };
            if (::poll(&p, 1, 5) <= 0)
                continue;
            char buf[256];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0) {
                // No one has the port open: avoid spinning on POLLHUP.
                ::usleep(2000);
                continue;
            }
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] != '\r') {
                    line += buf[i];
                    continue;
                }
                ++m_lines;
                const QByteArray reply = m_answer(line);
                line.clear();
                if (!reply.isEmpty() && ::write(m_master, reply.constData(), reply.size()) < 0)
                    return;
            }
        }
    }

    Answer m_answer;
    int m_master = -1;
    QString m_path;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_lines { 0 };
};
