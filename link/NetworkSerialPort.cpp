#include "NetworkSerialPort.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkProxy>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#ifdef Q_OS_UNIX
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {
constexpr int WriteTimeoutMs = 2000;
// Far above the longest reply (a record is a few kB).
constexpr qsizetype MaxBufferedInput = 256 * 1024;

int msLeft(const QDeadlineTimer &deadline)
{
    return static_cast<int>(std::max<qint64>(0, deadline.remainingTime()));
}

struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    QList<QHostAddress> addresses;
    QString error;
};

void lookUp(const QString &host, Lookup &result)
{
    QList<QHostAddress> addresses;
    QString error;
#ifdef Q_OS_UNIX
    // The system's resolver directly: this thread may outlive the program's Qt globals.
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    const int code = getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &list);
    if (code != 0)
        error = QString::fromLocal8Bit(gai_strerror(code));
    for (const addrinfo *a = list; a; a = a->ai_next)
        addresses << QHostAddress(a->ai_addr);
    if (list)
        freeaddrinfo(list);
#else
    const QHostInfo info = QHostInfo::fromName(host);
    addresses = info.addresses();
    error = info.errorString();
#endif
    const std::lock_guard<std::mutex> lock(result.mutex);
    result.addresses = addresses;
    result.error = error;
    result.finished = true;
    result.done.notify_all();
}

// The host's addresses, looked up on a thread of its own so that a resolver that hangs
// cannot hold the window past the deadline.
QList<QHostAddress> resolveWithin(const QString &host, const QDeadlineTimer &deadline,
                                  QString &error)
{
    QHostAddress literal;
    if (literal.setAddress(host))
        return { literal };
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host] { lookUp(host, *lookup); }).detach();
    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_for(lock, std::chrono::milliseconds(msLeft(deadline)),
                               [&] { return lookup->finished; })) {
        error = QStringLiteral("the host %1 could not be resolved within %2 s")
                    .arg(host)
                    .arg(NetworkSerialPort::OpenTimeout.count() / 1000);
        return {};
    }
    if (lookup->addresses.isEmpty())
        error = QStringLiteral("the host %1 cannot be resolved: %2").arg(host, lookup->error);
    return lookup->addresses;
}

// What a server said before it closed, fit for a one-line message.
QString saidText(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes.left(120))
        text += c >= 0x20 && c < 0x7F ? QChar::fromLatin1(c) : QChar(' ');
    return text.simplified();
}
} // namespace

NetworkSerialPort::NetworkSerialPort()
{
    // A serial server is reached directly, never through a proxy of the desktop.
    m_socket.setProxy(QNetworkProxy::NoProxy);
    // While the window's event loop runs between exchanges, Qt keeps reading the socket: the
    // bytes go through the Telnet decoding at once, and the buffer stays bounded.
    QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] { pull(); });
}

NetworkSerialPort::~NetworkSerialPort()
{
    close();
}

void NetworkSerialPort::setPortName(const QString &name)
{
    m_name = name;
}

QString NetworkSerialPort::portName() const
{
    return m_name;
}

bool NetworkSerialPort::open()
{
    close();
    m_error.clear();
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
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (m_rfc2217 && !negotiateWithin(deadline))
        return false;

    QDeadlineTimer grace(std::min<qint64>(InUseGrace.count(), msLeft(deadline)));
    while (m_socket.state() == QAbstractSocket::ConnectedState && !grace.hasExpired()) {
        m_socket.waitForReadyRead(std::max(1, msLeft(grace)));
        pull();
    }
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return refuse(QString());
    // Whatever came before the first command is nobody's reply.
    m_input.clear();
    m_open = true;
    return true;
}

bool NetworkSerialPort::connectWithin(const NetworkPort &target, const QDeadlineTimer &deadline)
{
    const QList<QHostAddress> addresses = resolveWithin(target.host, deadline, m_error);
    if (addresses.isEmpty())
        return false;
    for (const QHostAddress &address : addresses) {
        if (deadline.hasExpired())
            break;
        m_socket.connectToHost(address, target.port);
        if (m_socket.waitForConnected(std::max(1, msLeft(deadline))))
            return true;
        const QAbstractSocket::SocketError error = m_socket.error();
        if (error == QAbstractSocket::ConnectionRefusedError)
            m_error = QStringLiteral("%1 refused the connection").arg(m_server);
        else if (error != QAbstractSocket::SocketTimeoutError)
            m_error = QStringLiteral("%1: %2").arg(m_server, m_socket.errorString());
        m_socket.abort();
    }
    if (deadline.hasExpired() || m_error.isEmpty())
        m_error = QStringLiteral("no answer from %1 within %2 s")
                      .arg(m_server)
                      .arg(OpenTimeout.count() / 1000);
    return false;
}

