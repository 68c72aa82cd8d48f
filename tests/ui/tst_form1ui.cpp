#include "Form1Ui.h"
#include "GraphSurface.h"
#include "Lamp.h"
#include "LineShape.h"
#include "VbStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

// The window's content against the design tables of spec Part 2.1.
class TstForm1Ui : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void window();
    void geometry_data();
    void geometry();
    void lines_data();
    void lines();
    void arrayIndices_data();
    void arrayIndices();
    void captions_data();
    void captions();
    void fonts_data();
    void fonts();
    void captionsAreNotClipped();
    void alarmCaptionsWrap();
    void colours();
    void renderedColours();
    void designStates();
    void emptyTexts();
    void optionButtonsAreOneGroup();
    void timers();

private:
    QWidget *control(const QString &name) const;
    template <class T>
    void addArray(const char *name, const ControlArray<T> &array);

    QWidget *m_form = nullptr;
    Form1Ui m_ui;
    QHash<QString, QWidget *> m_controls;
};

template <class T>
void TstForm1Ui::addArray(const char *name, const ControlArray<T> &array)
{
    for (int index : array.indices())
        m_controls.insert(QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index),
                          array[index]);
}

void TstForm1Ui::initTestCase()
{
    m_form = new QWidget;
    m_ui.setupUi(m_form);
    const Form1Ui &u = m_ui;
    // By member name, so that a renamed member fails to compile here.
    const QList<QPair<const char *, QWidget *>> single = {
        { "Label4", u.Label4 },
        { "Command1", u.Command1 },
        { "Check_VCRR", u.Check_VCRR },
        { "Label9", u.Label9 },
        { "Combo1", u.Combo1 },
        { "CmdSelect", u.CmdSelect },
        { "FrameCommSetup", u.FrameCommSetup },
        { "Label2", u.Label2 },
        { "listComPort", u.listComPort },
        { "cmdCommStart", u.cmdCommStart },
        { "cmdCommStop", u.cmdCommStop },
        { "CmdScan", u.CmdScan },
        { "Label8", u.Label8 },
        { "FrameCmdSource", u.FrameCmdSource },
        { "Option1", u.Option1 },
        { "Option2", u.Option2 },
        { "cmdSet", u.cmdSet },
        { "FrameMotion", u.FrameMotion },
        { "CheckTrig", u.CheckTrig },
        { "CheckContinuous", u.CheckContinuous },
        { "Line2", u.Line2 },
        { "cmdSetMotion", u.cmdSetMotion },
        { "FrameDIOStatus", u.FrameDIOStatus },
        { "FrameALMStatus", u.FrameALMStatus },
        { "FrameVariable", u.FrameVariable },
        { "listInterval", u.listInterval },
        { "cmdSetup", u.cmdSetup },
        { "cmdStart", u.cmdStart },
        { "cmdStop", u.cmdStop },
        { "Shape1", u.Shape1 },
        { "Graph1", u.Graph1 },
        { "FrameParaAdj", u.FrameParaAdj },
        { "Line1", u.Line1 },
        { "Line3", u.Line3 },
        { "cmdRead", u.cmdRead },
        { "CmdSave", u.CmdSave },
    };
    for (const auto &entry : single) {
        QVERIFY2(entry.second, entry.first);
        m_controls.insert(QLatin1String(entry.first), entry.second);
    }
    addArray("Label7", u.Label7);
    addArray("Text1", u.Text1);
    addArray("lightDI", u.lightDI);
    addArray("lightDO", u.lightDO);
    addArray("Label3", u.Label3);
    addArray("Label1", u.Label1);
    addArray("ShapeALM", u.ShapeALM);
    addArray("txtRG", u.txtRG);
    addArray("FrameScope", u.FrameScope);
    addArray("chkBox", u.chkBox);
    addArray("Label5", u.Label5);
    addArray("Label6", u.Label6);
    addArray("txtKG", u.txtKG);
    addArray("txtVG", u.txtVG);
    addArray("txtPOS", u.txtPOS);
    addArray("LabelPOS", u.LabelPOS);
    addArray("CF", u.CF);
}

void TstForm1Ui::cleanupTestCase()
{
    delete m_form;
}

QWidget *TstForm1Ui::control(const QString &name) const
{
    if (name.isEmpty())
        return m_form;
    return m_controls.value(name);
}

