#pragma once

#include "MessageSink.h"

#include <QStringList>

#include <functional>

// Records message-box texts instead of blocking; onMessage lets a test act while a box
// would be open (the operator clicking elsewhere before pressing OK).
class RecordingMessages final : public MessageSink {
public:
    void MsgBox(const QString &text) override
    {
        texts.append(text);
        if (onMessage)
            onMessage(text);
    }
    QString last() const { return texts.isEmpty() ? QString() : texts.last(); }

    QStringList texts;
    std::function<void(const QString &)> onMessage;
};
