#include "MessageSink.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

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

bool DialogMessageSink::Confirm(const QString &text, const QString &yes)
{
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), messageBoxText(text),
                    QMessageBox::Cancel, m_parent);
    QPushButton *accept = box.addButton(yes, QMessageBox::AcceptRole);
    box.setDefaultButton(accept);
    box.button(QMessageBox::Cancel)->setIcon(QIcon());
    box.exec();
    return box.clickedButton() == accept;
}

namespace {
QSettings settings()
{
    return QSettings(QStringLiteral("vcm-console"), QStringLiteral("vcm-console"));
}
const QString LastFolderKey = QStringLiteral("files/lastFolder");

QString remembered(const QString &file)
{
    if (!file.isEmpty())
        settings().setValue(LastFolderKey, QFileInfo(file).absolutePath());
    return file;
}
} // namespace

QString lastFileFolder()
{
    return settings().value(LastFolderKey, QDir::homePath()).toString();
}

QString QtFileDialogs::saveFileName(const QString &title, const QString &suggestedName,
                                    const QString &filter)
{
    const QString folder = lastFileFolder();
    return remembered(QFileDialog::getSaveFileName(m_parent, title,
                                                   QDir(folder).filePath(suggestedName), filter));
}

QString QtFileDialogs::openFileName(const QString &title, const QString &filter)
{
    const QString folder = lastFileFolder();
    return remembered(QFileDialog::getOpenFileName(m_parent, title, folder, filter));
}

void DialogMessageSink::MsgBox(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, applicationTitle(), messageBoxText(text), QMessageBox::Ok,
                    m_parent);
    // Some styles put an icon on the OK button; the console's boxes carry none.
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    box.exec();
}
