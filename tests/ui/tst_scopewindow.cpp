#include "FormRig.h"
#include "ScopePlot.h"
#include "ScopeWindow.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {
// PCMD steps from 2000 to `target` at sample 30; PFBK follows with a time constant of 10.
QByteArray stepUpload(int target)
{
    QByteArray s = "RO:";
    for (int i = 0; i < 256; ++i)
        s += QByteArray::number(i < 30 ? 2000 : target) + ',';
    for (int i = 0; i < 256; ++i)
        s += QByteArray::number(
                 i < 30 ? 2000 : std::lround(target + (2000 - target) * std::exp(-(i - 30) / 10.0)))
            + ',';
    return s + ";\r\n>";
}

// The window open on a capture of a 200-count step, PCMD and PFBK.
ScopeWindow *openOnStep(FormRig &rig)
{
    rig.form.Check_VCRR->setChecked(false);
    rig.form.chkBox[0]->click();
    rig.form.chkBox[1]->click();
    rig.form.cmdSetup->click();
    rig.form.cmdStart->click();
    rig.bus.set(1, "RO", stepUpload(2200));
    rig.form.Timer1_Timer();
    rig.form.openScopeWindow();
    return rig.form.findChild<ScopeWindow *>();
}

QPushButton *button(const QWidget *window, const QString &text)
{
    for (QPushButton *b : window->findChildren<QPushButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}

void mouse(QWidget *w, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pos, w->mapToGlobal(pos), button, buttons, modifiers);
    QCoreApplication::sendEvent(w, &event);
}
} // namespace

class TestScopeWindow final : public QObject {
    Q_OBJECT

private slots:
    // Captures reach the open window, which keeps its zoom and reference across them and
    // never writes to the line, however the mouse moves.
    void followsCaptures()
    {
        FormRig rig(1);
        ScopeWindow *window = openOnStep(rig);
        QVERIFY(window && window->isVisible());
        QVERIFY2(window->figuresText().contains(QStringLiteral("step 200"))
                     && window->figuresText().contains(QStringLiteral("steady-state error 0.0\n"))
                     && window->figuresText().contains(QStringLiteral("(1.95 ms a sample)")),
                 qPrintable(window->figuresText()));
        const auto buttons = window->findChildren<QPushButton *>();
        QVERIFY(!button(window, "&Clear reference")->isEnabled());
        window->holdReference();

        // The plot starts right of its value labels and its first pixel reads the record's
        // start; clicks place A, then B, then A again once the cursors are cleared.
        ScopePlot *plot = window->plot();
        rig.port.clearRecord();
        const int y = plot->height() / 2;
        int left = 0;
        for (; !plot->marks().cursorMs && left < plot->width(); ++left)
            mouse(plot, QEvent::MouseMove, { left, y }, Qt::NoButton);
        QVERIFY(--left >= plot->fontMetrics().horizontalAdvance(QStringLiteral("-00000000")));
        QCOMPARE(*plot->marks().cursorMs, 0.0);
        const auto click = [&](int x) {
            mouse(plot, QEvent::MouseButtonPress, { left + x, y }, Qt::LeftButton);
            mouse(plot, QEvent::MouseButtonRelease, { left + x, y }, Qt::NoButton);
        };
        click(100);
        click(200);
        plot->clearCursors();
        click(300);
        QVERIFY(plot->marks().aMs && !plot->marks().bMs);
        mouse(plot, QEvent::MouseButtonPress, { plot->width() / 3, y }, Qt::LeftButton);
        for (int x = plot->width() / 3; x < plot->width() / 2; x += 7)
            mouse(plot, QEvent::MouseMove, { x, y }, Qt::LeftButton);
        mouse(plot, QEvent::MouseButtonRelease, { plot->width() / 2, y }, Qt::NoButton);
        for (int x = 0; x < plot->width(); x += 5)
            mouse(plot, QEvent::MouseMove, { x, x % plot->height() }, Qt::NoButton);
        QVERIFY(rig.port.writes().isEmpty());
        const auto dragged = plot->zoom().time;
        QVERIFY(dragged && !plot->zoom().value);
        const QPoint middle(plot->width() / 2, y);
        QWheelEvent wheel(middle, plot->mapToGlobal(middle), {}, { 0, 120 }, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(plot, &wheel);
        const auto zoomed = plot->zoom().time;
        QVERIFY(zoomed && zoomed->second - zoomed->first < dragged->second - dragged->first);

        rig.bus.set(1, "RO", stepUpload(2600));
        rig.form.Timer1_Timer();
        QVERIFY2(window->figuresText().contains(QStringLiteral("step 200 → 600")),
                 qPrintable(window->figuresText()));
        QCOMPARE(plot->zoom().time, zoomed);

        window->showRecord(Record(), { 512, false, 1 }, 200, QStringLiteral("VCMD"), "VFBK");
        QVERIFY(!window->figuresText().contains(QStringLiteral("Figures need")));
        window->clearReference();
        window->showRecord(Record(), { 512, true, 1 }, 200, QStringLiteral("PCMD"), "DIO");
        const auto labels = window->findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.begin(), labels.end(),
                            [](const QLabel *l) { return l->text().contains("</span> DI1"); }));
        for (const QPushButton *a : buttons)
            for (const QPushButton *b : buttons)
                QVERIFY((a == b || !a->geometry().intersects(b->geometry()))
                        && a->width() >= a->sizeHint().width());
    }

    // "Save CSV..." replaces a file only once all of it is written, and names any failure.
    void saveCsv_data()
    {
        QTest::addColumn<QString>("target"); // in a temporary folder
        QTest::addColumn<QString>("message");
        QTest::newRow("over an old file") << "old.csv"
                                          << "";
        QTest::newRow("no such folder") << "none/record.csv"
                                        << "No such file or directory";
        QTest::newRow("full device") << "full"
                                     << "No space left on device";
    }
    void saveCsv()
    {
        QFETCH(QString, target);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = dir.filePath(target);
        QFile old(path);
        if (target == "full" && ::mknod(QFile::encodeName(path), S_IFCHR | 0666, makedev(1, 7)))
            QSKIP("no rights to make a device node");
        else if (target == "old.csv")
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3 && old.flush());
        FormRig rig(1);
        ScopeWindow *window = openOnStep(rig);
        rig.files.file = path;
        rig.messages.texts.clear();
        button(window, "Save C&SV...")->click();
        if (message.isEmpty()) {
            QVERIFY(rig.messages.texts.isEmpty());
            QVERIFY(QFileInfo(path).isFile());
            QFile back(path);
            QVERIFY(back.open(QIODevice::ReadOnly));
            QVERIFY(back.readAll().startsWith("time_ms,PCMD,PFBK\n0,2000,2000\n"));
        } else {
            QCOMPARE(rig.messages.texts,
                     QStringList { "Could not save " + path + "\r\n" + message });
            QVERIFY(!QFileInfo(path).isFile()); // a device stays a device
        }
    }
};

QTEST_MAIN(TestScopeWindow)
#include "tst_scopewindow.moc"
