#include "NetworkSerialPort.h"

#include "HostLookup.h"

#include <QNetworkProxy>
#include <QThread>

#include <algorithm>
#include <utility>
#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
using NativeSocket = SOCKET;
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
using NativeSocket = int;
#endif

namespace {
// Far above the longest reply (a record is a few kB).
constexpr qsizetype MaxBufferedInput = 256 * 1024;
// What is kept of the server's first words, for a message.
constexpr qsizetype MaxOpeningText = 256;
// The least time an address is given before the next one is tried.
constexpr int MinAttemptMs = 250;

int msLeft(const QDeadlineTimer &deadline)
{
    return static_cast<int>(std::max<qint64>(0, deadline.remainingTime()));
}

// What a server said, fit for a one-line message.
QString saidText(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes.left(120))
        text += c >= 0x20 && c < 0x7F ? QChar::fromLatin1(c) : QChar(' ');
    return text.simplified();
}

void setTcpOption(qintptr socket, int level, int name, int value)
{
    setsockopt(static_cast<NativeSocket>(socket), level, name,
               reinterpret_cast<const char *>(&value), sizeof value);
}

// A connection whose server has acknowledged nothing for `limit` is ended by the system: data
// that stays unacknowledged (TCP_USER_TIMEOUT), or an idle line whose keep-alive probes go
// unanswered.
void watchForSilence(QTcpSocket &socket, std::chrono::milliseconds limit)
{
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const qintptr fd = socket.socketDescriptor();
    const int seconds = static_cast<int>(std::max<qint64>(1, limit.count() / 1000));
#if defined(TCP_KEEPIDLE) && defined(TCP_KEEPINTVL) && defined(TCP_KEEPCNT)
    setTcpOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, std::max(1, seconds / 3));
    setTcpOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, std::max(1, seconds / 3));
    setTcpOption(fd, IPPROTO_TCP, TCP_KEEPCNT, 2);
#endif
#if defined(TCP_USER_TIMEOUT)
    setTcpOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(limit.count()));
#elif defined(TCP_MAXRT)
    setTcpOption(fd, IPPROTO_TCP, TCP_MAXRT, seconds);
#endif
    Q_UNUSED(fd);
    Q_UNUSED(seconds);
}
} // namespace

NetworkSerialPort::~NetworkSerialPort()
{
    close();
}

bool NetworkSerialPort::open()
{
    close();
    m_error.clear();
    m_lost = false;
    m_prompted = false;
    m_opening.clear();
    m_input.clear();
    m_telnet = Rfc2217Client();
    const std::optional<NetworkPort> target = networkPortFromText(m_name);
    if (!target) {
        m_error = portTextProblem(m_name);
        return false;
    }
    m_server = target->host.contains(QLatin1Char(':'))
        ? QStringLiteral("[%1]:%2").arg(target->host).arg(target->port)
        : QStringLiteral("%1:%2").arg(target->host).arg(target->port);
    m_rfc2217 = target->protocol == NetworkPort::Rfc2217;

    const QDeadlineTimer deadline(OpenTimeout);
    if (!connectWithin(*target, deadline))
        return false;
    // Paced commands go out a character at a time; none may wait for the previous one's ACK.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    watchForSilence(*m_socket, SilenceLimit);
    if (m_rfc2217 && !negotiateWithin(deadline))
        return false;

    // The fallback for a server that says nothing before it closes.
    QDeadlineTimer grace(std::min<qint64>(InUseGrace.count(), msLeft(deadline)));
    while (m_socket->state() == QAbstractSocket::ConnectedState && !grace.hasExpired()
           && m_error.isEmpty()) {
        m_socket->waitForReadyRead(std::max(1, msLeft(grace)));
        pull();
    }
    if (!m_error.isEmpty())
        return refuse(m_error);
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return refuse(QString());
    // Whatever came before the first command is nobody's reply.
    m_input.clear();
    m_open = true;
    return true;
}

bool NetworkSerialPort::connectWithin(const NetworkPort &target, const QDeadlineTimer &deadline)
{
    const QList<QHostAddress> addresses
        = HostLookup::interleaved(HostLookup::resolve(target.host, deadline, m_error));
    if (addresses.isEmpty())
        return false;
    for (qsizetype i = 0; i < addresses.size() && !deadline.hasExpired(); ++i) {
        m_socket = std::make_unique<QTcpSocket>();
        // A serial server is reached directly, never through a proxy of the desktop.
        m_socket->setProxy(QNetworkProxy::NoProxy);
        // Read where an event loop runs between exchanges; bounded all the same.
        m_socket->setReadBufferSize(MaxBufferedInput);
        m_socket->connectToHost(addresses[i], target.port);
        // Each address its share of the time left, so that one that never answers leaves
        // time for the others.
        const int left = msLeft(deadline);
        const int share = i + 1 == addresses.size()
            ? left
            : std::min(left, std::max(MinAttemptMs, left / int(addresses.size() - i)));
        if (m_socket->waitForConnected(std::max(1, share)))
            return true;
        const QAbstractSocket::SocketError error = m_socket->error();
        if (error == QAbstractSocket::ConnectionRefusedError)
            m_error = QStringLiteral("%1 refused the connection").arg(m_server);
        else if (error != QAbstractSocket::SocketTimeoutError)
            m_error = QStringLiteral("%1: %2").arg(m_server, m_socket->errorString());
        m_socket.reset();
    }
    if (deadline.hasExpired() || m_error.isEmpty())
        m_error = QStringLiteral("no answer from %1 within %2 s")
                      .arg(m_server)
                      .arg(OpenTimeout.count() / 1000);
    return false;
}

