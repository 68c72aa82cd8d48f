#include "DeviceSerialPort.h"

#include <QThread>

namespace {
constexpr int WriteTimeoutMs = 2000;
// Far above the longest reply (a record is a few kB).
constexpr qint64 MaxBufferedInput = 256 * 1024;
} // namespace

DeviceSerialPort::DeviceSerialPort()
{
    // While the window's event loop runs between exchanges, Qt keeps reading the device
    // into its buffer; a line that babbles while nothing polls must not grow it without bound.
    QObject::connect(&m_port, &QSerialPort::readyRead, &m_port, [this] { dropExcessInput(); });
}

DeviceSerialPort::~DeviceSerialPort()
{
    close();
}

void DeviceSerialPort::setPortName(const QString &name)
{
    m_port.setPortName(name);
}

QString DeviceSerialPort::portName() const
{
    return m_port.portName();
}

bool DeviceSerialPort::open()
{
    m_failed = false;
    if (m_port.portName().isEmpty())
        return false;
    m_port.setBaudRate(QSerialPort::Baud38400);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite))
        return false;
    // Stale bytes can be readable right after opening.
    m_port.clear();
    m_port.readAll();
    return true;
}

void DeviceSerialPort::close()
{
    if (m_port.isOpen())
        m_port.close();
    m_failed = false;
}

bool DeviceSerialPort::isOpen() const
{
    return m_port.isOpen();
}

bool DeviceSerialPort::isUsable() const
{
    return m_port.isOpen() && !m_failed;
}

bool DeviceSerialPort::write(const QByteArray &data)
{
    if (!isUsable())
        return false;
    if (m_port.write(data) != data.size()) {
        noteError();
        return false;
    }
    // Without an event loop nothing leaves Qt's buffer until we wait for it.
    while (m_port.bytesToWrite() > 0) {
        if (!m_port.waitForBytesWritten(WriteTimeoutMs)) {
            noteError();
            return !m_failed;
        }
    }
    return true;
}

QByteArray DeviceSerialPort::readAll()
{
    if (!isUsable())
        return {};
    // A zero wait pulls what the device holds into Qt's buffer without sleeping.
    if (!m_port.waitForReadyRead(0))
        noteError();
    return m_port.readAll();
}

void DeviceSerialPort::waitForInput(int ms)
{
    if (ms <= 0)
        return;
    if (isUsable()) {
        if (m_port.waitForReadyRead(ms))
            return;
        noteError();
        if (!m_failed)
            return;
    }
    // A failed or closed port returns from waitForReadyRead at once: sleep instead.
    QThread::msleep(static_cast<unsigned long>(ms));
}

QString DeviceSerialPort::errorString() const
{
    return m_port.errorString();
}

void DeviceSerialPort::dropExcessInput()
{
    // The oldest bytes go: a prompt, if one came, is among the newest.
    const qint64 excess = m_port.bytesAvailable() - MaxBufferedInput;
    if (excess > 0)
        m_port.skip(excess);
}

void DeviceSerialPort::noteError()
{
    switch (m_port.error()) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
        return;
    default:
        m_failed = true;
        m_port.clearError();
        return;
    }
}