void TstForm1Ui::window()
{
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Korvane"));
    QCOMPARE(m_form->size(), QSize(1003, 686));
    QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
    // Every control, lines included, lies inside the client area.
    for (auto it = m_controls.cbegin(); it != m_controls.cend(); ++it) {
        QWidget *w = it.value();
        const QRect onForm(w->mapTo(m_form, QPoint(0, 0)), w->size());
        QVERIFY2(m_form->rect().contains(onForm), qPrintable(it.key()));
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
    // Outside the frames
    row("Label4", "", 240, 120, 7575, 615);
    row("Command1", "", 7920, 120, 1335, 375);
    row("Check_VCRR", "", 9480, 120, 1695, 375);
    row("Label9", "", 240, 2880, 975, 255);
    row("Combo1", "", 1320, 2880, 735, 300);
    row("CmdSelect", "", 2160, 2880, 855, 375);
    // Frames
    row("FrameCommSetup", "", 120, 840, 2895, 1815);
    row("FrameCmdSource", "", 3120, 840, 2055, 2535);
    row("FrameMotion", "", 5280, 840, 2535, 2535);
    row("FrameDIOStatus", "", 7920, 480, 4215, 2175);
    row("FrameALMStatus", "", 7920, 2760, 4215, 1935);
    row("FrameVariable", "", 120, 3360, 7695, 1335);
    row("FrameScope(0)", "", 120, 4800, 12015, 5295);
    row("FrameParaAdj", "", 12240, 120, 2535, 9975);
    // Comm Port Setup
    row("Label2", "FrameCommSetup", 120, 480, 1815, 375);
    row("listComPort", "FrameCommSetup", 1680, 360, 735, 375);
    row("cmdCommStart", "FrameCommSetup", 240, 840, 975, 375);
    row("cmdCommStop", "FrameCommSetup", 1560, 840, 975, 375);
    row("CmdScan", "FrameCommSetup", 240, 1320, 1575, 375);
    row("Label8", "FrameCommSetup", 2280, 1440, 375, 255);
    // Command
    row("Option1", "FrameCmdSource", 120, 480, 1815, 495);
    row("Option2", "FrameCmdSource", 120, 960, 1695, 495);
    row("cmdSet", "FrameCmdSource", 600, 1560, 975, 615);
    // Motion
    row("CheckTrig", "FrameMotion", 120, 480, 855, 255);
    row("CheckContinuous", "FrameMotion", 1200, 480, 975, 285);
    row("Label7(0)", "FrameMotion", 480, 960, 375, 255);
    row("Label7(1)", "FrameMotion", 1560, 960, 375, 255);
    row("Text1(0)", "FrameMotion", 120, 1320, 1095, 375);
    row("Text1(1)", "FrameMotion", 1320, 1320, 1095, 375);
    row("cmdSetMotion", "FrameMotion", 600, 1800, 1335, 495);
    // DIO Status: both rows, every lamp and caption
    row("lightDI(4)", "FrameDIOStatus", 720, 720, 375, 375);
    row("lightDI(3)", "FrameDIOStatus", 1440, 720, 375, 375);
    row("lightDI(2)", "FrameDIOStatus", 2160, 720, 375, 375);
    row("lightDI(1)", "FrameDIOStatus", 2880, 720, 375, 375);
    row("lightDI(0)", "FrameDIOStatus", 3480, 720, 375, 375);
    row("Label3(1)", "FrameDIOStatus", 720, 360, 495, 375);
    row("Label3(19)", "FrameDIOStatus", 1440, 360, 495, 375);
    row("Label3(18)", "FrameDIOStatus", 2040, 360, 735, 375);
    row("Label3(17)", "FrameDIOStatus", 2760, 360, 735, 375);
    row("Label3(16)", "FrameDIOStatus", 3480, 360, 735, 375);
    row("lightDO(3)", "FrameDIOStatus", 720, 1680, 495, 375);
    row("lightDO(2)", "FrameDIOStatus", 1560, 1680, 495, 375);
    row("lightDO(1)", "FrameDIOStatus", 2400, 1680, 495, 375);
    row("lightDO(0)", "FrameDIOStatus", 3360, 1680, 495, 375);
    row("Label3(2)", "FrameDIOStatus", 720, 1320, 615, 375);
    row("Label3(22)", "FrameDIOStatus", 1560, 1320, 615, 375);
    row("Label3(21)", "FrameDIOStatus", 2280, 1320, 855, 375);
    row("Label3(20)", "FrameDIOStatus", 3240, 1320, 855, 375);
    row("Label1(39)", "FrameDIOStatus", 120, 720, 495, 375);
    row("Label1(40)", "FrameDIOStatus", 120, 1680, 495, 375);
    // Alarm Status
    row("ShapeALM(4)", "FrameALMStatus", 120, 1200, 495, 375);
    row("ShapeALM(3)", "FrameALMStatus", 960, 1200, 495, 375);
    row("ShapeALM(2)", "FrameALMStatus", 1800, 1200, 495, 375);
    row("ShapeALM(1)", "FrameALMStatus", 2640, 1200, 495, 375);
    row("ShapeALM(0)", "FrameALMStatus", 3480, 1200, 495, 375);
    row("Label3(4)", "FrameALMStatus", 120, 720, 735, 375);
    row("Label3(0)", "FrameALMStatus", 960, 480, 615, 615);
    row("Label3(5)", "FrameALMStatus", 1800, 480, 735, 615);
    row("Label3(6)", "FrameALMStatus", 2640, 480, 735, 615);
    row("Label3(7)", "FrameALMStatus", 3480, 480, 615, 615);
    // Drive Variables: first, a middle one and the right-most
    row("txtRG(1)", "FrameVariable", 120, 720, 975, 375);
    row("Label1(22)", "FrameVariable", 240, 360, 735, 375);
    row("txtRG(3)", "FrameVariable", 2280, 720, 975, 375);
    row("Label1(24)", "FrameVariable", 2400, 360, 615, 375);
    row("txtRG(7)", "FrameVariable", 6600, 720, 975, 375);
    row("Label1(28)", "FrameVariable", 6720, 360, 735, 375);
    // Oscilloscope
    row("chkBox(0)", "FrameScope(0)", 240, 600, 375, 375);
    row("Label1(37)", "FrameScope(0)", 120, 360, 735, 375);
    row("chkBox(5)", "FrameScope(0)", 4320, 600, 375, 375);
    row("Label1(32)", "FrameScope(0)", 4200, 360, 735, 375);
    row("chkBox(7)", "FrameScope(0)", 5760, 600, 375, 375);
    row("Label1(21)", "FrameScope(0)", 5640, 360, 735, 375);
    row("Label1(38)", "FrameScope(0)", 6600, 360, 1335, 375);
    row("listInterval", "FrameScope(0)", 6840, 720, 855, 300);
    row("cmdSetup", "FrameScope(0)", 8040, 360, 975, 735);
    row("cmdStart", "FrameScope(0)", 9120, 360, 1095, 735);
    row("cmdStop", "FrameScope(0)", 10320, 360, 975, 735);
    row("Shape1", "FrameScope(0)", 11520, 600, 255, 255);
    row("Graph1", "FrameScope(0)", 1440, 1320, 10000, 3200);
    row("Label5(0)", "FrameScope(0)", 120, 4500, 735, 375);
    row("Label5(2)", "FrameScope(0)", 120, 2900, 735, 375);
    row("Label5(4)", "FrameScope(0)", 120, 1300, 735, 375);
    row("Label6(0)", "FrameScope(0)", 1320, 4680, 375, 375);
    row("Label6(1)", "FrameScope(0)", 3200, 4680, 735, 375);
    row("Label6(5)", "FrameScope(0)", 11200, 4680, 735, 375);
    // Parameter Adjustment
    row("Label1(0)", "FrameParaAdj", 240, 360, 495, 375);
    row("txtKG(0)", "FrameParaAdj", 1200, 360, 975, 375);
    row("Label1(9)", "FrameParaAdj", 240, 2880, 495, 375);
    row("txtKG(7)", "FrameParaAdj", 1200, 2880, 975, 375);
    row("Label1(12)", "FrameParaAdj", 240, 3480, 735, 375);
    row("txtVG(0)", "FrameParaAdj", 1200, 3480, 975, 375);
    row("CF(16)", "FrameParaAdj", 240, 4920, 855, 375);
    row("txtVG(4)", "FrameParaAdj", 1200, 4920, 975, 375);
    row("Label1(1)", "FrameParaAdj", 240, 6720, 495, 375);
    row("Label1(3)", "FrameParaAdj", 240, 7080, 495, 375);
    row("txtVG(10)", "FrameParaAdj", 1200, 7080, 975, 375);
    row("LabelPOS(1)", "FrameParaAdj", 360, 7680, 495, 255);
    row("txtPOS(0)", "FrameParaAdj", 120, 7920, 1095, 375);
    row("LabelPOS(4)", "FrameParaAdj", 1560, 8280, 495, 255);
    row("txtPOS(3)", "FrameParaAdj", 1320, 8520, 1095, 375);
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
    QVERIFY(!w->isHidden());
}

void TstForm1Ui::lines_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QLine>("twips");
    QTest::newRow("Line2") << "Line2"
                           << "FrameMotion" << QLine(360, 840, 2160, 840);
    QTest::newRow("Line1") << "Line1"
                           << "FrameParaAdj" << QLine(120, 3360, 2160, 3360);
    QTest::newRow("Line3") << "Line3"
                           << "FrameParaAdj" << QLine(120, 7560, 2160, 7560);
}

