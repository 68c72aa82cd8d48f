#pragma once

#include "PortName.h"
#include "Rfc2217Client.h"
#include "SerialPort.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

#include <chrono>
#include <memory>

// SerialPort on a drive line behind a serial server on the network ("socket://HOST:PORT",
// "rfc2217://HOST:PORT"), over QTcpSocket in the blocking style, like the device port: the
// exchange's waits pull bytes with waitForReadyRead() and writes leave before write()
// returns. It only ever connects out. The socket is made by open() and deleted by close(), so
// that it belongs to the thread that uses the line; nothing relies on an event loop.
class NetworkSerialPort final : public SerialPort {
public:
    // Resolving, connecting and (for RFC 2217) agreeing on the line's settings, all together.
    static constexpr std::chrono::milliseconds OpenTimeout { 3000 };
    // A serial server that already serves another client may accept, say so and close at
    // once (ser2net: "Port already in use"). A close this soon after opening means "in use".
    static constexpr std::chrono::milliseconds InUseGrace { 100 };
    // A connection that goes silent (a cable pulled, a switch rebooted) is declared lost when
    // the server has acknowledged nothing for this long: TCP keep-alive probes an idle one.
    static constexpr std::chrono::milliseconds SilenceLimit { 3000 };
    // Bytes waiting to go to a server that does not read them; past this the line is lost.
    static constexpr qint64 MaxUnsent = 16 * 1024;

    ~NetworkSerialPort() override;

    void setPortName(const QString &name) override { m_name = name; }
    QString portName() const override { return m_name; }
    bool open() override;
    void close() override;
    bool isOpen() const override { return m_open; }
    bool isUsable() const override;
    bool write(const QByteArray &data, int timeoutMs) override;
    QByteArray readAll() override;
    void waitForInput(int ms) override;
    QString errorString() const override;

private:
    bool connectWithin(const NetworkPort &target, const QDeadlineTimer &deadline);
    bool negotiateWithin(const QDeadlineTimer &deadline);
    // Fails the opening; a close by the server right after connecting means "in use".
    bool refuse(const QString &why);
    // The line becomes unusable until the next open(), for the reason given.
    void lose(const QString &why);
    // Moves what the socket received into m_input, answering the server's Telnet requests.
    void pull();
    // Queues bytes for the server without waiting; false (and the line lost) past MaxUnsent.
    bool send(const QByteArray &bytes);
    // Notices a connection that has ended, and the server's in-use text.
    void checkConnection();
    void watchOpening(const QByteArray &data);
    QString inUse(const QByteArray &said) const;

    QString m_name;
    QString m_server; // "HOST:PORT", for messages
    std::unique_ptr<QTcpSocket> m_socket;
    bool m_rfc2217 = false;
    Rfc2217Client m_telnet;
    QByteArray m_input;
    bool m_open = false;
    bool m_lost = false;
    // Until the first prompt, what the server says may be its own text rather than a drive's.
    bool m_prompted = false;
    QByteArray m_opening;
    QString m_error;
};
