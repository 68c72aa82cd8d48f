#pragma once

#include "Bus.h"
#include "Clock.h"
#include "SerialPort.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <deque>
#include <vector>

// The simulator's bus behind the console's port and clock, in simulated time: nothing
// sleeps, so the tuner, its tests and benchmarks run many captures in moments. Replies
// leave when the bus has them due and arrive at 38400 baud, a byte every 0.26 ms, as on
// the line; a command reaches the bus whole at the moment it is written.
class SimulatedLine final : public SerialPort, public Clock {
public:
    explicit SimulatedLine(const std::vector<int> &stations = { 0 },
                           const std::vector<int> &newRecorderStations = {},
                           std::uint32_t startTick = 1000);

    // The drives, for what the bench sets: inputs, alarms, faults, parameters.
    Bus &bus() { return m_bus; }
    Station *station(int number) { return m_bus.station(number); }

    // Simulated time since construction, without the 32-bit wrap.
    std::int64_t nowUs() const { return m_nowUs; }
    // Lets simulated time pass: the models run and replies arrive.
    void advanceUs(std::int64_t us);

    // The line vanishes (isUsable() false, open() refused, queued replies lost) until
    // restored; the port must then be opened again.
    void dropLine();
    void restoreLine() { m_present = true; }

    // Clock
    std::uint32_t tickMs() override;
    void sleepMs(int ms) override;

    // SerialPort
    void setPortName(const QString &name) override { m_name = name; }
    QString portName() const override { return m_name; }
    bool open() override;
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    bool isUsable() const override { return m_open && m_present; }
    // Takes the command at once: the time limit never comes into it.
    bool write(const QByteArray &data, int timeoutMs) override;
    QByteArray readAll() override;
    void waitForInput(int ms) override;
    QString errorString() const override;

private:
    struct InFlight {
        double arrivesUs;
        char byte;
    };

    void pump();
    std::int64_t nextArrivalUs() const;

    Bus m_bus;
    std::int64_t m_nowUs = 0;
    std::uint32_t m_startTick;
    double m_lineFreeUs = 0.0; // when the drives' transmitter has sent all it holds
    std::deque<InFlight> m_inFlight;
    QByteArray m_received;
    QString m_name = QStringLiteral("simulated");
    bool m_open = false;
    bool m_present = true;
};
