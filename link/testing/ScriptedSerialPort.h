#pragma once

#include "SerialPort.h"
#include "VirtualClock.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// A serial port whose far end is a script running in virtual time. Every write is
// recorded with its time; when a line ends (CR), the responder may schedule input,
// which readAll() hands out once the virtual clock has reached it.
class ScriptedSerialPort final : public SerialPort {
public:
    struct Write {
        std::int64_t at;
        QByteArray bytes;
    };
    using Responder = std::function<void(ScriptedSerialPort &port, const QByteArray &line)>;

    explicit ScriptedSerialPort(VirtualClock &clock) : m_clock(clock) { }

    // Script set-up.
    void setResponder(Responder responder) { m_responder = std::move(responder); }
    // Answers a command line with reply after delayMs; lines without an answer stay silent.
    void answer(const QByteArray &line, const QByteArray &reply, int delayMs = 0);
    void schedule(const QByteArray &bytes, int delayMs);
    void setOpenSucceeds(bool ok) { m_openSucceeds = ok; }
    // The far end vanishes: reads fail, writes are lost.
    void breakLine() { m_broken = true; }
    // Each write takes this long to leave (a server that stops reading); one that would take
    // longer than its time limit gives up at the limit and the line fails.
    void setWriteStall(int ms) { m_writeStallMs = ms; }

    // What the console did.
    const QList<Write> &writes() const { return m_writes; }
    QByteArray written() const;
    QList<QByteArray> lines() const { return m_lines; }
    int openCount() const { return m_openCount; }
    std::function<void()> onClose; // called as the port closes
    void clearRecord();

    void setPortName(const QString &name) override { m_name = name; }
    QString portName() const override { return m_name; }
    bool open() override;
    void close() override;
    bool isOpen() const override { return m_open; }
    bool isUsable() const override { return m_open && !m_broken; }
    bool write(const QByteArray &data, int timeoutMs) override;
    QByteArray readAll() override;
    void waitForInput(int ms) override { m_clock.sleepMs(ms); }
    QString errorString() const override
    {
        return m_broken ? QStringLiteral("line broken") : QString();
    }

private:
    struct Pending {
        std::int64_t at;
        QByteArray bytes;
    };

    VirtualClock &m_clock;
    Responder m_responder;
    QList<Pending> m_pending;
    QList<Write> m_writes;
    QList<QByteArray> m_lines;
    QList<QPair<QByteArray, QPair<QByteArray, int>>> m_answers;
    QByteArray m_partialLine;
    QString m_name;
    bool m_open = false;
    bool m_broken = false;
    bool m_openSucceeds = true;
    int m_writeStallMs = 0;
    int m_openCount = 0;
};