void TstForm1Ui::lines()
{
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QLine, twips);
    auto *line = qobject_cast<LineShape *>(control(name));
    QVERIFY(line);
    QCOMPARE(line->parentWidget(), control(container));
    QCOMPARE(line->lineTwips(), twips);
    const QLine px(::twips(twips.x1()), ::twips(twips.y1()), ::twips(twips.x2()),
                   ::twips(twips.y2()));
    QCOMPARE(line->geometry(), QRect(px.p1(), px.p2()));
}

static QList<int> range(int first, int last)
{
    QList<int> r;
    for (int i = first; i <= last; ++i)
        r.append(i);
    return r;
}

void TstForm1Ui::arrayIndices_data()
{
    QTest::addColumn<QString>("array");
    QTest::addColumn<QList<int>>("indices");
    QTest::newRow("Label1") << "Label1"
                            << range(0, 9) + range(12, 15) + range(17, 28) + range(31, 40);
    QTest::newRow("CF") << "CF" << QList<int> { 16 };
    QTest::newRow("Label3") << "Label3" << QList<int> { 0, 1, 2 } + range(4, 7) + range(16, 22);
    QTest::newRow("Label5") << "Label5" << range(0, 4);
    QTest::newRow("Label6") << "Label6" << range(0, 5);
    QTest::newRow("Label7") << "Label7" << range(0, 1);
    QTest::newRow("LabelPOS") << "LabelPOS" << range(1, 6);
    QTest::newRow("Text1") << "Text1" << range(0, 1);
    QTest::newRow("txtRG") << "txtRG" << range(1, 7);
    QTest::newRow("txtKG") << "txtKG" << range(0, 7);
    QTest::newRow("txtVG") << "txtVG" << range(0, 10);
    QTest::newRow("txtPOS") << "txtPOS" << range(0, 5);
    QTest::newRow("chkBox") << "chkBox" << range(0, 7);
    QTest::newRow("lightDI") << "lightDI" << range(0, 4);
    QTest::newRow("lightDO") << "lightDO" << range(0, 3);
    QTest::newRow("ShapeALM") << "ShapeALM" << range(0, 4);
    QTest::newRow("FrameScope") << "FrameScope" << QList<int> { 0 };
}

