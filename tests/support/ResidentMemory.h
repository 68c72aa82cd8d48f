#pragma once

#include <QFile>
#include <QRegularExpression>

// The resident size in kB from /proc of this process, or of another one, or -1 where that
// cannot be read.
inline long residentKb(qint64 pid = 0)
{
    QFile status(pid ? QStringLiteral("/proc/%1/status").arg(pid)
                     : QStringLiteral("/proc/self/status"));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const auto match
        = QRegularExpression(QStringLiteral("VmRSS:\\s*(\\d+)")).match(QString::fromLatin1(text));
    return match.hasMatch() ? match.captured(1).toLong() : -1;
}
