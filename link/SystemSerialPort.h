#pragma once

#include "SerialPort.h"

#include <QSerialPort>

// SerialPort on a real device (or pseudo-terminal) through QSerialPort, used in the
// blocking style only: no slot is connected to readyRead, and bytes reach Qt's buffer
// through waitForReadyRead()/waitForBytesWritten().
class SystemSerialPort final : public SerialPort
{
public:
    SystemSerialPort();
    ~SystemSerialPort() override;

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

    QSerialPort m_port;
    bool m_failed = false;
};
