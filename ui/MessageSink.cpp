#include "MessageSink.h"

#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

QString applicationTitle()
{
    return QStringLiteral("VCM Drive Console");
}

QString messageBoxText(const QString &text)
{
    constexpr int MaxShown = 600;
    if (text.size() <= MaxShown)
        return text;
    return text.left(MaxShown)
        + QStringLiteral(" ... (%1 more characters)").arg(text.size() - MaxShown);
}

void DialogMessageSink::MsgBox(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), messageBoxText(text), QMessageBox::Ok,
                    m_parent);
    // Some styles put an icon on the OK button; the console's boxes carry none.
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    box.exec();
}
