#pragma once

// A test row that needs a network of its own (a loopback to take down, a name server that never
// answers) runs again in a child of the test program, in namespaces of its own made with
// `unshare`: the child finds VCM_TEST_OWN_NAMESPACE set and runs the row for real.
#include <QCoreApplication>
#include <QProcess>
#include <QString>

#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace OwnNamespace {

inline bool inside()
{
    return qEnvironmentVariableIsSet("VCM_TEST_OWN_NAMESPACE");
}

struct Rerun {
    bool ran = false; // false: no namespace could be made (`output` says why)
    int exitCode = -1;
    QString output;
};

// The test function's row again, in a network namespace (and a mount namespace with `mounts`)
// of its own.
inline Rerun rerun(const QString &function, const QString &tag, bool mounts = false)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VCM_TEST_OWN_NAMESPACE"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("unshare"),
                { mounts ? QStringLiteral("-rnm") : QStringLiteral("-rn"),
                  QCoreApplication::applicationFilePath(),
                  QStringLiteral("%1:%2").arg(function, tag) });
    Rerun r;
    if (!child.waitForFinished(120000)) {
        r.output = QStringLiteral("unshare: did not finish");
        return r;
    }
    r.output = QString::fromLocal8Bit(child.readAll());
    r.exitCode = child.exitCode();
    r.ran = child.exitStatus() == QProcess::NormalExit && !r.output.startsWith("unshare:");
    return r;
}

// The loopback up or down: down, every packet on it is lost without a word, as when a cable is
// pulled between the console and the server.
inline bool setLoopback(bool up)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request {};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (ok) {
        request.ifr_flags = up ? (request.ifr_flags | IFF_UP) : (request.ifr_flags & ~IFF_UP);
        ok = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    if (fd >= 0)
        ::close(fd);
    return ok;
}

} // namespace OwnNamespace
