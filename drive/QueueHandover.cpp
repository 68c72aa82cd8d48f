#include "QueueHandover.h"

#include <QCoreApplication>
#include <QEvent>

namespace {
const QEvent::Type WorkType = QEvent::Type(QEvent::registerEventType());

struct WorkEvent final : QEvent {
    explicit WorkEvent(std::function<void()> work) : QEvent(WorkType), work(std::move(work)) { }
    std::function<void()> work;
};
} // namespace

void QueueCourier::post(std::function<void()> work)
{
    auto *event = new WorkEvent(std::move(work));
    QueueHandover::posting();
    QCoreApplication::postEvent(this, event);
}

bool QueueCourier::event(QEvent *event)
{
    QueueHandover::taking();
    if (event->type() != WorkType)
        return QObject::event(event);
    static_cast<WorkEvent *>(event)->work();
    return true;
}
