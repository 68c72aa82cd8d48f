#include "Form1Ui.h"
#include "GraphSurface.h"
#include "Lamp.h"
#include "LineShape.h"
#include "VbStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

// The window's content against its design tables. Controls are looked up by object name,
// "Label1(22)" for array members; arrayIndices() ties those names to the members.
class TstForm1Ui : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { delete m_form; }
    void window();
    void geometry_data();
    void geometry();
    void lines();
    void arrayIndices_data();
    void arrayIndices();
    void captions_data();
    void captions();
    void fonts_data();
    void fonts();
    void captionsFit();
    void colours();
    void designStates();
    void timers();

private:
    QWidget *control(const QString &name) const
    {
        return name.isEmpty() ? m_form : m_form->findChild<QWidget *>(name);
    }

    QWidget *m_form = nullptr;
    Form1Ui m_ui;
};

void TstForm1Ui::initTestCase()
{
    m_form = new QWidget;
    m_ui.setupUi(m_form);
}

void TstForm1Ui::window()
{
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Korvane"));
    QCOMPARE(m_form->size(), QSize(1003, 686));
    QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
    for (QWidget *w : m_form->findChildren<QWidget *>()) {
        if (w->isWindow() || !w->isVisibleTo(m_form))
            continue;
        const QRect onForm(w->mapTo(m_form, QPoint(0, 0)), w->size());
        QVERIFY2(m_form->rect().contains(onForm),
                 qPrintable(w->objectName() + w->metaObject()->className()));
    }
}

void TstForm1Ui::geometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container"); // empty: the client area
    QTest::addColumn<QRect>("twips");
    const auto row = [](const char *name, const char *container, int l, int t, int w, int h) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(container)
                            << QRect(l, t, w, h);
    };
    row("Label4", "", 240, 120, 7575, 615);
    row("Command1", "", 7920, 120, 1335, 375);
    row("Check_VCRR", "", 9480, 120, 1695, 375);
    row("Label9", "", 240, 2880, 975, 255);
    row("Combo1", "", 1320, 2880, 735, 300);
    row("CmdSelect", "", 2160, 2880, 855, 375);
    row("FrameCommSetup", "", 120, 840, 2895, 1815);
    row("FrameCmdSource", "", 3120, 840, 2055, 2535);
    row("FrameMotion", "", 5280, 840, 2535, 2535);
    row("FrameDIOStatus", "", 7920, 480, 4215, 2175);
    row("FrameALMStatus", "", 7920, 2760, 4215, 1935);
    row("FrameVariable", "", 120, 3360, 7695, 1335);
    row("FrameScope(0)", "", 120, 4800, 12015, 5295);
    row("FrameParaAdj", "", 12240, 120, 2535, 9975);
    row("Label2", "FrameCommSetup", 120, 480, 1815, 375);
    row("listComPort", "FrameCommSetup", 1680, 360, 735, 375);
    row("cmdCommStart", "FrameCommSetup", 240, 840, 975, 375);
    row("cmdCommStop", "FrameCommSetup", 1560, 840, 975, 375);
    row("CmdScan", "FrameCommSetup", 240, 1320, 1575, 375);
    row("Label8", "FrameCommSetup", 2280, 1440, 375, 255);
    row("Option1", "FrameCmdSource", 120, 480, 1815, 495);
    row("Option2", "FrameCmdSource", 120, 960, 1695, 495);
    row("cmdSet", "FrameCmdSource", 600, 1560, 975, 615);
    row("CheckTrig", "FrameMotion", 120, 480, 855, 255);
    row("CheckContinuous", "FrameMotion", 1200, 480, 975, 285);
    row("Label7(1)", "FrameMotion", 1560, 960, 375, 255);
    row("Text1(1)", "FrameMotion", 1320, 1320, 1095, 375);
    row("cmdSetMotion", "FrameMotion", 600, 1800, 1335, 495);
    row("lightDI(4)", "FrameDIOStatus", 720, 720, 375, 375);
    row("lightDI(0)", "FrameDIOStatus", 3480, 720, 375, 375);
    row("Label3(16)", "FrameDIOStatus", 3480, 360, 735, 375);
    row("lightDO(0)", "FrameDIOStatus", 3360, 1680, 495, 375);
    row("Label3(20)", "FrameDIOStatus", 3240, 1320, 855, 375);
    row("ShapeALM(0)", "FrameALMStatus", 3480, 1200, 495, 375);
    row("Label3(5)", "FrameALMStatus", 1800, 480, 735, 615);
    row("Label3(7)", "FrameALMStatus", 3480, 480, 615, 615);
    row("txtRG(7)", "FrameVariable", 6600, 720, 975, 375);
    row("Label1(28)", "FrameVariable", 6720, 360, 735, 375);
    row("chkBox(7)", "FrameScope(0)", 5760, 600, 375, 375);
    row("Label1(37)", "FrameScope(0)", 120, 360, 735, 375);
    row("Label1(38)", "FrameScope(0)", 6600, 360, 1335, 375);
    row("listInterval", "FrameScope(0)", 6840, 720, 855, 300);
    row("cmdSetup", "FrameScope(0)", 8040, 360, 975, 735);
    row("cmdStart", "FrameScope(0)", 9120, 360, 1095, 735);
    row("cmdStop", "FrameScope(0)", 10320, 360, 975, 735);
    row("Shape1", "FrameScope(0)", 11520, 600, 255, 255);
    row("Graph1", "FrameScope(0)", 1440, 1320, 10000, 3200);
    row("Label5(0)", "FrameScope(0)", 120, 4500, 735, 375);
    row("Label6(0)", "FrameScope(0)", 1320, 4680, 375, 375);
    row("Label6(5)", "FrameScope(0)", 11200, 4680, 735, 375);
    row("txtKG(7)", "FrameParaAdj", 1200, 2880, 975, 375);
    row("Label1(12)", "FrameParaAdj", 240, 3480, 735, 375);
    row("CF(16)", "FrameParaAdj", 240, 4920, 855, 375);
    row("txtVG(10)", "FrameParaAdj", 1200, 7080, 975, 375);
    row("LabelPOS(6)", "FrameParaAdj", 1560, 8880, 495, 255);
    row("txtPOS(5)", "FrameParaAdj", 1320, 9120, 1095, 375);
    row("cmdRead", "FrameParaAdj", 120, 9480, 1095, 495);
    row("CmdSave", "FrameParaAdj", 1440, 9480, 975, 495);
}