void TstForm1Ui::arrayIndices()
{
    QFETCH(QString, array);
    QFETCH(QList<int>, indices);
    const Form1Ui &u = m_ui;
    const QHash<QString, QList<int>> actual = {
        { "Label1", u.Label1.indices() },         { "CF", u.CF.indices() },
        { "Label3", u.Label3.indices() },         { "Label5", u.Label5.indices() },
        { "Label6", u.Label6.indices() },         { "Label7", u.Label7.indices() },
        { "LabelPOS", u.LabelPOS.indices() },     { "Text1", u.Text1.indices() },
        { "txtRG", u.txtRG.indices() },           { "txtKG", u.txtKG.indices() },
        { "txtVG", u.txtVG.indices() },           { "txtPOS", u.txtPOS.indices() },
        { "chkBox", u.chkBox.indices() },         { "lightDI", u.lightDI.indices() },
        { "lightDO", u.lightDO.indices() },       { "ShapeALM", u.ShapeALM.indices() },
        { "FrameScope", u.FrameScope.indices() },
    };
    QVERIFY(actual.contains(array));
    QCOMPARE(actual.value(array), indices);
    // The gaps the spec names.
    if (array == QLatin1String("Label1")) {
        for (int gap : { 10, 11, 16, 29, 30 })
            QVERIFY(!u.Label1.contains(gap));
    }
    if (array == QLatin1String("txtRG"))
        QVERIFY(!u.txtRG.contains(0));
    if (array == QLatin1String("LabelPOS"))
        QVERIFY(!u.LabelPOS.contains(0));
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
    return QStringLiteral("<no caption>");
}

