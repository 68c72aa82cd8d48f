#include "DeviceSerialPort.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>

namespace {
// Far above the longest reply (a record is a few kB).
constexpr qint64 MaxBufferedInput = 256 * 1024;
} // namespace

DeviceSerialPort::~DeviceSerialPort()
{
    close();
}

bool DeviceSerialPort::open()
{
    close();
    m_error.clear();
    if (m_name.isEmpty())
        return false;
    m_port = std::make_unique<QSerialPort>(m_name);
    // While an event loop runs between exchanges, Qt keeps reading the device into its
    // buffer; a line that babbles while nothing polls must not grow it without bound.
    QObject::connect(m_port.get(), &QSerialPort::readyRead, m_port.get(),
                     [this] { dropExcessInput(); });
    m_port->setBaudRate(QSerialPort::Baud38400);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port->open(QIODevice::ReadWrite)) {
        m_error = m_port->errorString();
        m_port.reset();
        return false;
    }
    // Stale bytes can be readable right after opening.
    m_port->clear();
    m_port->readAll();
    return true;
}

void DeviceSerialPort::close()
{
    m_port.reset();
    m_failed = false;
}

bool DeviceSerialPort::isOpen() const
{
    return m_port && m_port->isOpen();
}

bool DeviceSerialPort::isUsable() const
{
    return isOpen() && !m_failed;
}

bool DeviceSerialPort::write(const QByteArray &data, int timeoutMs)
{
    if (!isUsable())
        return false;
    if (m_port->write(data) != data.size()) {
        noteError();
        return false;
    }
    // Without an event loop nothing leaves Qt's buffer until we wait for it. What the line has
    // not taken by the deadline leaves during the exchange's next waits.
    const QDeadlineTimer deadline(std::max(0, timeoutMs));
    while (m_port->bytesToWrite() > 0 && !deadline.hasExpired()) {
        const int left = static_cast<int>(std::max<qint64>(1, deadline.remainingTime()));
        if (!m_port->waitForBytesWritten(left)) {
            noteError();
            break;
        }
    }
    return !m_failed;
}

QByteArray DeviceSerialPort::readAll()
{
    if (!isUsable())
        return {};
    // A zero wait pulls what the device holds into Qt's buffer without sleeping.
    if (!m_port->waitForReadyRead(0))
        noteError();
    return m_port->readAll();
}

void DeviceSerialPort::waitForInput(int ms)
{
    if (ms <= 0)
        return;
    if (isUsable()) {
        if (m_port->waitForReadyRead(ms))
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
    if (m_port && !m_failed)
        return m_port->errorString();
    return m_error;
}

void DeviceSerialPort::dropExcessInput()
{
    // The oldest bytes go: a prompt, if one came, is among the newest.
    const qint64 excess = m_port->bytesAvailable() - MaxBufferedInput;
    if (excess > 0)
        m_port->skip(excess);
}

void DeviceSerialPort::noteError()
{
    switch (m_port->error()) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
        return;
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        // On Linux the text of a read error is a stale one from an earlier call.
        m_failed = true;
        m_error = QStringLiteral("the port %1 was lost (unplugged, or its other end closed)")
                      .arg(m_name);
        m_port->clearError();
        return;
    default:
        // Later errors (a time-out on Windows) may overwrite this one: keep its text now.
        m_failed = true;
        m_error = QStringLiteral("the port %1 failed: %2").arg(m_name, m_port->errorString());
        m_port->clearError();
        return;
    }
}