void TstForm1Ui::geometry()
{
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QRect, twips);
    QWidget *w = control(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->parentWidget(), control(container));
    QCOMPARE(w->geometry(), twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
}

void TstForm1Ui::lines()
{
    QCOMPARE(m_ui.Line2->parentWidget(), m_ui.FrameMotion);
    QCOMPARE(m_ui.Line2->lineTwips(), QLine(360, 840, 2160, 840));
    QCOMPARE(m_ui.Line1->parentWidget(), m_ui.FrameParaAdj);
    QCOMPARE(m_ui.Line1->lineTwips(), QLine(120, 3360, 2160, 3360));
    QCOMPARE(m_ui.Line3->parentWidget(), m_ui.FrameParaAdj);
    QCOMPARE(m_ui.Line3->lineTwips(), QLine(120, 7560, 2160, 7560));
}

static QList<int> range(int first, int last)
{
    QList<int> r;
    for (int i = first; i <= last; ++i)
        r.append(i);
    return r;
}

template <class T>
static QPair<QList<int>, QStringList> contents(const char *name, const ControlArray<T> &array)
{
    QStringList wrongNames;
    for (auto it = array.begin(); it != array.end(); ++it) {
        const QString expected = QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(it.key());
        if (it.value()->objectName() != expected)
            wrongNames.append(expected);
    }
    return { array.indices(), wrongNames };
}

void TstForm1Ui::arrayIndices_data()
{
    QTest::addColumn<QList<int>>("actual");
    QTest::addColumn<QStringList>("wrongNames");
    QTest::addColumn<QList<int>>("expected");
    const auto row = [](const char *name, const auto &array, const QList<int> &expected) {
        const auto c = contents(name, array);
        QTest::newRow(name) << c.first << c.second << expected;
    };
    const Form1Ui &u = m_ui;
    // Label1 has no 10, 11, 16 (that is CF), 29 or 30.
    row("Label1", u.Label1, range(0, 9) + range(12, 15) + range(17, 28) + range(31, 40));
    row("CF", u.CF, { 16 });
    row("Label3", u.Label3, QList<int> { 0, 1, 2 } + range(4, 7) + range(16, 22));
    row("Label5", u.Label5, range(0, 4));
    row("Label6", u.Label6, range(0, 5));
    row("Label7", u.Label7, range(0, 1));
    row("LabelPOS", u.LabelPOS, range(1, 6));
    row("Text1", u.Text1, range(0, 1));
    row("txtRG", u.txtRG, range(1, 7));
    row("txtKG", u.txtKG, range(0, 7));
    row("txtVG", u.txtVG, range(0, 10));
    row("txtPOS", u.txtPOS, range(0, 5));
    row("chkBox", u.chkBox, range(0, 7));
    row("lightDI", u.lightDI, range(0, 4));
    row("lightDO", u.lightDO, range(0, 3));
    row("ShapeALM", u.ShapeALM, range(0, 4));
    row("FrameScope", u.FrameScope, { 0 });
}