bool NetworkSerialPort::negotiateWithin(const QDeadlineTimer &deadline)
{
    m_socket.write(m_telnet.greeting());
    m_socket.flush();
    while (m_telnet.state() == Rfc2217Client::State::Negotiating) {
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            return refuse(QString());
        if (deadline.hasExpired())
            return refuse(QStringLiteral("no answer from %1 to the COM-port settings within %2 s")
                              .arg(m_server)
                              .arg(OpenTimeout.count() / 1000));
        m_socket.waitForReadyRead(std::max(1, std::min(msLeft(deadline), 50)));
        pull();
    }
    if (m_telnet.state() == Rfc2217Client::State::Refused)
        return refuse(QStringLiteral("the server %1 refuses the COM-port option (RFC 2217); "
                                     "socket://%1 reaches a raw TCP port")
                          .arg(m_server));
    if (m_telnet.state() == Rfc2217Client::State::Mismatch)
        return refuse(QStringLiteral("the server %1 did not set the line to 38400 8N1 without "
                                     "flow control: %2")
                          .arg(m_server, m_telnet.mismatch()));
    return true;
}

bool NetworkSerialPort::refuse(const QString &why)
{
    if (!why.isEmpty()) {
        m_error = why;
    } else {
        const QString said = saidText(m_input);
        m_error = said.isEmpty()
            ? QStringLiteral("%1 closed the connection at once (in use by another client?)")
                  .arg(m_server)
            : QStringLiteral("%1 is in use: the server said \"%2\"").arg(m_server, said);
    }
    m_socket.abort();
    m_input.clear();
    m_telnet = Rfc2217Client();
    return false;
}

void NetworkSerialPort::close()
{
    m_socket.abort();
    m_open = false;
    m_input.clear();
    m_telnet = Rfc2217Client();
}

bool NetworkSerialPort::isOpen() const
{
    return m_open;
}

bool NetworkSerialPort::isUsable() const
{
    return m_open && m_socket.state() == QAbstractSocket::ConnectedState;
}

bool NetworkSerialPort::write(const QByteArray &data)
{
    if (!isUsable())
        return false;
    const QByteArray bytes = m_rfc2217 ? Rfc2217Client::escape(data) : data;
    if (m_socket.write(bytes) != bytes.size())
        return false;
    // Without an event loop nothing leaves Qt's buffer until we wait for it.
    while (m_socket.bytesToWrite() > 0) {
        if (!m_socket.waitForBytesWritten(WriteTimeoutMs))
            return isUsable();
    }
    return true;
}

QByteArray NetworkSerialPort::readAll()
{
    if (!m_open)
        return {};
    // A zero wait pulls what the system holds into Qt's buffer without sleeping.
    if (m_socket.state() == QAbstractSocket::ConnectedState)
        m_socket.waitForReadyRead(0);
    pull();
    return std::exchange(m_input, QByteArray());
}

void NetworkSerialPort::waitForInput(int ms)
{
    if (ms <= 0)
        return;
    if (isUsable()) {
        m_socket.waitForReadyRead(ms);
        pull();
        return;
    }
    // A closed or lost connection returns from waitForReadyRead at once: sleep instead.
    QThread::msleep(static_cast<unsigned long>(ms));
}

QString NetworkSerialPort::errorString() const
{
    if (m_open && !isUsable())
        return QStringLiteral("the connection to %1 was lost").arg(m_server);
    return m_error;
}

void NetworkSerialPort::pull()
{
    if (!m_socket.isOpen())
        return;
    const QByteArray received = m_socket.readAll();
    if (received.isEmpty())
        return;
#ifdef Q_OS_LINUX
    // A server with Nagle's algorithm on (ser2net's default) holds the rest of a reply until
    // this part is acknowledged, and Linux delays acknowledgements by up to 40 ms: a prompt
    // would come late. Acknowledge at once instead.
    const int one = 1;
    setsockopt(static_cast<int>(m_socket.socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &one,
               sizeof one);
#endif
    if (m_rfc2217) {
        QByteArray answers;
        m_input += m_telnet.receive(received, answers);
        if (!answers.isEmpty()) {
            m_socket.write(answers);
            m_socket.flush();
        }
    } else {
        m_input += received;
    }
    // The oldest bytes go: a prompt, if one came, is among the newest.
    if (m_input.size() > MaxBufferedInput)
        m_input.remove(0, m_input.size() - MaxBufferedInput);
}
