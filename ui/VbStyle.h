#pragma once

#include <QColor>
#include <QFont>
#include <QRect>

class QWidget;

// Helpers that turn the design's units (twips, &H00BBGGRR& colours, point sizes) into Qt's.
namespace VbStyle {
inline constexpr int TwipsPerPixel = 15; // 1440 twips per inch at 96 dots per inch
}

// Twips to pixels, rounded to the nearest pixel (half away from zero).
int twips(int t);

// A rectangle given as Left, Top, Width, Height in twips; each value is rounded on its own.
QRect twipsRect(int left, int top, int width, int height);

// A colour written &H00BBGGRR& (red is 0x000000FF); the top byte is ignored.
QColor vbColor(quint32 bgr);
// The &H00BBGGRR& value of a colour (alpha dropped).
quint32 vbColorValue(const QColor &color);

// Bold Times New Roman of the given point size, sized in pixels (points * 96 / 72) so the
// layout does not follow the screen's DPI. Liberation Serif stands in where Times New Roman
// is missing.
QFont tnrFont(double points, bool italic = false);

// The window's default font for controls without a font entry (the VB default, MS Sans
// Serif 8 pt, sized in pixels; Liberation Sans stands in where it is missing).
QFont defaultFormFont();

// Text colour (labels, check boxes, buttons, the text of edit boxes and group-box titles)
// for the active and inactive states; a disabled control keeps the style's greyed text.
void setForeColor(QWidget *widget, const QColor &color);
// Background colour (window and edit-box base); the widget fills its background.
void setBackColor(QWidget *widget, const QColor &color);