void TstForm1Ui::arrayIndices()
{
    QFETCH(QList<int>, actual);
    QFETCH(QStringList, wrongNames);
    QFETCH(QList<int>, expected);
    QCOMPARE(actual, expected);
    QCOMPARE(wrongNames, QStringList());
}

static QString captionOf(QWidget *w)
{
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->title();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    if (auto *c = qobject_cast<QComboBox *>(w))
        return c->currentText();
    return QStringLiteral("<none>");
}

void TstForm1Ui::captions_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("texts");
    const auto row = [](const char *group, const QStringList &names, const QStringList &texts) {
        QTest::newRow(group) << names << texts;
    };
    row("loose", { "Label4", "Command1", "Check_VCRR", "Label9", "CmdSelect", "Combo1" },
        { "VCM Servo Drive Console", "RESET", "VCRR new", "STATION", "Select", "" });
    row("frames",
        { "FrameCommSetup", "FrameCmdSource", "FrameMotion", "FrameDIOStatus", "FrameALMStatus",
          "FrameVariable", "FrameScope(0)", "FrameParaAdj" },
        { "Comm Port Setup", "Command", "Motion", "DIO Status", "Alarm Status", "Drive Variables",
          "Oscilloscope", "Parameter Adjustment" });
    row("port", { "Label2", "listComPort", "cmdCommStart", "cmdCommStop", "CmdScan", "Label8" },
        { "VCM COM Port", "4", "Start", "Stop", "Scan drive", "0" });
    row("command and motion",
        { "Option1", "Option2", "cmdSet", "CheckTrig", "CheckContinuous", "Label7(0)", "Label7(1)",
          "cmdSetMotion" },
        { "Pulse/Dir", "DI2-Up/Down", "Set", "Trig.", "Conti.", "1st", "2nd", "Set Motion" });
    row("inputs",
        { "Label1(39)", "Label3(1)", "Label3(19)", "Label3(18)", "Label3(17)", "Label3(16)" },
        { "DI", "DI2", "DI1", "BTYPE", "BOND", "SVON" });
    row("outputs", { "Label1(40)", "Label3(2)", "Label3(22)", "Label3(21)", "Label3(20)" },
        { "DO", "DO1", "DO0", "INPOS", "DRDY" });
    row("alarms", { "Label3(4)", "Label3(0)", "Label3(5)", "Label3(6)", "Label3(7)" },
        { "EMS", "Pcmd over", "Sensor break", "Perr exceed", "Over Load" });
    row("variables",
        { "Label1(22)", "Label1(23)", "Label1(24)", "Label1(25)", "Label1(26)", "Label1(27)",
          "Label1(28)" },
        { "PCMD", "PFBK", "PERR", "VCMD", "VFBK", "VERR", "ICMD" });
    row("channels",
        { "Label1(37)", "Label1(36)", "Label1(35)", "Label1(34)", "Label1(33)", "Label1(32)",
          "Label1(31)", "Label1(21)" },
        { "PCMD", "PFBK", "PERR", "VCMD", "VFBK", "VERR", "ICMD", "DIO" });
    row("scope", { "Label1(38)", "listInterval", "cmdSetup", "cmdStart", "cmdStop", "Label6(0)" },
        { "Interval (ms)", "500", "Setup", "Start", "Stop", "0" });
    row("gains",
        { "Label1(0)", "Label1(2)", "Label1(4)", "Label1(5)", "Label1(6)", "Label1(7)", "Label1(8)",
          "Label1(9)" },
        { "KPP", "KFV", "KVP", "KVI", "KVV", "KFS", "KFD", "KGC" });
    row("settings",
        { "Label1(12)", "Label1(13)", "Label1(14)", "Label1(15)", "CF(16)", "Label1(17)",
          "Label1(18)", "Label1(19)", "Label1(20)", "Label1(1)", "Label1(3)" },
        { "VCW", "VIP", "VPX", "VT1", "VCF2", "VSV", "VCF", "VPK", "VI2", "VAC", "VT2" });
    row("positions",
        { "LabelPOS(1)", "LabelPOS(2)", "LabelPOS(3)", "LabelPOS(4)", "LabelPOS(5)", "LabelPOS(6)",
          "cmdRead", "CmdSave" },
        { "UP0", "UP1", "DN0", "DN1", "TH0", "TH1", "LOAD", "SAVE" });
}

