#include "MessageSink.h"

#include <QMessageBox>

QString applicationTitle()
{
    return QStringLiteral("VCM Drive Console");
}

void DialogMessageSink::MsgBox(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, m_parent);
    box.exec();
}
