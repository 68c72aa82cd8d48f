#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>
#include <limits>
#include <memory>

class QAbstractButton;
class QEvent;
class QTimer;
class QWidget;

// When the operator's input to the window and the window's timers reach its handlers. While a
// sequence holds the line, a click, a key or a timer's tick takes effect where the sequence takes
// its events, or once it has ended: the moments at which the window, waiting for the drive on its
// own thread, always took them. Meanwhile the window repaints and answers. A click on one of the
// stoppers (Stop, RESET, Select) also ends the sequence at its next exchange.
class EntryGate final : public QObject {
public:
    explicit EntryGate(QWidget &window);
    ~EntryGate() override;

    // A sequence, from its handler's start to its end. A timer whose tick started it is not
    // entered again until it ends, as a timer never is.
    class Hold {
    public:
        explicit Hold(EntryGate &gate, QTimer *timer = nullptr);
        ~Hold();
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;

    private:
        EntryGate &m_gate;
        QTimer *m_timer;
    };

    // A wait during which the window takes its events as they come ("DelayDoEvents").
    class Open {
    public:
        explicit Open(EntryGate &gate);
        ~Open();
        Open(const Open &) = delete;
        Open &operator=(const Open &) = delete;

    private:
        EntryGate &m_gate;
    };

    bool held() const { return m_holds > 0; }
    // Whatever waits is taken now; inline, pending events are processed as well.
    void eventPoint();
    // The line passed event points: what came before the last of them is taken.
    void lineEventPoint();
    // The count of event points the line has passed (DriveLine::eventPointsPassed).
    void setEventPointCount(std::function<quint64()> count) { m_count = std::move(count); }
    // Where a job runs on the window's thread, events are only taken at its event points.
    void setProcessEvents(bool process) { m_processEvents = process; }

    // A timer's tick, at once where the window takes it now, else waiting (one per timer).
    void tick(QTimer *timer, std::function<void()> handler);
    // Another window's request to this one (the tuning dialog's Start): as a click.
    void call(std::function<void()> handler);

    // A click on one of these ends the sequence in progress at its next exchange.
    void setStoppers(QList<QAbstractButton *> buttons, std::function<void()> stop);
    // Told each time the last sequence ends and nothing waits.
    void setOnIdle(std::function<void()> onIdle) { m_onIdle = std::move(onIdle); }

    int waiting() const { return static_cast<int>(m_waiting.size()); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Entry {
        QPointer<QObject> receiver; // an input event's
        std::unique_ptr<QEvent> event;
        QTimer *timer = nullptr; // a tick's
        std::function<void()> handler;
        quint64 came = 0; // the line's event points passed when it came
    };

    bool takesNow() const
    {
        return (m_holds == 0 && !m_drainPending) || m_open > 0 || m_delivering > 0;
    }
    bool timerBusy(const QTimer *timer) const { return m_busyTimers.contains(timer); }
    // Takes what waits, in order, up to what came once the line had passed `passed` event points.
    void deliver(quint64 passed = std::numeric_limits<quint64>::max());
    quint64 passed() const { return m_count ? m_count() : 0; }
    void ended();
    void drain();

    QWidget &m_window;
    int m_holds = 0;
    int m_open = 0;
    int m_delivering = 0;
    bool m_processEvents = false;
    // What waited for a sequence's end is taken once the handler has returned, before anything
    // that comes after it.
    bool m_drainPending = false;
    QList<const QTimer *> m_busyTimers;
    std::deque<Entry> m_waiting;
    QList<QAbstractButton *> m_stoppers;
    std::function<void()> m_stop;
    std::function<void()> m_onIdle;
    std::function<quint64()> m_count;
};