void TstForm1Ui::captions()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, texts);
    QCOMPARE(names.size(), texts.size());
    for (int i = 0; i < names.size(); ++i) {
        QWidget *w = control(names[i]);
        QVERIFY2(w, qPrintable(names[i]));
        QCOMPARE(captionOf(w), texts[i]);
    }
}

void TstForm1Ui::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("points"); // 0: the window's default font
    const auto row = [](const char *name, double points) {
        QTest::newRow(name) << QString::fromLatin1(name) << points;
    };
    row("Label9", 9.75);
    row("CmdSelect", 12);
    row("Command1", 0);
    row("FrameCommSetup", 14.25);
    row("FrameParaAdj", 12);
    row("listComPort", 14.25);
    row("Label3(2)", 12);
    row("Label3(1)", 9.75);
    row("cmdRead", 14.25);
    // Inside frames with bold 14.25 pt captions, still the plain default font.
    row("Text1(0)", 0);
    row("listInterval", 0);
    row("Label5(0)", 0);
    row("txtKG(0)", 0);
}

void TstForm1Ui::fonts()
{
    QFETCH(QString, name);
    QFETCH(double, points);
    const QFont expected = points > 0 ? tnrFont(points) : defaultFormFont();
    const QFont font = control(name)->font();
    QCOMPARE(font.family(), expected.family());
    QCOMPARE(font.pixelSize(), expected.pixelSize());
    QCOMPARE(font.bold(), expected.bold());
    QCOMPARE(font.italic(), false);
    const QFont title = m_ui.Label4->font();
    QVERIFY(title.bold() && title.italic());
    QCOMPARE(title.pixelSize(), 29);
}

// Every caption shows whole: single-line captions fit their width, wrapped ones fit word by
// word on the lines they have.
void TstForm1Ui::captionsFit()
{
    for (QLabel *l : m_form->findChildren<QLabel *>()) {
        if (l->text().isEmpty())
            continue;
        const QFontMetrics metrics(l->font());
        const QStringList words
                = l->wordWrap() ? l->text().split(QLatin1Char(' ')) : QStringList { l->text() };
        for (const QString &word : words)
            QVERIFY2(metrics.horizontalAdvance(word) <= l->width(), qPrintable(l->objectName()));
        QVERIFY2(words.size() * metrics.height() <= l->height() + metrics.descent(),
                 qPrintable(l->objectName()));
    }
    for (QAbstractButton *b : m_form->findChildren<QAbstractButton *>()) {
        int available = b->width() - 4; // a push button's frame and margin
        if (!qobject_cast<QPushButton *>(b)) {
            QStyleOptionButton option;
            option.initFrom(b);
            option.text = b->text();
            available = b->style()
                                ->subElementRect(qobject_cast<QRadioButton *>(b)
                                                         ? QStyle::SE_RadioButtonContents
                                                         : QStyle::SE_CheckBoxContents,
                                                 &option, b)
                                .width();
        }
        QVERIFY2(QFontMetrics(b->font()).horizontalAdvance(b->text()) <= available,
                 qPrintable(b->objectName()));
    }
    for (int i : { 0, 5, 6, 7 })
        QVERIFY(m_ui.Label3[i]->wordWrap());
}

