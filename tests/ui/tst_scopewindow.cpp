#include "FormRig.h"
#include "ScopePlot.h"
#include "ScopeWindow.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {
// PCMD steps from `from` to `to` at sample 30 of `perChannel`; PFBK follows with a time
// constant of 10.
QByteArray stepUpload(int to, int from = 2000, int perChannel = 256)
{
    QByteArray s = "RO:";
    for (int i = 0; i < perChannel; ++i)
        s += QByteArray::number(i < 30 ? from : to) + ',';
    for (int i = 0; i < perChannel; ++i)
        s += QByteArray::number(i < 30 ? from
                                       : std::lround(to + (from - to) * std::exp(-(i - 30) / 10.0)))
            + ',';
    return s + ";\r\n>";
}

Record stepRecord(int to, int from, int perChannel, const RecordShape &shape)
{
    return parseRecord(*uploadValues(QString::fromLatin1(stepUpload(to, from, perChannel))), shape)
        .record;
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
        // A double-click whose first press fell beside the plot takes back no cursor.
        mouse(plot, QEvent::MouseButtonPress, { left - 20, y }, Qt::LeftButton);
        mouse(plot, QEvent::MouseButtonRelease, { left - 20, y }, Qt::NoButton);
        mouse(plot, QEvent::MouseButtonDblClick, { left + 150, y }, Qt::LeftButton);
        mouse(plot, QEvent::MouseButtonRelease, { left + 150, y }, Qt::NoButton);
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

    // The figures compare like with like: none from a record of the wrong length (the cause
    // named), a reference stepping the other way turned over; the view holds all of both.
    void figures_data()
    {
        QTest::addColumn<int>("recordLength"); // as set up
        QTest::addColumn<int>("perChannel"); // as uploaded
        QTest::addColumn<int>("referenceFrom"); // 0: no reference; it steps to 2000
        QTest::addColumn<double>("referenceSpan");
        QTest::addColumn<QString>("figures");
        QTest::addColumn<QString>("legend");
        QTest::newRow("classic recorder, VCRR new ticked")
            << 256 << 256 << 0 << 0.0
            << "No figures. The record holds more than the 256 values "
               "the set-up expects"
            << "";
        QTest::newRow("new recorder, VCRR new cleared")
            << 512 << 128 << 0 << 0.0
            << "256 of the 512 values the set-up expects: the drive "
               "seems to have the new recorder. Tick \"VCRR new\""
            << "";
        QTest::newRow("reference the other way")
            << 512 << 256 << 10000 << 200.0 << "step 8000 → 8000\nrise"
            << "mirrored onto this one";
        QTest::newRow("reference of a longer span")
            << 512 << 256 << 1000 << 500.0 << "step 1000 → 8000"
            << "its step laid on this one";
    }
    void figures()
    {
        QFETCH(int, recordLength);
        QFETCH(int, perChannel);
        QFETCH(int, referenceFrom);
        QFETCH(double, referenceSpan);
        QFETCH(QString, figures);
        QFETCH(QString, legend);
        FormRig rig(1);
        ScopeWindow *window = openOnStep(rig);
        const RecordShape shape { 512, false, 1 };
        if (referenceFrom) {
            window->showRecord(stepRecord(2000, referenceFrom, 256, shape), shape, referenceSpan,
                               "PCMD", "PFBK");
            window->holdReference();
        }
        const RecordShape now { recordLength, false, 1 };
        window->showRecord(stepRecord(10000, 2000, perChannel, now), now, 200, "PCMD", "PFBK");
        QVERIFY2(window->figuresText().contains(figures), qPrintable(window->figuresText()));
        const auto labels = window->findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.begin(), labels.end(),
                            [&](const QLabel *l) { return l->text().contains(legend); }));
        // The plot's right edge reads the end of the longer span.
        ScopePlot *plot = window->plot();
        int x = plot->width();
        for (plot->clearCursors(); !plot->marks().cursorMs && x > 0; --x)
            mouse(plot, QEvent::MouseMove, { x, plot->height() / 2 }, Qt::NoButton);
        QVERIFY(*plot->marks().cursorMs > std::max(referenceSpan, 200.0) * 0.9);
    }

    // At the smallest size the time axis still has labels; every value label has its grid
    // line; the value axis names its unit.
    void axes_data()
    {
        QTest::addColumn<QString>("channel");
        QTest::addColumn<QString>("unit");
        QTest::newRow("position") << "PCMD"
                                  << "counts";
        QTest::newRow("velocity and position") << "VCMD"
                                               << "VCMD 0.1 mm/s, PFBK counts";
    }
    void axes()
    {
        QFETCH(QString, channel);
        QFETCH(QString, unit);
        const RecordShape shape { 512, false, 1 };
        const ScopeRecord r(stepRecord(9400, 2000, 256, shape), shape, 500, channel, "PFBK");
        const ScopePicture p = scopePicture(r, nullptr, 0, fullView(r, nullptr), nullptr, {},
                                            QRect(80, 22, 220, 140), QSizeF(8, 16));
        QStringList times, values, grid;
        for (const DisplayList::Item &item : p.frame.items()) {
            if (item.kind == DisplayList::Item::Kind::Text)
                (item.align == (Qt::AlignRight | Qt::AlignVCenter)     ? values
                     : item.align == (Qt::AlignHCenter | Qt::AlignTop) ? times
                                                                       : grid)
                    << p.frame.texts().at(item.text);
        }
        QVERIFY2(times.size() >= 2, qPrintable(times.join(',')));
        QVERIFY2(grid.contains(unit), qPrintable(grid.join(',')));
        grid.clear();
        for (const DisplayList::Item &item : p.grid.items())
            if (item.kind == DisplayList::Item::Kind::Line && item.from.y() == item.to.y())
                grid << QString::number(item.from.y());
        QCOMPARE(grid, values);
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
