#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <thread>
#include <unistd.h>

// The far end of a real pseudo-terminal, answering command lines from its own thread.
// The port under test opens path() through the console's QSerialPort adapter. While
// `babble` is set it floods the line with prompt-less noise instead, as fast as it drains.
class PtyPeer final {
public:
    using Answer = std::function<QByteArray(const QByteArray &line)>;

    explicit PtyPeer(Answer answer) : m_answer(std::move(answer))
    {
        int slave = -1;
        char name[256] = {};
        if (openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
            return;
        ::close(slave);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
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

    QString path() const { return m_path; }
    int linesSeen() const { return m_lines; }

    std::atomic<bool> babble { false };
    std::atomic<qint64> babbled { 0 };

private:
    void run()
    {
        const QByteArray noise(4096, 'A');
        QByteArray line;
        while (!m_stop) {
            if (babble) {
                if (writeAll(noise))
                    babbled += noise.size();
                else
                    ::usleep(2000);
                continue;
            }
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
            line.append(buf, n);
            for (qsizetype cr; (cr = line.indexOf('\r')) >= 0; line.remove(0, cr + 1)) {
                ++m_lines;
                if (!writeAll(m_answer(line.left(cr))))
                    return;
            }
        }
    }

    // The master is non-blocking (for the flood); a reply still goes out whole.
    bool writeAll(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size() && !m_stop) {
            const ssize_t n = ::write(m_master, bytes.constData() + done, bytes.size() - done);
            if (n > 0)
                done += n;
            else if (n < 0 && errno != EAGAIN)
                return false;
            else
                ::usleep(200);
        }
        return true;
    }

    Answer m_answer;
    int m_master = -1;
    QString m_path;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_lines { 0 };
};