bool NetworkSerialPort::negotiateWithin(const QDeadlineTimer &deadline)
{
    // A server that turns us away (ser2net: "Port already in use") closes at once; sent
    // anything before that, it resets the connection, and its words are lost with it. So it
    // speaks first, and what it said is read on a copy, as the greeting is not out yet.
    if (m_socket->bytesAvailable() == 0)
        m_socket->waitForReadyRead(
            std::max(1, std::min(msLeft(deadline), int(InUseGrace.count()))));
    Rfc2217Client firstWords = m_telnet;
    QByteArray unanswered;
    firstWords.receive(m_socket->peek(MaxBufferedInput), unanswered);
    if (const QString busy = inUse(firstWords.said()); !busy.isEmpty())
        return refuse(busy);

    send(m_telnet.greeting());
    while (m_telnet.state() == Rfc2217Client::State::Negotiating) {
        if (!m_error.isEmpty())
            return refuse(m_error);
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return refuse(QString());
        if (deadline.hasExpired())
            return refuse(QStringLiteral("no answer from %1 to the Telnet negotiation (binary "
                                         "mode, COM-port settings, purge) within %2 s")
                              .arg(m_server)
                              .arg(OpenTimeout.count() / 1000));
        m_socket->waitForReadyRead(std::max(1, std::min(msLeft(deadline), 50)));
        pull();
    }
    const QString problem = m_telnet.problem();
    switch (m_telnet.state()) {
    case Rfc2217Client::State::Negotiating:
    case Rfc2217Client::State::Ready:
        break;
    case Rfc2217Client::State::Refused:
        return refuse(QStringLiteral("the server %1 refuses the COM-port option (RFC 2217); "
                                     "socket://%1 reaches a raw TCP port")
                          .arg(m_server));
    case Rfc2217Client::State::BinaryRefused:
        return refuse(QStringLiteral("the server %1 refuses binary mode (RFC 856): %2")
                          .arg(m_server, problem));
    case Rfc2217Client::State::Mismatch:
        return refuse(QStringLiteral("the server %1 did not set the line to 38400 8N1 without "
                                     "flow control: %2")
                          .arg(m_server, problem));
    case Rfc2217Client::State::ProtocolError:
        return refuse(
            m_error.isEmpty()
                ? QStringLiteral("the server %1 broke the Telnet rules: %2").arg(m_server, problem)
                : m_error);
    }
    return true;
}

bool NetworkSerialPort::refuse(const QString &why)
{
    if (!why.isEmpty()) {
        m_error = why;
    } else {
        const QByteArray said = m_rfc2217 ? m_telnet.said() : m_opening;
        m_error = inUse(said);
        if (m_error.isEmpty())
            m_error = said.isEmpty()
                ? QStringLiteral("%1 closed the connection at once (in use by another client?)")
                      .arg(m_server)
                : QStringLiteral("%1 closed the connection at once; it said \"%2\"")
                      .arg(m_server, saidText(said));
    }
    m_socket.reset();
    m_input.clear();
    m_telnet = Rfc2217Client();
    return false;
}

void NetworkSerialPort::lose(const QString &why)
{
    m_lost = true;
    m_error = why;
    m_input.clear();
    if (m_socket)
        m_socket->abort();
}

void NetworkSerialPort::close()
{
    // The socket goes with the connection: the next open may come from another thread.
    m_socket.reset();
    m_open = false;
    m_input.clear();
}

