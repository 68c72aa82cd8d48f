#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>
#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

// Small measuring helpers: medians, CPU time, resident memory, machine load.
namespace Measure {

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline double quantile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(q * (v.size() - 1) + 0.5)];
}

inline double seconds(const timeval &t)
{
    return t.tv_sec + t.tv_usec / 1e6;
}

// User + system CPU seconds of the whole process (who = RUSAGE_SELF) or this thread.
inline double cpuSeconds(int who = RUSAGE_SELF)
{
    rusage u {};
    getrusage(who, &u);
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}

// A field of /proc/<pid>/status in kB ("VmRSS", "VmHWM"); -1 when unreadable.
inline long statusKb(const char *field, pid_t pid = 0)
{
    QFile f(pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// User + system CPU seconds of another process so far, from /proc (10 ms resolution).
inline double processCpuSeconds(pid_t pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return (fields[11].toDouble() + fields[12].toDouble()) / sysconf(_SC_CLK_TCK);
}

inline QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(f.readAll().split(' ').mid(0, 3).join(' '));
}

} // namespace Measure
