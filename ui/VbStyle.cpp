#include "VbStyle.h"

#include <QFontDatabase>
#include <QPalette>
#include <QWidget>

#include <cmath>

namespace {

const QString TimesNewRoman = QStringLiteral("Times New Roman");
const QString MsSansSerif = QStringLiteral("MS Sans Serif");

int pointsToPixels(double points)
{
    return qMax(1, qRound(points * 96.0 / 72.0));
}

// Registers the stand-in faces once, before the first font is made.
void registerSubstitutes()
{
    static const bool done = [] {
        if (!QFontDatabase::hasFamily(TimesNewRoman))
            QFont::insertSubstitution(TimesNewRoman, QStringLiteral("Liberation Serif"));
        if (!QFontDatabase::hasFamily(MsSansSerif))
            QFont::insertSubstitutions(
                MsSansSerif,
                { QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans") });
        return true;
    }();
    Q_UNUSED(done);
}

} // namespace

int twips(int t)
{
    return qRound(double(t) / VbStyle::TwipsPerPixel);
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

QColor vbColor(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

quint32 vbColorValue(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return quint32(rgb.red()) | (quint32(rgb.green()) << 8) | (quint32(rgb.blue()) << 16);
}

QFont tnrFont(double points, bool italic)
{
    registerSubstitutes();
    QFont font(TimesNewRoman);
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(pointsToPixels(points));
    font.setBold(true);
    font.setItalic(italic);
    return font;
}

QFont defaultFormFont()
{
    registerSubstitutes();
    QFont font(MsSansSerif);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pointsToPixels(8.25));
    font.setBold(false); // set, not left open: frames have bold caption fonts
    font.setItalic(false);
    return font;
}

void setForeColor(QWidget *widget, const QColor &color)
{
    Q_ASSERT(widget);
    QPalette palette = widget->palette();
    for (const auto group : { QPalette::Active, QPalette::Inactive }) {
        palette.setColor(group, QPalette::WindowText, color);
        palette.setColor(group, QPalette::Text, color);
        palette.setColor(group, QPalette::ButtonText, color);
    }
    widget->setPalette(palette);
}

void setBackColor(QWidget *widget, const QColor &color)
{
    Q_ASSERT(widget);
    QPalette palette = widget->palette();
    for (const auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
        palette.setColor(group, QPalette::Window, color);
        palette.setColor(group, QPalette::Base, color);
    }
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}
