#pragma once

#include "SerialPort.h"

#include <QSerialPort>

#include <memory>

// SerialPort on a serial device (or pseudo-terminal) through QSerialPort, used in the
// blocking style: exchanges pull bytes into Qt's buffer with waitForReadyRead() and push
// them out with waitForBytesWritten(). The QSerialPort is made by open() and deleted by
// close(), so that it belongs to the thread that uses the line. Where an event loop runs
// between exchanges it also fills the buffer; readyRead only keeps it bounded.
class DeviceSerialPort final : public SerialPort {
public:
    ~DeviceSerialPort() override;

    void setPortName(const QString &name) override { m_name = name; }
    QString portName() const override { return m_name; }
    bool open() override;
    void close() override;
    bool isOpen() const override;
    bool isUsable() const override;
    bool write(const QByteArray &data, int timeoutMs) override;
    QByteArray readAll() override;
    void waitForInput(int ms) override;
    QString errorString() const override;

private:
    // Marks the line failed on any error but a time-out.
    void noteError();
    void dropExcessInput();

    QString m_name;
    std::unique_ptr<QSerialPort> m_port;
    bool m_failed = false;
    QString m_error; // why the last open failed, or why the line failed
};
