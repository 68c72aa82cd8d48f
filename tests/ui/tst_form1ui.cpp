#include "ClassicFrame.h"
#include "Form1Ui.h"
#include "GraphSurface.h"

#include <QApplication>
#include <QTest>

// The window's controls as the design leaves them, and the surfaces they draw on.
class TstForm1Ui : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_ui.setupUi(&m_form); }
    void framesDrawnClassic();
    void graphPaintsItsDisplayList();

private:
    QWidget m_form;
    Form1Ui m_ui;
};

// Frames as the design draws them: the border at the middle of the caption, above every
// control of the frame, not under the first row of them.
void TstForm1Ui::framesDrawnClassic()
{
    for (auto *frame : m_form.findChildren<ClassicFrame *>()) {
        const QImage drawn = frame->grab().toImage();
        const QRgb border = frame->palette().color(QPalette::Dark).rgb();
        int top = 0;
        while (top < drawn.height() && drawn.pixel(0, top) != border)
            ++top;
        QCOMPARE(top, frame->fontMetrics().height() / 2);
        // The etched line closes on the right and at the bottom: shadow, then light outside it.
        const int mid = (top + drawn.height()) / 2;
        QCOMPARE(drawn.pixel(drawn.width() - 2, mid), border);
        QCOMPARE(drawn.pixel(drawn.width() / 2, drawn.height() - 2), border);
        for (auto *child : frame->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            QVERIFY2(child->y() > top + 2, qPrintable(child->objectName()));
    }
}

// The oscilloscope's kind of scale on Graph1's own size: y grows upward.
void TstForm1Ui::graphPaintsItsDisplayList()
{
    DisplayList list;
    list.scale(0, 40, 255, 0);
    list.foreColor(0x000000FF); // red, written &H00BBGGRR&
    list.point(0, 0);
    list.point(255, 40);
    list.point(0, 20);
    list.lineTo(255, 20);
    list.point(qQNaN(), 40); // a point that maps nowhere draws nothing
    m_ui.Graph1->setDisplayList(list);
    const QImage image = m_ui.Graph1->grab().toImage();
    QCOMPARE(image.pixelColor(0, 212), QColor(255, 0, 0)); // bottom-left corner
    QCOMPARE(image.pixelColor(666, 0), QColor(255, 0, 0)); // top-right corner
    QCOMPARE(image.pixelColor(333, 106), QColor(255, 0, 0)); // half-way up
    QCOMPARE(image.pixelColor(333, 104), QColor(0, 0, 0));
    QCOMPARE(image.pixelColor(333, 108), QColor(0, 0, 0));
    QCOMPARE(image.pixelColor(0, 0), QColor(0, 0, 0));
}

QTEST_MAIN(TstForm1Ui)
#include "tst_form1ui.moc"
