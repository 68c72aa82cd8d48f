#pragma once

#include "MessageSink.h"

#include <QStringList>

#include <functional>

// Records message-box texts instead of blocking; onMessage lets a test act while a box
// would be open (the operator clicking elsewhere before pressing OK). Questions are recorded
// too and answered with `answer`.
class RecordingMessages final : public MessageSink {
public:
    void MsgBox(const QString &text) override
    {
        texts.append(text);
        if (onMessage)
            onMessage(text);
    }
    bool Confirm(const QString &text, const QString &) override
    {
        questions.append(text);
        return answer;
    }
    QString last() const { return texts.isEmpty() ? QString() : texts.last(); }

    QStringList texts;
    QStringList questions;
    bool answer = true;
    std::function<void(const QString &)> onMessage;
};

// File names chosen in advance, as if typed into the dialogs; empty means Cancel.
class ScriptedFileDialogs final : public FileDialogs {
public:
    QString saveFileName(const QString &, const QString &, const QString &) override
    {
        return file;
    }
    QString openFileName(const QString &, const QString &) override { return file; }

    QString file;
};
