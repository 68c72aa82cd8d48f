#pragma once

#include "DriveProcedures.h"
#include "LineCall.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

class Clock;
class ExchangeTrace;
class SerialPort;

// The one owner of the serial line: the port, the exchange and the drive procedures, and a queue
// of jobs that run on them one at a time, in the order given. Threaded, the port is made, opened,
// used and closed on a thread of its own, and the window's thread only hands jobs over and gets
// their outcomes back through its event loop; inline (tests, the in-process benches), each job
// runs at once on the caller's thread, as the window did before.
class DriveLine final : public QObject {
    Q_OBJECT

public:
    // Inline, on a port and a clock of the caller's.
    DriveLine(SerialPort &port, Clock &clock, QObject *parent = nullptr);
    // On a thread of its own, on the port that `makePort` makes there.
    DriveLine(std::function<std::unique_ptr<SerialPort>()> makePort, Clock &clock,
              QObject *parent = nullptr);
    ~DriveLine() override;

    bool threaded() const { return m_threaded; }

    // Where outcomes and the window's work from the line go: the window. Its work is dropped,
    // and no coroutine resumed, once it is gone.
    void setWindow(QObject *window);
    // Run on the window's thread where a sequence takes the window's events.
    void setEventPoint(std::function<void()> eventPoint) { m_eventPoint = std::move(eventPoint); }
    // How many event points the line's sequences have passed: what came to the window before
    // the count moved on is taken there, what came after waits for the next one.
    quint64 eventPointsPassed() const { return m_eventPoints; }

    // Runs `work(DriveProcedures &)` after every job given before it.
    template<class F> auto run(F work)
    {
        using R = std::invoke_result_t<F, DriveProcedures &>;
        using T = std::conditional_t<std::is_void_v<R>, LineDone, R>;
        auto state = std::make_shared<typename LineCall<T>::State>();
        state->context = m_courier;
        enqueue([work = std::move(work), state](DriveProcedures &drive) mutable {
            if constexpr (std::is_void_v<R>) {
                work(drive);
                state->complete(LineDone {});
            } else {
                state->complete(work(drive));
            }
        });
        return LineCall<T>(state);
    }

    // Hands `work` to the window's thread: queued when threaded, at once inline.
    void toWindow(std::function<void()> work);

    // Every job given so far sends nothing more: the exchange in flight ends by its reply or its
    // limit, and the jobs end at their next exchange. Jobs given later run as usual.
    void requestStop();
    // No job given so far, and none running.
    bool idle() const { return m_given == m_ended; }

    // Set before the first job, or while the line is idle.
    void setTrace(ExchangeTrace *trace);
    // Exchanges made and those that failed, since the start.
    quint64 exchangeCount() const { return m_exchanges; }
    quint64 failureCount() const { return m_failures; }
    // The reply of the latest exchange of the latest job that ended.
    QString lastReply() const;

    // The exchange itself, for inline callers only (tests, benches).
    CommandExchange &exchange() { return *m_link; }

private:
    using Job = std::function<void(DriveProcedures &)>;
    void enqueue(Job job);
    void runJob(const Job &job, quint64 serial);
    void serve();
    void postEventPoint();
    void takeWindowWork();

    Clock &m_clock;
    std::function<std::unique_ptr<SerialPort>()> m_makePort;
    std::unique_ptr<SerialPort> m_ownedPort;
    SerialPort *m_port = nullptr;
    std::unique_ptr<CommandExchange> m_link;
    QPointer<QueueCourier> m_courier; // a child of the window
    std::function<void()> m_eventPoint;

    bool m_threaded = false;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::pair<quint64, Job>> m_jobs;
    bool m_quit = false;
    QString m_lastReply;
    // Work for the window's thread, handed over under the line's own lock.
    std::deque<std::function<void()>> m_windowWork;

    std::atomic<quint64> m_given { 0 };
    std::atomic<quint64> m_ended { 0 };
    std::atomic<quint64> m_stopThrough { 0 };
    std::atomic<quint64> m_exchanges { 0 };
    std::atomic<quint64> m_failures { 0 };
    std::atomic<bool> m_eventPointPosted { false };
    std::atomic<quint64> m_eventPoints { 0 };
};
