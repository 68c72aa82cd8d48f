#pragma once

#include "DeviceSerialPort.h"
#include "NetworkSerialPort.h"
#include "SerialPort.h"

// The port a name stands for: a drive line on the network for "socket://..." and
// "rfc2217://...", a serial device for anything else. The choice is made at each open(), so
// the port box may name either kind from one Start to the next.
class SystemSerialPort final : public SerialPort {
public:
    void setPortName(const QString &name) override { m_name = name; }
    QString portName() const override { return m_name; }
    bool open() override;
    void close() override { m_active->close(); }
    bool isOpen() const override { return m_active->isOpen(); }
    bool isUsable() const override { return m_active->isUsable(); }
    bool write(const QByteArray &data, int timeoutMs) override
    {
        return m_active->write(data, timeoutMs);
    }
    QByteArray readAll() override { return m_active->readAll(); }
    void waitForInput(int ms) override { m_active->waitForInput(ms); }
    QString errorString() const override { return m_active->errorString(); }

private:
    QString m_name;
    DeviceSerialPort m_device;
    NetworkSerialPort m_network;
    SerialPort *m_active = &m_device;
};