void TstForm1Ui::colours()
{
    const QColor green(0, 255, 0);
    const auto text = [](QWidget *w, QPalette::ColorRole role = QPalette::WindowText) {
        return w->palette().color(QPalette::Active, role);
    };
    QCOMPARE(m_ui.Label4->palette().color(QPalette::Window), QColor(0, 0, 128));
    QCOMPARE(text(m_ui.Label4), QColor(255, 255, 0));
    for (QGroupBox *frame : m_form->findChildren<QGroupBox *>()) {
        const QColor caption = frame == m_ui.FrameALMStatus ? QColor(255, 0, 0) : QColor(0, 0, 255);
        QCOMPARE(text(frame), caption);
        // A frame's caption colour must not leak into its controls.
        for (QWidget *child : frame->findChildren<QWidget *>()) {
            if (child == m_ui.txtKG[0])
                continue;
            QCOMPARE(text(child), text(m_form));
            QCOMPARE(text(child, QPalette::Text), text(m_form, QPalette::Text));
        }
    }
    QCOMPARE(text(m_ui.txtKG[0], QPalette::Text), QColor(0, 0, 0));
    for (const auto *lamps : { &m_ui.lightDI, &m_ui.lightDO, &m_ui.ShapeALM })
        for (Lamp *lamp : *lamps)
            QCOMPARE(lamp->fillColor(), green);
    QCOMPARE(m_ui.Shape1->fillColor(), QColor(255, 0, 0));

    // As drawn: lamps, the black plot and a blue frame caption.
    const QImage image = m_form->grab().toImage();
    const auto centre
            = [&](QWidget *w) { return image.pixelColor(w->mapTo(m_form, w->rect().center())); };
    QCOMPARE(centre(m_ui.lightDI[4]), green);
    QCOMPARE(centre(m_ui.Shape1), QColor(255, 0, 0));
    QCOMPARE(centre(m_ui.Graph1), QColor(0, 0, 0));
    int blue = 0;
    const QPoint origin = m_ui.FrameCommSetup->mapTo(m_form, QPoint(0, 0));
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < m_ui.FrameCommSetup->width(); ++x)
            blue += image.pixelColor(origin + QPoint(x, y)) == QColor(0, 0, 255);
    QVERIFY2(blue > 20, qPrintable(QString::number(blue)));
}

void TstForm1Ui::designStates()
{
    QVERIFY(m_ui.Option1->isChecked());
    QVERIFY(!m_ui.Option2->isChecked());
    QVERIFY(m_ui.Check_VCRR->isChecked());
    QVERIFY(!m_ui.CheckTrig->isChecked() && !m_ui.CheckContinuous->isChecked());
    for (QCheckBox *box : m_ui.chkBox)
        QVERIFY(!box->isChecked() && box->text().isEmpty());
    QVERIFY(m_ui.listInterval->isEditable());
    QStringList items;
    for (int i = 0; i < m_ui.listInterval->count(); ++i)
        items.append(m_ui.listInterval->itemText(i));
    QCOMPARE(items, (QStringList { "100", "200", "300", "400", "500" }));
    QVERIFY(m_ui.Combo1->isEditable());
    QCOMPARE(m_ui.Combo1->count(), 0);
    for (QPushButton *b : m_form->findChildren<QPushButton *>()) {
        const bool disabled = b == m_ui.cmdSetup || b == m_ui.cmdStart || b == m_ui.cmdStop
                || b == m_ui.cmdRead;
        QVERIFY2(b->isEnabled() != disabled, qPrintable(b->objectName()));
    }
    for (QLineEdit *box : m_form->findChildren<QLineEdit *>()) {
        if (box != m_ui.listComPort && box->parentWidget() != m_ui.listInterval)
            QVERIFY2(box->text().isEmpty(), qPrintable(box->objectName()));
    }
    for (int k = 1; k <= 5; ++k)
        QVERIFY(m_ui.Label5[k - 1]->text().isEmpty() && m_ui.Label6[k]->text().isEmpty());
    QVERIFY(m_ui.Graph1->displayList().isEmpty());
    QVERIFY(m_ui.Graph1->toolTip().isEmpty());

    // The frame groups the two option buttons; checked on its own window.
    QWidget form;
    Form1Ui ui;
    ui.setupUi(&form);
    ui.Option2->setChecked(true);
    QVERIFY(!ui.Option1->isChecked());
}

void TstForm1Ui::timers()
{
    const QList<QPair<QTimer *, int>> timers = {
        { m_ui.Timer1, 0 },   { m_ui.Timer2, 100 }, { m_ui.Timer3, 100 },
        { m_ui.Timer4, 100 }, { m_ui.Timer5, 100 },
    };
    for (const auto &t : timers) {
        QCOMPARE(t.first->interval(), t.second);
        QVERIFY(!t.first->isActive());
        QCOMPARE(t.first->parent(), m_form);
    }
}

QTEST_MAIN(TstForm1Ui)
#include "tst_form1ui.moc"