void TstForm1Ui::captions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    const QList<QPair<const char *, const char *>> rows = {
        { "Label4", "VCM Servo Drive Console" },
        { "Command1", "RESET" },
        { "Check_VCRR", "VCRR new" },
        { "Label9", "STATION" },
        { "CmdSelect", "Select" },
        { "FrameCommSetup", "Comm Port Setup" },
        { "FrameCmdSource", "Command" },
        { "FrameMotion", "Motion" },
        { "FrameDIOStatus", "DIO Status" },
        { "FrameALMStatus", "Alarm Status" },
        { "FrameVariable", "Drive Variables" },
        { "FrameScope(0)", "Oscilloscope" },
        { "FrameParaAdj", "Parameter Adjustment" },
        { "Label2", "VCM COM Port" },
        { "cmdCommStart", "Start" },
        { "cmdCommStop", "Stop" },
        { "CmdScan", "Scan drive" },
        { "Option1", "Pulse/Dir" },
        { "Option2", "DI2-Up/Down" },
        { "cmdSet", "Set" },
        { "CheckTrig", "Trig." },
        { "CheckContinuous", "Conti." },
        { "Label7(0)", "1st" },
        { "Label7(1)", "2nd" },
        { "cmdSetMotion", "Set Motion" },
        { "Label3(1)", "DI2" },
        { "Label3(19)", "DI1" },
        { "Label3(18)", "BTYPE" },
        { "Label3(17)", "BOND" },
        { "Label3(16)", "SVON" },
        { "Label3(2)", "DO1" },
        { "Label3(22)", "DO0" },
        { "Label3(21)", "INPOS" },
        { "Label3(20)", "DRDY" },
        { "Label1(39)", "DI" },
        { "Label1(40)", "DO" },
        { "Label3(4)", "EMS" },
        { "Label3(0)", "Pcmd over" },
        { "Label3(5)", "Sensor break" },
        { "Label3(6)", "Perr exceed" },
        { "Label3(7)", "Over Load" },
        { "Label1(22)", "PCMD" },
        { "Label1(23)", "PFBK" },
        { "Label1(24)", "PERR" },
        { "Label1(25)", "VCMD" },
        { "Label1(26)", "VFBK" },
        { "Label1(27)", "VERR" },
        { "Label1(28)", "ICMD" },
        { "Label1(37)", "PCMD" },
        { "Label1(36)", "PFBK" },
        { "Label1(35)", "PERR" },
        { "Label1(34)", "VCMD" },
        { "Label1(33)", "VFBK" },
        { "Label1(32)", "VERR" },
        { "Label1(31)", "ICMD" },
        { "Label1(21)", "DIO" },
        { "Label1(38)", "Interval (ms)" },
        { "cmdSetup", "Setup" },
        { "cmdStart", "Start" },
        { "cmdStop", "Stop" },
        { "Label1(0)", "KPP" },
        { "Label1(2)", "KFV" },
        { "Label1(4)", "KVP" },
        { "Label1(5)", "KVI" },
        { "Label1(6)", "KVV" },
        { "Label1(7)", "KFS" },
        { "Label1(8)", "KFD" },
        { "Label1(9)", "KGC" },
        { "Label1(12)", "VCW" },
        { "Label1(13)", "VIP" },
        { "Label1(14)", "VPX" },
        { "Label1(15)", "VT1" },
        { "CF(16)", "VCF2" },
        { "Label1(17)", "VSV" },
        { "Label1(18)", "VCF" },
        { "Label1(19)", "VPK" },
        { "Label1(20)", "VI2" },
        { "Label1(1)", "VAC" },
        { "Label1(3)", "VT2" },
        { "LabelPOS(1)", "UP0" },
        { "LabelPOS(2)", "UP1" },
        { "LabelPOS(3)", "DN0" },
        { "LabelPOS(4)", "DN1" },
        { "LabelPOS(5)", "TH0" },
        { "LabelPOS(6)", "TH1" },
        { "cmdRead", "LOAD" },
        { "CmdSave", "SAVE" },
        { "Label8", "0" },
        { "Label6(0)", "0" },
        { "listComPort", "4" },
        { "listInterval", "500" },
    };
    for (const auto &r : rows)
        QTest::newRow(r.first) << QString::fromLatin1(r.first) << QString::fromLatin1(r.second);
}

