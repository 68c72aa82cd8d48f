#pragma once

#include <QFile>
#include <QRegularExpression>

// The process's resident size in kB from /proc, or -1 where that cannot be read.
inline long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const auto match
        = QRegularExpression(QStringLiteral("VmRSS:\\s*(\\d+)")).match(QString::fromLatin1(text));
    return match.hasMatch() ? match.captured(1).toLong() : -1;
}
