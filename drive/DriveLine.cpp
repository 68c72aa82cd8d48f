#include "DriveLine.h"

#include "Clock.h"
#include "CommandExchange.h"
#include "QueueHandover.h"
#include "SerialPort.h"

#include <QEventLoop>
#include <QMetaObject>

DriveLine::DriveLine(SerialPort &port, Clock &clock, QObject *parent)
    : QObject(parent),
      m_clock(clock),
      m_port(&port),
      m_link(std::make_unique<CommandExchange>(port, clock))
{
}

DriveLine::DriveLine(std::function<std::unique_ptr<SerialPort>()> makePort, Clock &clock,
                     QObject *parent)
    : QObject(parent), m_clock(clock), m_makePort(std::move(makePort))
{
    // The port and the exchange are made on the line's thread, which then owns them.
    std::mutex started;
    std::condition_variable ready;
    bool made = false;
    m_threaded = true;
    enqueue([&](DriveProcedures &) {
        const std::lock_guard lock(started);
        made = true;
        ready.notify_one();
    });
    m_thread = std::thread([this] { serve(); });
    std::unique_lock lock(started);
    ready.wait(lock, [&] { return made; });
}

DriveLine::~DriveLine()
{
    if (!m_threaded)
        return;
    requestStop();
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_one();
    // The exchange in flight ends by its reply or its limit; nothing new is sent.
    m_thread.join();
}

void DriveLine::enqueue(Job job)
{
    const quint64 serial = ++m_given;
    if (!m_threaded) {
        runJob(job, serial);
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.emplace_back(serial, std::move(job));
    }
    m_wake.notify_one();
}

void DriveLine::runJob(const Job &job, quint64 serial)
{
    DriveProcedures drive(*m_link);
    LineHooks hooks;
    hooks.stopRequested = [this, serial] { return serial <= m_stopThrough.load(); };
    if (m_threaded)
        hooks.eventPoint = [this] { postEventPoint(); };
    else
        hooks.eventPoint = [this] {
            ++m_eventPoints;
            if (m_eventPoint)
                m_eventPoint();
        };
    drive.setHooks(std::move(hooks));
    job(drive);
    m_exchanges = m_link->exchangeCount();
    m_failures = m_link->failureCount();
    {
        const std::lock_guard lock(m_mutex);
        m_lastReply = m_link->RxBuffer;
    }
    ++m_ended;
}

void DriveLine::serve()
{
    // Qt's ports watch their descriptors with notifiers, which want an event dispatcher on the
    // thread that owns them; a loop made once gives this thread one (it never runs: the port's
    // waits poll).
    { QEventLoop dispatcher; }
    if (m_makePort) {
        m_ownedPort = m_makePort();
        m_port = m_ownedPort.get();
    }
    m_link = std::make_unique<CommandExchange>(*m_port, m_clock);
    for (;;) {
        std::pair<quint64, Job> next;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || !m_jobs.empty(); });
            if (m_quit)
                break;
            next = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        runJob(next.second, next.first);
    }
    // Jobs still waiting are dropped with the window that gave them.
    m_port->close();
    m_link.reset();
    m_ownedPort.reset();
}

void DriveLine::setWindow(QObject *window)
{
    m_courier = new QueueCourier(window);
}

void DriveLine::postEventPoint()
{
    ++m_eventPoints;
    // One waiting at a time: a wait that takes events asks on every pass.
    if (m_eventPointPosted.exchange(true) || !m_courier)
        return;
    m_courier->post([this] {
        m_eventPointPosted = false;
        if (m_eventPoint)
            m_eventPoint();
    });
}

void DriveLine::toWindow(std::function<void()> work)
{
    if (!m_threaded) {
        work();
        return;
    }
    bool first = false;
    {
        const std::lock_guard lock(m_mutex);
        first = m_windowWork.empty();
        m_windowWork.push_back(std::move(work));
    }
    // One call takes all that waits; it goes to the window, and is dropped with it.
    if (first && m_courier)
        m_courier->post([this] { takeWindowWork(); });
}

void DriveLine::takeWindowWork()
{
    for (;;) {
        std::function<void()> work;
        {
            const std::lock_guard lock(m_mutex);
            if (m_windowWork.empty())
                return;
            work = std::move(m_windowWork.front());
            m_windowWork.pop_front();
        }
        work();
    }
}

void DriveLine::requestStop()
{
    m_stopThrough = m_given.load();
}

void DriveLine::setTrace(ExchangeTrace *trace)
{
    if (!m_threaded) {
        m_link->setTrace(trace);
        return;
    }
    run([trace](DriveProcedures &drive) { drive.link().setTrace(trace); });
}

QString DriveLine::lastReply() const
{
    const std::lock_guard lock(m_mutex);
    return m_lastReply;
}