bool NetworkSerialPort::isUsable() const
{
    return m_open && !m_lost && m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool NetworkSerialPort::write(const QByteArray &data, int timeoutMs)
{
    if (!isUsable())
        return false;
    const QDeadlineTimer deadline(std::max(0, timeoutMs));
    // The server asked us to hold our data (FLOWCONTROL-SUSPEND): wait for it to resume,
    // within the time given, before anything of the command goes.
    while (m_rfc2217 && m_telnet.suspended()) {
        if (deadline.hasExpired())
            return false;
        m_socket->waitForReadyRead(std::clamp(msLeft(deadline), 1, 5));
        pull();
        if (!isUsable())
            return false;
    }
    if (!send(m_rfc2217 ? m_telnet.encode(data) : data))
        return false;
    // Without an event loop nothing leaves Qt's buffer until we wait for it. Bytes still
    // there at the deadline might reach the drive at any later time, cut off or glued to the
    // next command: the connection goes instead.
    while (m_socket->bytesToWrite() > 0) {
        if (deadline.hasExpired()) {
            lose(QStringLiteral("the connection to %1 was dropped: the server took no data "
                                "for %2 ms")
                     .arg(m_server)
                     .arg(timeoutMs));
            return false;
        }
        m_socket->waitForBytesWritten(std::max(1, msLeft(deadline)));
        checkConnection();
        if (!isUsable())
            return false;
    }
    return true;
}

QByteArray NetworkSerialPort::readAll()
{
    if (!m_open || !m_socket)
        return {};
    // A zero wait pulls what the system holds into Qt's buffer without sleeping.
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->waitForReadyRead(0);
    pull();
    return std::exchange(m_input, QByteArray());
}

void NetworkSerialPort::waitForInput(int ms)
{
    if (ms <= 0)
        return;
    if (isUsable()) {
        m_socket->waitForReadyRead(ms);
        pull();
        return;
    }
    // A closed or lost connection returns from waitForReadyRead at once: sleep instead.
    QThread::msleep(static_cast<unsigned long>(ms));
}

QString NetworkSerialPort::errorString() const
{
    if (!m_open || m_lost || isUsable())
        return m_error;
    if (m_socket->error() == QAbstractSocket::RemoteHostClosedError)
        return QStringLiteral("the connection to %1 was lost: the server closed it").arg(m_server);
    // The system gave up on a server that acknowledged nothing (see watchForSilence).
    if (m_socket->error() == QAbstractSocket::SocketTimeoutError)
        return QStringLiteral("the connection to %1 was lost: no sign of the server for %2 s "
                              "(a cable, a switch or the server gone?)")
            .arg(m_server)
            .arg(SilenceLimit.count() / 1000);
    return QStringLiteral("the connection to %1 was lost: %2")
        .arg(m_server, m_socket->errorString());
}

bool NetworkSerialPort::send(const QByteArray &bytes)
{
    // What still waits from before: answers to the server's requests that it never read.
    if (m_socket->bytesToWrite() > MaxUnsent) {
        lose(QStringLiteral("the connection to %1 was dropped: the server does not read what "
                            "is sent to it (%2 bytes waiting)")
                 .arg(m_server)
                 .arg(m_socket->bytesToWrite()));
        return false;
    }
    if (m_socket->write(bytes) != bytes.size()) {
        lose(QStringLiteral("the connection to %1 was lost: %2")
                 .arg(m_server, m_socket->errorString()));
        return false;
    }
    // As much as the system takes now, without waiting.
    m_socket->flush();
    return true;
}

void NetworkSerialPort::pull()
{
    if (!m_socket || m_lost)
        return;
    const QByteArray received = m_socket->readAll();
    if (!received.isEmpty()) {
#ifdef Q_OS_LINUX
        // A server with Nagle's algorithm on (ser2net's default) holds the rest of a reply
        // until this part is acknowledged, and Linux delays acknowledgements by up to 40 ms: a
        // prompt would come late. Acknowledge at once instead.
        setTcpOption(m_socket->socketDescriptor(), IPPROTO_TCP, TCP_QUICKACK, 1);
#endif
        QByteArray data = received;
        if (m_rfc2217) {
            QByteArray answers;
            data = m_telnet.receive(received, answers);
            // Before any answer: a server that turns us away must not be sent to (see above).
            if (m_telnet.state() == Rfc2217Client::State::Negotiating) {
                const QString busy = inUse(m_telnet.said());
                if (!busy.isEmpty()) {
                    lose(busy);
                    return;
                }
            }
            if (!answers.isEmpty() && !send(answers))
                return;
            if (m_telnet.state() == Rfc2217Client::State::ProtocolError) {
                lose(QStringLiteral("the connection to %1 was dropped: the server broke the "
                                    "Telnet rules (%2)")
                         .arg(m_server, m_telnet.problem()));
                return;
            }
        }
        watchOpening(data);
        if (m_lost)
            return;
        m_input += data;
        // The oldest bytes go: a prompt, if one came, is among the newest.
        if (m_input.size() > MaxBufferedInput)
            m_input.remove(0, m_input.size() - MaxBufferedInput);
    }
    checkConnection();
}

void NetworkSerialPort::watchOpening(const QByteArray &data)
{
    // Until the first prompt, a text of the server's own ("Port already in use") may come
    // instead of a reply, late on a slow link: it means the line belongs to someone else.
    if (m_prompted || data.isEmpty())
        return;
    const qsizetype prompt = data.indexOf('>');
    m_opening
        += data.left(prompt < 0 ? data.size() : prompt + 1).left(MaxOpeningText - m_opening.size());
    const QString busy = inUse(m_opening);
    if (!busy.isEmpty())
        lose(busy);
    else
        m_prompted = prompt >= 0;
}

void NetworkSerialPort::checkConnection()
{
    if (!m_open || m_lost || !m_socket || m_socket->state() == QAbstractSocket::ConnectedState)
        return;
    m_error = errorString();
    m_lost = true;
}

QString NetworkSerialPort::inUse(const QByteArray &said) const
{
    const QString text = saidText(said);
    if (!text.contains(QLatin1String("in use"), Qt::CaseInsensitive))
        return QString();
    return QStringLiteral("%1 is in use: the server said \"%2\"").arg(m_server, text);
}
