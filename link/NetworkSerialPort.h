#pragma once

#include "PortName.h"
#include "Rfc2217Client.h"
#include "SerialPort.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

#include <chrono>

// SerialPort on a drive line behind a serial server on the network ("socket://HOST:PORT",
// "rfc2217://HOST:PORT"), over QTcpSocket in the blocking style, like the device port: the
// exchange's waits pull bytes with waitForReadyRead() and writes leave before write()
// returns. It only ever connects out.
class NetworkSerialPort final : public SerialPort {
public:
    // Resolving, connecting and (for RFC 2217) agreeing on the line's settings, all together.
    static constexpr std::chrono::milliseconds OpenTimeout { 3000 };
    // A serial server that already serves another client may accept, say so and close at
    // once (ser2net: "Port already in use"). A close this soon after opening means "in use".
    static constexpr std::chrono::milliseconds InUseGrace { 100 };

    NetworkSerialPort();
    ~NetworkSerialPort() override;

    void setPortName(const QString &name) override;
    QString portName() const override;
    bool open() override;
    void close() override;
    bool isOpen() const override;
    bool isUsable() const override;
    bool write(const QByteArray &data) override;
    QByteArray readAll() override;
    void waitForInput(int ms) override;
    QString errorString() const override;

private:
    bool connectWithin(const NetworkPort &target, const QDeadlineTimer &deadline);
    bool negotiateWithin(const QDeadlineTimer &deadline);
    // Fails the opening; a close by the server right after connecting means "in use".
    bool refuse(const QString &why);
    // Moves what the socket received into m_input, answering the server's Telnet requests.
    void pull();
    void noteLoss();

    QString m_name;
    QString m_server; // "HOST:PORT", for messages
    QTcpSocket m_socket;
    bool m_rfc2217 = false;
    Rfc2217Client m_telnet;
    QByteArray m_input;
    bool m_open = false;
    bool m_lost = false;
    QString m_error;
};