void TstForm1Ui::captions()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QWidget *w = control(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(captionOf(w), caption);
}

void TstForm1Ui::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("points"); // 0: the window's default font
    QTest::addColumn<bool>("italic");
    const auto row = [](const char *name, double points, bool italic = false) {
        QTest::newRow(name) << QString::fromLatin1(name) << points << italic;
    };
    row("Label4", 21.75, true);
    row("Command1", 0);
    row("Check_VCRR", 0);
    row("Label9", 9.75);
    row("Combo1", 0);
    row("CmdSelect", 12);
    row("FrameCommSetup", 14.25);
    row("FrameALMStatus", 14.25);
    row("FrameScope(0)", 14.25);
    row("FrameParaAdj", 12);
    row("Label2", 9.75);
    row("listComPort", 14.25);
    row("cmdCommStart", 12);
    row("Label8", 9.75);
    row("Option1", 12);
    row("CheckTrig", 12);
    row("Label7(0)", 9.75);
    row("Text1(0)", 0); // inside a 14.25 pt frame, still the default font
    row("Label3(1)", 9.75);
    row("Label3(2)", 12);
    row("Label1(39)", 12);
    row("Label3(5)", 9.75);
    row("Label1(22)", 12);
    row("txtRG(1)", 0);
    row("chkBox(0)", 0);
    row("Label1(37)", 9.75);
    row("Label1(38)", 12);
    row("listInterval", 0);
    row("cmdSetup", 12);
    row("Label5(0)", 0);
    row("Label6(1)", 0);
    row("Label1(0)", 12);
    row("CF(16)", 12);
    row("txtKG(0)", 0);
    row("LabelPOS(1)", 9.75);
    row("txtPOS(0)", 0);
    row("cmdRead", 14.25);
    row("CmdSave", 14.25);
}

void TstForm1Ui::fonts()
{
    QFETCH(QString, name);
    QFETCH(double, points);
    QFETCH(bool, italic);
    QWidget *w = control(name);
    QVERIFY2(w, qPrintable(name));
    const QFont expected = points > 0 ? tnrFont(points, italic) : defaultFormFont();
    const QFont font = w->font();
    QCOMPARE(font.family(), expected.family());
    QCOMPARE(font.pixelSize(), expected.pixelSize());
    QCOMPARE(font.bold(), expected.bold());
    QCOMPARE(font.italic(), expected.italic());
}

void TstForm1Ui::captionsAreNotClipped()
{
    for (auto it = m_controls.cbegin(); it != m_controls.cend(); ++it) {
        const QString &name = it.key();
        if (auto *l = qobject_cast<QLabel *>(it.value())) {
            if (l->text().isEmpty())
                continue;
            const QFontMetrics metrics(l->font());
            const QStringList words
                    = l->wordWrap() ? l->text().split(QLatin1Char(' ')) : QStringList { l->text() };
            for (const QString &word : words)
                QVERIFY2(metrics.horizontalAdvance(word) <= l->width(), qPrintable(name));
            const int lines = words.size();
            QVERIFY2(lines * metrics.height() <= l->height() + metrics.descent(), qPrintable(name));
        } else if (auto *b = qobject_cast<QAbstractButton *>(it.value())) {
            if (b->text().isEmpty())
                continue;
            const int needed = QFontMetrics(b->font()).horizontalAdvance(b->text());
            int available = b->width() - 4; // a push button's frame and margin
            if (!qobject_cast<QPushButton *>(b)) {
                QStyleOptionButton option;
                option.initFrom(b);
                option.text = b->text();
                const auto contents = qobject_cast<QRadioButton *>(b)
                        ? QStyle::SE_RadioButtonContents
                        : QStyle::SE_CheckBoxContents;
                available = b->style()->subElementRect(contents, &option, b).width();
            }
            QVERIFY2(
                    needed <= available,
                    qPrintable(QStringLiteral("%1: %2 > %3").arg(name).arg(needed).arg(available)));
        }
    }
}

