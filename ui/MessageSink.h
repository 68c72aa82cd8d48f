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
    // Asks before something is done: `yes` and "Cancel", no icon. True for `yes`.
    virtual bool Confirm(const QString &text, const QString &yes) = 0;
};

// Where the console asks for file names: Qt's file dialogs in the program, a script in tests.
// The folder last used is the starting point, kept over runs.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // Empty when the operator cancels.
    virtual QString saveFileName(const QString &title, const QString &suggestedName,
                                 const QString &filter)
        = 0;
    virtual QString openFileName(const QString &title, const QString &filter) = 0;
};

// The folder the file dialogs used last, or the home folder.
QString lastFileFolder();

class QtFileDialogs final : public FileDialogs {
public:
    explicit QtFileDialogs(QWidget *parent) : m_parent(parent) { }
    QString saveFileName(const QString &title, const QString &suggestedName,
                         const QString &filter) override;
    QString openFileName(const QString &title, const QString &filter) override;

private:
    QWidget *m_parent;
};

// What a message box shows of a text: a garbled reply quoted in full (up to 256 KB) would
// make a box taller than any screen with its OK button out of reach.
QString messageBoxText(const QString &text);

class DialogMessageSink final : public MessageSink {
public:
    explicit DialogMessageSink(QWidget *parent = nullptr) : m_parent(parent) { }
    void setParent(QWidget *parent) { m_parent = parent; }
    void MsgBox(const QString &text) override;
    bool Confirm(const QString &text, const QString &yes) override;

private:
    QWidget *m_parent;
};
