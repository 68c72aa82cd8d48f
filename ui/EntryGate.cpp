#include "EntryGate.h"

#include "QueueHandover.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

namespace {
bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
        return true;
    default:
        return false;
    }
}
} // namespace

EntryGate::EntryGate(QWidget &window) : m_window(window)
{
    QCoreApplication::instance()->installEventFilter(this);
}

EntryGate::~EntryGate()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

EntryGate::Hold::Hold(EntryGate &gate, QTimer *timer) : m_gate(gate), m_timer(timer)
{
    ++m_gate.m_holds;
    if (m_timer)
        m_gate.m_busyTimers.append(m_timer);
}

EntryGate::Hold::~Hold()
{
    if (m_timer)
        m_gate.m_busyTimers.removeOne(m_timer);
    if (--m_gate.m_holds == 0)
        m_gate.ended();
}

EntryGate::Open::Open(EntryGate &gate) : m_gate(gate)
{
    ++m_gate.m_open;
    m_gate.deliver();
}

EntryGate::Open::~Open()
{
    --m_gate.m_open;
}

void EntryGate::eventPoint()
{
    ++m_delivering;
    if (m_processEvents)
        QCoreApplication::processEvents();
    deliver();
    --m_delivering;
}

void EntryGate::lineEventPoint()
{
    if (m_processEvents) {
        eventPoint();
        return;
    }
    // Told after the fact: only what came before the line got there is taken there.
    const quint64 reached = passed();
    ++m_delivering;
    deliver(reached);
    --m_delivering;
}

void EntryGate::tick(QTimer *timer, std::function<void()> handler)
{
    if (takesNow() && !timerBusy(timer)) {
        handler();
        return;
    }
    for (const Entry &e : m_waiting) {
        if (e.timer == timer)
            return;
    }
    m_waiting.push_back({ {}, nullptr, timer, std::move(handler), passed() });
}

void EntryGate::call(std::function<void()> handler)
{
    if (takesNow()) {
        handler();
        return;
    }
    m_waiting.push_back({ {}, nullptr, nullptr, std::move(handler), passed() });
}

void EntryGate::setStoppers(QList<QAbstractButton *> buttons, std::function<void()> stop)
{
    m_stoppers = std::move(buttons);
    m_stop = std::move(stop);
}

bool EntryGate::eventFilter(QObject *watched, QEvent *event)
{
    // The event may come from the line's thread.
    QueueHandover::taking();
    if (!isInput(event->type()) || takesNow())
        return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != &m_window)
        return false;
    // A click on a control that is off counts for nothing, even once the control is on again.
    if (!widget->isEnabled())
        return false;

    // Stop, RESET and Select do not wait for the sequence to end: they end it.
    for (QAbstractButton *b : std::as_const(m_stoppers)) {
        if (!m_stop || !b->isEnabled() || (widget != b && !b->isAncestorOf(widget)))
            continue;
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (b->rect().contains(b->mapFromGlobal(mouse->globalPosition().toPoint())))
                m_stop();
        } else if (event->type() == QEvent::KeyRelease
                   && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Space) {
            m_stop();
        }
    }
    m_waiting.push_back(
        { widget, std::unique_ptr<QEvent>(event->clone()), nullptr, {}, passed() });
    return true;
}

void EntryGate::deliver(quint64 passed)
{
    // In the order they came. A tick waits on while its timer's handler runs; one that starts a
    // sequence leaves the rest waiting for that sequence's event points or end.
    std::size_t i = 0;
    while (i < m_waiting.size() && takesNow() && m_waiting[i].came < passed) {
        if (m_waiting[i].timer && timerBusy(m_waiting[i].timer)) {
            ++i;
            continue;
        }
        Entry e = std::move(m_waiting[i]);
        m_waiting.erase(m_waiting.begin() + static_cast<std::ptrdiff_t>(i));
        if (e.event) {
            if (e.receiver)
                QCoreApplication::sendEvent(e.receiver, e.event.get());
        } else if (!e.timer || e.timer->isActive()) {
            // A timer stopped meanwhile has no tick to give.
            e.handler();
        }
    }
}

void EntryGate::ended()
{
    if (m_waiting.empty()) {
        if (m_onIdle)
            m_onIdle();
        return;
    }
    if (m_drainPending)
        return;
    m_drainPending = true;
    QMetaObject::invokeMethod(this, &EntryGate::drain, Qt::QueuedConnection);
}

void EntryGate::drain()
{
    m_drainPending = false;
    deliver();
    if (m_holds == 0 && m_waiting.empty() && m_onIdle)
        m_onIdle();
}
