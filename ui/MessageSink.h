#pragma once

#include <QString>

class QWidget;

// The title of the console's message boxes.
QString applicationTitle();

// Where the console's messages go: a modal box in the program, a recorder in tests.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows text with an OK button only and no icon, and returns once it is closed.
    virtual void MsgBox(const QString &text) = 0;
};

// What a message box shows of a text: a garbled reply quoted in full (up to 256 KB) would
// make a box taller than any screen with its OK button out of reach.
QString messageBoxText(const QString &text);

class DialogMessageSink final : public MessageSink {
public:
    explicit DialogMessageSink(QWidget *parent = nullptr) : m_parent(parent) { }
    void setParent(QWidget *parent) { m_parent = parent; }
    void MsgBox(const QString &text) override;

private:
    QWidget *m_parent;
};