void TstForm1Ui::alarmCaptionsWrap()
{
    for (int i : { 0, 5, 6, 7 })
        QVERIFY(m_ui.Label3[i]->wordWrap());
    QVERIFY(!m_ui.Label3[4]->wordWrap());
}

void TstForm1Ui::colours()
{
    const QColor blue(0, 0, 255);
    const QColor red(255, 0, 0);
    const QColor green(0, 255, 0);
    const QColor formText = m_form->palette().color(QPalette::Active, QPalette::WindowText);
    // Title band
    QCOMPARE(m_ui.Label4->palette().color(QPalette::Window), QColor(0, 0, 128));
    QCOMPARE(m_ui.Label4->palette().color(QPalette::WindowText), QColor(255, 255, 0));
    QVERIFY(m_ui.Label4->autoFillBackground());
    // Frame captions blue, "Alarm Status" red; their controls keep the window's text colour.
    for (QGroupBox *frame :
         { m_ui.FrameCommSetup, m_ui.FrameCmdSource, m_ui.FrameMotion, m_ui.FrameDIOStatus,
           m_ui.FrameVariable, m_ui.FrameScope[0], m_ui.FrameParaAdj })
        QCOMPARE(frame->palette().color(QPalette::WindowText), blue);
    QCOMPARE(m_ui.FrameALMStatus->palette().color(QPalette::WindowText), red);
    for (QWidget *child : std::initializer_list<QWidget *> {
                 m_ui.Label2, m_ui.Option1, m_ui.CheckTrig, m_ui.Label3[0], m_ui.Label3[1],
                 m_ui.Label1[22], m_ui.Label1[38], m_ui.Label1[0], m_ui.cmdRead })
        QCOMPARE(child->palette().color(QPalette::Active, QPalette::WindowText), formText);
    QCOMPARE(m_ui.txtRG[1]->palette().color(QPalette::Text),
             m_form->palette().color(QPalette::Text));
    QCOMPARE(m_ui.txtKG[0]->palette().color(QPalette::Text), QColor(0, 0, 0));
    // Lamps
    for (Lamp *lamp : m_ui.lightDI)
        QCOMPARE(lamp->fillColor(), green);
    for (Lamp *lamp : m_ui.lightDO)
        QCOMPARE(lamp->fillColor(), green);
    for (Lamp *lamp : m_ui.ShapeALM)
        QCOMPARE(lamp->fillColor(), green);
    QCOMPARE(m_ui.Shape1->fillColor(), red);
    // Plot area
    QCOMPARE(m_ui.Graph1->palette().color(QPalette::Window), QColor(0, 0, 0));
}

void TstForm1Ui::renderedColours()
{
    const QImage image = m_form->grab().toImage();
    const auto at = [this, &image](QWidget *w) {
        return image.pixelColor(w->mapTo(m_form, w->rect().center()));
    };
    QCOMPARE(at(m_ui.lightDI[4]), QColor(0, 255, 0));
    QCOMPARE(at(m_ui.lightDO[0]), QColor(0, 255, 0));
    QCOMPARE(at(m_ui.ShapeALM[2]), QColor(0, 255, 0));
    QCOMPARE(at(m_ui.Shape1), QColor(255, 0, 0));
    QCOMPARE(at(m_ui.Graph1), QColor(0, 0, 0));
    QCOMPARE(image.pixelColor(m_ui.Label4->mapTo(m_form, QPoint(m_ui.Label4->width() - 2, 2))),
             QColor(0, 0, 128));
    // Some pure blue in the top-left of the "Comm Port Setup" frame: its caption.
    const QRect captionArea(m_ui.FrameCommSetup->mapTo(m_form, QPoint(0, 0)),
                            QSize(m_ui.FrameCommSetup->width(), 24));
    int blue = 0;
    int red = 0;
    for (int y = captionArea.top(); y <= captionArea.bottom(); ++y) {
        for (int x = captionArea.left(); x <= captionArea.right(); ++x)
            blue += image.pixelColor(x, y) == QColor(0, 0, 255);
    }
    const QRect alarmArea(m_ui.FrameALMStatus->mapTo(m_form, QPoint(0, 0)),
                          QSize(m_ui.FrameALMStatus->width(), 24));
    for (int y = alarmArea.top(); y <= alarmArea.bottom(); ++y) {
        for (int x = alarmArea.left(); x <= alarmArea.right(); ++x)
            red += image.pixelColor(x, y) == QColor(255, 0, 0);
    }
    QVERIFY2(blue > 20, qPrintable(QString::number(blue)));
    QVERIFY2(red > 20, qPrintable(QString::number(red)));
}

