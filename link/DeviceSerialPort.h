#pragma once

#include "SerialPort.h"

#include <QSerialPort>

// SerialPort on a serial device (or pseudo-terminal) through QSerialPort, used in the
// blocking style: exchanges pull bytes into Qt's buffer with waitForReadyRead() and push
// them out with waitForBytesWritten(). The event loop also fills the buffer between
// exchanges; readyRead only keeps it bounded.
class DeviceSerialPort final : public SerialPort {
public:
    DeviceSerialPort();
    ~DeviceSerialPort() override;

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
    // Marks the line failed on any error but a time-out.
    void noteError();
    void dropExcessInput();

    QSerialPort m_port;
    bool m_failed = false;
};
