#include "ScriptedSerialPort.h"

#include <algorithm>

void ScriptedSerialPort::answer(const QByteArray &line, const QByteArray &reply, int delayMs)
{
    m_answers.append({ line, { reply, delayMs } });
}

void ScriptedSerialPort::schedule(const QByteArray &bytes, int delayMs)
{
    m_pending.append({ m_clock.now() + delayMs, bytes });
}

QByteArray ScriptedSerialPort::written() const
{
    QByteArray all;
    for (const Write &w : m_writes)
        all += w.bytes;
    return all;
}

void ScriptedSerialPort::clearRecord()
{
    m_writes.clear();
    m_lines.clear();
}

bool ScriptedSerialPort::open()
{
    ++m_openCount;
    if (!m_openSucceeds || m_name.isEmpty())
        return false;
    m_open = true;
    m_broken = false;
    return true;
}

void ScriptedSerialPort::close()
{
    if (onClose && m_open)
        onClose();
    m_open = false;
    m_pending.clear();
    m_partialLine.clear();
}

bool ScriptedSerialPort::write(const QByteArray &data, int timeoutMs)
{
    if (!m_open)
        return false;
    if (m_writeStallMs > 0 && !m_broken) {
        m_clock.advance(std::min(m_writeStallMs, std::max(0, timeoutMs)));
        if (m_writeStallMs > timeoutMs) {
            m_broken = true;
            return false;
        }
    }
    m_writes.append({ m_clock.now(), data });
    if (m_broken)
        return true; // like a vanished pty: the bytes are "written" and lost
    for (char c : data) {
        if (c != '\r') {
            m_partialLine += c;
            continue;
        }
        const QByteArray line = m_partialLine;
        m_partialLine.clear();
        m_lines.append(line);
        for (const auto &a : m_answers) {
            if (a.first == line) {
                schedule(a.second.first, a.second.second);
                break;
            }
        }
        if (m_responder)
            m_responder(*this, line);
    }
    return true;
}

QByteArray ScriptedSerialPort::readAll()
{
    if (!m_open || m_broken)
        return {};
    QByteArray out;
    const std::int64_t now = m_clock.now();
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->at <= now) {
            out += it->bytes;
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
    return out;
}
