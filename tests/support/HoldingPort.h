#pragma once

#include "SerialPort.h"

#include <QByteArray>
#include <QList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

// A port for a line on a thread of its own that a test can stop in the middle of a sequence:
// once the command `line` has gone out, the line's thread stops in its `waits`-th wait for
// input after it (0: the exchange waits for its reply; more: a later wait, such as a capture's
// record wait) until the test lets it go. Everything else passes to the port inside.
class HoldingPort final : public SerialPort {
public:
    explicit HoldingPort(SerialPort &inner) : m_inner(inner) { }

    // The next hold; one at a time.
    void holdAt(const QByteArray &line, int waits = 0)
    {
        const std::lock_guard lock(m_mutex);
        m_holdLine = line;
        m_holdWaits = waits;
        m_armed = true;
        m_counting = false;
        m_holding = false;
    }
    // On the test's thread: true once the line's thread stands still in the hold.
    bool waitUntilHeld(std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [this] { return m_holding; });
    }
    void release()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_holding = false;
            m_armed = false;
        }
        m_changed.notify_all();
    }
    // Command lines written, in order (read them while the line is held or idle).
    QList<QByteArray> lines() const
    {
        const std::lock_guard lock(m_mutex);
        return m_lines;
    }

    void setPortName(const QString &name) override { m_inner.setPortName(name); }
    QString portName() const override { return m_inner.portName(); }
    bool open() override { return m_inner.open(); }
    void close() override { m_inner.close(); }
    bool isOpen() const override { return m_inner.isOpen(); }
    bool isUsable() const override { return m_inner.isUsable(); }
    // Called on the line's thread with each command as it goes out whole.
    std::function<void(const QByteArray &)> onLine;

    bool write(const QByteArray &data, int timeoutMs) override
    {
        QList<QByteArray> whole;
        {
            const std::lock_guard lock(m_mutex);
            for (char c : data) {
                if (c != '\r') {
                    m_partial += c;
                    continue;
                }
                m_lines << m_partial;
                whole << m_partial;
                if (m_armed && m_partial == m_holdLine) {
                    m_counting = true;
                    m_waitsSeen = 0;
                }
                m_partial.clear();
            }
        }
        for (const QByteArray &line : whole) {
            if (onLine)
                onLine(line);
        }
        return m_inner.write(data, timeoutMs);
    }
    QByteArray readAll() override { return m_inner.readAll(); }
    void waitForInput(int ms) override
    {
        {
            std::unique_lock lock(m_mutex);
            if (m_armed && m_counting && m_waitsSeen++ == m_holdWaits) {
                m_holding = true;
                m_counting = false;
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return !m_holding; });
            }
        }
        m_inner.waitForInput(ms);
    }
    QString errorString() const override { return m_inner.errorString(); }

private:
    SerialPort &m_inner;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QList<QByteArray> m_lines;
    QByteArray m_partial;
    QByteArray m_holdLine;
    int m_holdWaits = 0;
    int m_waitsSeen = 0;
    bool m_armed = false;
    bool m_counting = false;
    bool m_holding = false;
};
