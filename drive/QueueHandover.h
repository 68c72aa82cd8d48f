#pragma once

#include <QObject>

#include <functional>

// Qt's event queue locks with futexes, which ThreadSanitizer does not see. Work for the window is
// therefore made into an event here, marked as handed over, and only then posted; the window
// marks it as taken before it looks at an event, so that ThreadSanitizer knows the order the
// queue gives. The marks are nothing in other builds.

#if defined(__SANITIZE_THREAD__)
#define VCM_QUEUE_HANDOVER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VCM_QUEUE_HANDOVER 1
#endif
#endif

#ifdef VCM_QUEUE_HANDOVER
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
#endif

namespace QueueHandover {
#ifdef VCM_QUEUE_HANDOVER
inline char token;
inline void posting() { __tsan_release(&token); }
inline void taking() { __tsan_acquire(&token); }
#else
inline void posting() { }
inline void taking() { }
#endif
} // namespace QueueHandover

// Runs work from any thread on the thread it lives on, through its event queue; what is still
// waiting is dropped with it.
class QueueCourier final : public QObject {
public:
    using QObject::QObject;
    void post(std::function<void()> work);

protected:
    bool event(QEvent *event) override;
};