void TstForm1Ui::designStates()
{
    QVERIFY(m_ui.Option1->isChecked());
    QVERIFY(!m_ui.Option2->isChecked());
    QVERIFY(m_ui.Check_VCRR->isChecked());
    QVERIFY(!m_ui.CheckTrig->isChecked());
    QVERIFY(!m_ui.CheckContinuous->isChecked());
    for (QCheckBox *box : m_ui.chkBox) {
        QVERIFY(!box->isChecked());
        QVERIFY(box->text().isEmpty());
    }
    QCOMPARE(m_ui.listComPort->text(), QStringLiteral("4"));

    QVERIFY(m_ui.listInterval->isEditable());
    QCOMPARE(m_ui.listInterval->count(), 5);
    const QStringList items = { "100", "200", "300", "400", "500" };
    for (int i = 0; i < items.size(); ++i)
        QCOMPARE(m_ui.listInterval->itemText(i), items[i]);
    QCOMPARE(m_ui.listInterval->currentText(), QStringLiteral("500"));

    QVERIFY(m_ui.Combo1->isEditable());
    QCOMPARE(m_ui.Combo1->count(), 0);
    QVERIFY(m_ui.Combo1->currentText().isEmpty());

    for (QPushButton *disabled : { m_ui.cmdSetup, m_ui.cmdStart, m_ui.cmdStop, m_ui.cmdRead })
        QVERIFY2(!disabled->isEnabled(), qPrintable(disabled->objectName()));
    for (QPushButton *enabled : { m_ui.CmdSave, m_ui.Command1, m_ui.CmdSelect, m_ui.cmdCommStart,
                                  m_ui.cmdCommStop, m_ui.CmdScan, m_ui.cmdSet, m_ui.cmdSetMotion })
        QVERIFY2(enabled->isEnabled(), qPrintable(enabled->objectName()));

    QVERIFY(m_ui.Graph1->displayList().isEmpty());
    QVERIFY(m_ui.Graph1->toolTip().isEmpty());
}

void TstForm1Ui::emptyTexts()
{
    for (const auto *array : { &m_ui.Text1, &m_ui.txtRG, &m_ui.txtKG, &m_ui.txtVG, &m_ui.txtPOS })
        for (QLineEdit *box : *array)
            QVERIFY2(box->text().isEmpty(), qPrintable(box->objectName()));
    for (QLabel *label : m_ui.Label5)
        QVERIFY(label->text().isEmpty());
    for (int k = 1; k <= 5; ++k)
        QVERIFY(m_ui.Label6[k]->text().isEmpty());
}

void TstForm1Ui::optionButtonsAreOneGroup()
{
    // Uses a window of its own, so the shared one keeps its design state.
    QWidget form;
    Form1Ui ui;
    ui.setupUi(&form);
    ui.Option2->setChecked(true);
    QVERIFY(!ui.Option1->isChecked());
    ui.Option1->setChecked(true);
    QVERIFY(!ui.Option2->isChecked());
}

void TstForm1Ui::timers()
{
    const QList<QPair<QTimer *, int>> timers = {
        { m_ui.Timer1, 0 },   { m_ui.Timer2, 100 }, { m_ui.Timer3, 100 },
        { m_ui.Timer4, 100 }, { m_ui.Timer5, 100 },
    };
    for (const auto &t : timers) {
        QVERIFY(t.first);
        QCOMPARE(t.first->interval(), t.second);
        QVERIFY(!t.first->isActive());
        QCOMPARE(t.first->parent(), m_form);
    }
}

QTEST_MAIN(TstForm1Ui)
#include "tst_form1ui.moc"
