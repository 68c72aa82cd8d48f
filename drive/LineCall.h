#pragma once

#include "QueueHandover.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <coroutine>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

// The outcome of a job on the drive line, to be awaited by a coroutine on the window's thread
// (or taken at once where the job ran on the caller's thread). The coroutine is resumed through
// the window's event loop; once the window is gone it is never resumed.
template<class T> class LineCall final {
public:
    struct State {
        std::mutex mutex;
        std::optional<T> value;
        std::coroutine_handle<> waiting;
        QPointer<QueueCourier> context;

        // On the line's thread, once the job has ended.
        void complete(T result)
        {
            std::coroutine_handle<> resume;
            {
                const std::lock_guard lock(mutex);
                value = std::move(result);
                resume = std::exchange(waiting, nullptr);
            }
            if (resume && context)
                context->post([resume] { resume.resume(); });
        }
    };

    explicit LineCall(std::shared_ptr<State> state) : m_state(std::move(state)) { }

    bool ready() const
    {
        const std::lock_guard lock(m_state->mutex);
        return m_state->value.has_value();
    }
    // The result of a job that has ended.
    T take()
    {
        const std::lock_guard lock(m_state->mutex);
        return std::move(*m_state->value);
    }

    bool await_ready() const { return ready(); }
    bool await_suspend(std::coroutine_handle<> caller)
    {
        const std::lock_guard lock(m_state->mutex);
        if (m_state->value)
            return false;
        m_state->waiting = caller;
        return true;
    }
    T await_resume() { return take(); }

private:
    std::shared_ptr<State> m_state;
};

// What a job without a result of its own gives back.
struct LineDone { };
