#pragma once

#include "SerialPort.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>

#include <memory>

// Wraps the console's port and logs every command it writes with the bytes that came back,
// so that the least time the protocol allows for the same traffic can be worked out.
class CountingPort final : public SerialPort {
public:
    struct Exchange {
        QByteArray command; // as written, CR included
        int writes = 0; // more than one: written a character at a time
        qint64 replyBytes = 0;
        qint64 writtenAtNs = 0; // first byte handed to the port, on elapsedNs()'s clock
    };

    explicit CountingPort(SerialPort &inner) : m_inner(inner) { m_clock.start(); }
    // Owning the port inside, made where the line runs.
    explicit CountingPort(std::unique_ptr<SerialPort> inner)
        : m_owned(std::move(inner)), m_inner(*m_owned)
    {
        m_clock.start();
    }

    qint64 elapsedNs() const { return m_clock.nsecsElapsed(); }

    void setPortName(const QString &name) override { m_inner.setPortName(name); }
    QString portName() const override { return m_inner.portName(); }
    bool open() override { return m_inner.open(); }
    void close() override { m_inner.close(); }
    bool isOpen() const override { return m_inner.isOpen(); }
    bool isUsable() const override { return m_inner.isUsable(); }

    bool write(const QByteArray &data, int timeoutMs) override
    {
        if (m_commandEnded || m_log.isEmpty()) {
            m_log.append(Exchange());
            m_log.last().writtenAtNs = m_clock.nsecsElapsed();
            m_commandEnded = false;
        }
        m_log.last().command += data;
        ++m_log.last().writes;
        m_commandEnded = data.endsWith('\r');
        return m_inner.write(data, timeoutMs);
    }

    QByteArray readAll() override
    {
        const QByteArray bytes = m_inner.readAll();
        // The flush before a command drains late bytes of the one before: they count there.
        if (!m_log.isEmpty())
            m_log.last().replyBytes += bytes.size();
        return bytes;
    }

    void waitForInput(int ms) override { m_inner.waitForInput(ms); }
    QString errorString() const override { return m_inner.errorString(); }

    const QList<Exchange> &log() const { return m_log; }
    void clearLog()
    {
        m_log.clear();
        m_commandEnded = true;
    }

private:
    std::unique_ptr<SerialPort> m_owned;
    SerialPort &m_inner;
    QElapsedTimer m_clock;
    QList<Exchange> m_log;
    bool m_commandEnded = true;
};
