#pragma once

// A scripted serial server on loopback for the network port's tests: it accepts one client and
// runs a script on a thread of its own (say this, read that, stop reading, flood, go silent),
// and keeps everything the client sent. With Telnet helpers to write a server's bytes and to
// read back what a client sent as the RFCs name it.
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <atomic>
#include <functional>
#include <future>
#include <initializer_list>
#include <memory>
#include <thread>

namespace Telnet {
enum : int { IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240 };
// Options (ECHO is a terminal macro elsewhere).
enum : int { BIN = 0, TECHO = 1, SGA = 3, COM = 44 };

inline QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray out;
    for (const int b : list)
        out += char(b);
    return out;
}

// A COM-port subnegotiation; the value's IAC doubled as on the wire.
inline QByteArray com(int code, std::initializer_list<int> value)
{
    QByteArray v = bytes(value);
    v.replace(QByteArray(1, char(IAC)), QByteArray(2, char(IAC)));
    return bytes({ IAC, SB, COM, code }) + v + bytes({ IAC, SE });
}

// A server's answers to all a drive line's client asks: the option and binary both ways,
// the settings (38400 8N1, no flow control), and the purge of both buffers.
inline QByteArray agreesToOptions()
{
    return bytes({ IAC, DO, COM, IAC, DO, BIN, IAC, WILL, BIN });
}
inline QByteArray confirmsSettings()
{
    return com(101, { 0, 0, 150, 0 }) + com(102, { 8 }) + com(103, { 1 }) + com(104, { 1 })
        + com(105, { 1 });
}
inline QByteArray purged()
{
    return com(112, { 3 });
}
// The last of the settings a client asks for, and its request of a purge.
inline QByteArray lastSettingAsked()
{
    return bytes({ IAC, SB, COM, 5, 1, IAC, SE });
}
inline QByteArray purgeAsked()
{
    return bytes({ IAC, SB, COM, 12, 3, IAC, SE });
}

// What a client sent, as a server reads it: "WILL 44", "SB 44 1 0 0 150 0", and the line's
// data as one last "data ..." token.
inline QStringList heard(const QByteArray &in)
{
    static const char *verbs[] = { "WILL", "WONT", "DO", "DONT" };
    QStringList tokens;
    QByteArray data;
    for (qsizetype i = 0; i < in.size(); ++i) {
        const int b = static_cast<quint8>(in[i]);
        const int next = i + 1 < in.size() ? static_cast<quint8>(in[i + 1]) : -1;
        if (b != IAC) {
            data += char(b);
        } else if (next == IAC) {
            data += char(b);
            ++i;
        } else if (next >= WILL && next <= DONT && i + 2 < in.size()) {
            tokens << QStringLiteral("%1 %2").arg(verbs[next - WILL]).arg(quint8(in[i + 2]));
            i += 2;
        } else if (next == SB) {
            QStringList parts { QStringLiteral("SB") };
            for (i += 2; i < in.size(); ++i) {
                const int c = static_cast<quint8>(in[i]);
                if (c == IAC && i + 1 < in.size() && quint8(in[i + 1]) == SE)
                    break;
                if (c == IAC)
                    ++i; // doubled
                parts << QString::number(c);
            }
            ++i;
            tokens << parts.join(' ');
        }
    }
    if (!data.isEmpty())
        tokens << QStringLiteral("data ") + QString::fromLatin1(data);
    return tokens;
}
} // namespace Telnet

class TcpPeer final {
public:
    // The peer's side of the connection, for its script.
    class Side {
    public:
        explicit Side(QTcpSocket &socket, const std::atomic<bool> &stop)
            : m_socket(socket), m_stop(stop)
        {
        }
        bool connected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
        // Set once the test has seen what it waited for.
        bool stopping() const { return m_stop.load(); }
        void send(const QByteArray &bytes)
        {
            if (connected() && m_socket.write(bytes) > 0)
                m_socket.waitForBytesWritten(1000);
        }
        // Reads until the text came (true), the time passed or the client went.
        bool readUntil(const QByteArray &text, int ms = 4000)
        {
            const qsizetype from = heard.size();
            for (QDeadlineTimer end(ms); !end.hasExpired() && !stopping();) {
                if (heard.indexOf(text, from) >= 0)
                    return true;
                if (!m_socket.waitForReadyRead(20) && !connected())
                    return false;
                if (m_socket.isOpen())
                    heard += m_socket.readAll();
            }
            return heard.indexOf(text, from) >= 0;
        }
        // Stays, without reading, until the test stops the peer or the time passes.
        void hold(int ms = 10000)
        {
            for (QDeadlineTimer end(ms); !end.hasExpired() && !stopping();)
                QThread::msleep(5);
        }
        void close() { m_socket.abort(); }
        // As a server of the COM-port option that offers `offers`, agrees to what a drive
        // line's client asks, and holds `stale` from before the purge.
        void negotiate(const QByteArray &offers = Telnet::agreesToOptions(),
                       const QByteArray &stale = {})
        {
            send(offers);
            readUntil(Telnet::lastSettingAsked());
            send(Telnet::confirmsSettings());
            readUntil(Telnet::purgeAsked());
            send(stale + Telnet::purged());
        }

        QByteArray heard;

    private:
        QTcpSocket &m_socket;
        const std::atomic<bool> &m_stop;
    };
    using Script = std::function<void(Side &)>;

    explicit TcpPeer(Script script) : m_script(std::move(script))
    {
        std::promise<quint16> listening;
        m_thread = std::thread([this, &listening] { run(listening); });
        m_port = listening.get_future().get();
    }
    ~TcpPeer() { stop(); }

    quint16 port() const { return m_port; }
    // Ends the script's waits and reads what the client still sends, until it goes.
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    // Everything the client sent; complete once stopped.
    QByteArray heard() const { return m_heard; }

private:
    void run(std::promise<quint16> &listening)
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        listening.set_value(server.serverPort());
        while (!server.waitForNewConnection(50)) {
            if (m_stop)
                return;
        }
        std::unique_ptr<QTcpSocket> client(server.nextPendingConnection());
        Side side(*client, m_stop);
        if (m_script)
            m_script(side);
        // What the client sends until it closes, or a short while after the test is done.
        for (QDeadlineTimer end(10000); side.connected() && !end.hasExpired();) {
            if (client->waitForReadyRead(20))
                side.heard += client->readAll();
            else if (m_stop)
                break;
        }
        if (client->isOpen())
            side.heard += client->readAll();
        m_heard = side.heard;
    }

    Script m_script;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    quint16 m_port = 0;
    QByteArray m_heard;
};
