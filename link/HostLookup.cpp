#include "HostLookup.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>
#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

namespace {
std::atomic<int> g_running { 0 };

// What one lookup found. The thread only touches this and the C library: it may outlive the
// caller, and Qt's globals at the program's end.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::vector<sockaddr_storage> addresses;
    std::string error;
};

void lookUp(const std::string &host, Lookup &result)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    const int code = getaddrinfo(host.c_str(), nullptr, &hints, &list);
    std::vector<sockaddr_storage> addresses;
    for (const addrinfo *a = list; a; a = a->ai_next) {
        if (a->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        sockaddr_storage s {};
        std::memcpy(&s, a->ai_addr, a->ai_addrlen);
        addresses.push_back(s);
    }
    if (list)
        freeaddrinfo(list);
    const std::lock_guard<std::mutex> lock(result.mutex);
    result.addresses = std::move(addresses);
    if (code != 0)
        result.error = gai_strerror(code);
    result.finished = true;
    result.done.notify_all();
}

int msLeft(const QDeadlineTimer &deadline)
{
    return static_cast<int>(std::max<qint64>(0, deadline.remainingTime()));
}
} // namespace

namespace HostLookup {

int running()
{
    return g_running.load();
}

QList<QHostAddress> resolve(const QString &host, const QDeadlineTimer &deadline, QString &error)
{
    QHostAddress literal;
    if (literal.setAddress(host))
        return { literal };
    if (g_running.load() >= MaxHanging) {
        error = QStringLiteral("%1 earlier name lookups still hang; give the server's address "
                               "instead of %2")
                    .arg(g_running.load())
                    .arg(host);
        return {};
    }
    auto lookup = std::make_shared<Lookup>();
    const std::string name = host.toStdString();
    ++g_running;
    try {
        std::thread([lookup, name] {
            lookUp(name, *lookup);
            --g_running;
        }).detach();
    } catch (const std::system_error &e) {
        --g_running;
        error = QStringLiteral("cannot look up %1: no thread for it (%2)")
                    .arg(host, QString::fromLocal8Bit(e.what()));
        return {};
    }
    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_for(lock, std::chrono::milliseconds(msLeft(deadline)),
                               [&] { return lookup->finished; })) {
        error = QStringLiteral("the host %1 could not be resolved in time").arg(host);
        return {};
    }
    QList<QHostAddress> addresses;
    for (const sockaddr_storage &s : lookup->addresses)
        addresses << QHostAddress(reinterpret_cast<const sockaddr *>(&s));
    if (addresses.isEmpty())
        error = QStringLiteral("the host %1 cannot be resolved: %2")
                    .arg(host, QString::fromLocal8Bit(lookup->error.c_str()));
    return addresses;
}

QList<QHostAddress> interleaved(const QList<QHostAddress> &addresses)
{
    if (addresses.isEmpty())
        return {};
    QList<QHostAddress> first, second;
    const QAbstractSocket::NetworkLayerProtocol leading = addresses.first().protocol();
    for (const QHostAddress &a : addresses)
        (a.protocol() == leading ? first : second) << a;
    QList<QHostAddress> out;
    for (qsizetype i = 0; i < std::max(first.size(), second.size()); ++i) {
        if (i < first.size())
            out << first[i];
        if (i < second.size())
            out << second[i];
    }
    return out;
}

} // namespace HostLookup
