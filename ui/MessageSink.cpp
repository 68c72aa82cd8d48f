#include "MessageSink.h"

#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

QString applicationTitle()
{
    return QStringLiteral("VCM Drive Console");
}

void DialogMessageSink::MsgBox(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, m_parent);
    // Some styles put an icon on the OK button; the console's boxes carry none.
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    box.exec();
}
