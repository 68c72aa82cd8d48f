#pragma once

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QString>

// Name lookups bounded in time: the system's resolver runs on a thread of its own, and a
// lookup that outlasts the deadline is left to finish there while the caller goes on. Threads
// left behind by a resolver that hangs are counted; past MaxHanging no new one is started.
namespace HostLookup {
inline constexpr int MaxHanging = 4;

// The addresses of `host` (a name or an address), in the resolver's order; nothing, with the
// reason in `error`, when there are none or the deadline passed first. Never throws.
QList<QHostAddress> resolve(const QString &host, const QDeadlineTimer &deadline, QString &error);

// Lookups started and not yet finished, in this process.
int running();

// IPv6 and IPv4 taking turns, starting with the family the resolver put first (RFC 8305), so
// that an unreachable address of one family does not keep the other from being tried.
QList<QHostAddress> interleaved(const QList<QHostAddress> &addresses);
} // namespace HostLookup
