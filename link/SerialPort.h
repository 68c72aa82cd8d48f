#pragma once

#include <QByteArray>
#include <QString>

// The narrow view of a serial port that the console needs. All calls are synchronous
// and run without an event loop; none of them throws.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual void setPortName(const QString &name) = 0;
    virtual QString portName() const = 0;

    // Opens at 38400 baud, 8 data bits, no parity, 1 stop bit, no flow control,
    // and drops anything that was pending. False when the port cannot be opened.
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // False once the line has failed (device removed, read or write error) until the
    // next open(): an exchange on such a port ends at once instead of timing out.
    virtual bool isUsable() const = 0;

    // Hands the bytes to the line, waiting at most timeoutMs for it to take them. False on a
    // closed or failed port, and when bytes are left over that the port cannot vouch for (it
    // then fails); a device that is merely slow sends the rest during the next waits.
    virtual bool write(const QByteArray &data, int timeoutMs) = 0;
    // Everything received since the previous call, possibly nothing; never blocks.
    virtual QByteArray readAll() = 0;
    // Sleeps up to ms milliseconds, waking early when input arrives; input is kept
    // for the next readAll(). Also sleeps (without reading) on a closed or failed port.
    virtual void waitForInput(int ms) = 0;

    virtual QString errorString() const = 0;
};
