#include "Form1Ui.h"

#include "ClassicFrame.h"
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
#include <QTimer>
#include <QWidget>

namespace {

// Design colours, &H00BBGGRR&.
constexpr quint32 Navy = 0x00800000;
constexpr quint32 Yellow = 0x0000FFFF;
constexpr quint32 Blue = 0x00FF0000;
constexpr quint32 Red = 0x000000FF;
constexpr quint32 Green = 0x0000FF00;
constexpr quint32 Black = 0x00000000;

// Caption font sizes of the design, in points.
constexpr double DefaultFont = 0; // no font entry: the window's default font
constexpr double Pt975 = 9.75;
constexpr double Pt12 = 12;
constexpr double Pt1425 = 14.25;

// Narrows a caption's font just enough that its longest line fits `available` pixels.
// Times New Roman (and its metric twin Liberation Serif) at the design's sizes is a few
// pixels wider than some of the design's boxes ("KVV", "PERR", "DI2-Up/Down"); squeezing the
// letters keeps the design's geometry and shows the whole caption.
void fitCaption(QWidget *w, const QString &text, int available, bool wrap)
{
    constexpr int MinStretch = 75;
    const QStringList parts = wrap ? text.split(QLatin1Char(' ')) : QStringList { text };
    const auto widest = [&parts](const QFont &font) {
        const QFontMetrics metrics(font);
        int widest = 0;
        for (const QString &part : parts)
            widest = qMax(widest, metrics.horizontalAdvance(part));
        return widest;
    };
    QFont font = w->font();
    const int needed = widest(font);
    if (available <= 0 || needed <= available)
        return;
    for (int stretch = qMax(MinStretch, 100 * available / needed); stretch >= MinStretch;
         --stretch) {
        font.setStretch(stretch);
        if (widest(font) <= available)
            break;
    }
    w->setFont(font);
}

// Width left for the caption of a check box or option button beside its indicator.
int captionWidth(QAbstractButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QStyle::SubElement contents = qobject_cast<QRadioButton *>(button)
        ? QStyle::SE_RadioButtonContents
        : QStyle::SE_CheckBoxContents;
    return button->style()->subElementRect(contents, &option, button).width();
}

QString arrayName(const char *array, int index)
{
    return QStringLiteral("%1(%2)").arg(QLatin1String(array)).arg(index);
}

// Creates the controls. A Qt child inherits its parent's font and palette, a VB control
// does not inherit its frame's caption font and colour: every control therefore gets its
// font and its text colours set explicitly.
class Builder final {
public:
    explicit Builder(QWidget *form) : m_font(defaultFormFont())
    {
        form->setFont(m_font);
        m_palette = form->palette();
    }

    template<class W>
    W *make(QWidget *parent, const QString &name, QRect twipsGeometry, double points = DefaultFont)
    {
        auto *w = new W(parent);
        w->setObjectName(name);
        w->setGeometry(twipsGeometry);
        w->setFont(points > 0 ? tnrFont(points) : m_font);
        if (qobject_cast<QGroupBox *>(parent))
            detachPalette(w);
        return w;
    }

    QLabel *label(QWidget *parent, const QString &name, const QString &text, QRect geometry,
                  double points, bool wrap = false)
    {
        auto *l = make<QLabel>(parent, name, geometry, points);
        l->setText(text);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop); // VB's label default
        l->setWordWrap(wrap);
        fitCaption(l, text, geometry.width(), wrap);
        l->lower(); // labels, lamps and lines lie under the windowed controls, as in VB
        return l;
    }

    // A check box or option button with a caption.
    template<class W>
    W *choice(QWidget *parent, const QString &name, const QString &text, QRect geometry,
              double points)
    {
        auto *w = make<W>(parent, name, geometry, points);
        w->setText(text);
        fitCaption(w, text, captionWidth(w), false);
        return w;
    }

    QPushButton *button(QWidget *parent, const QString &name, const QString &text, QRect geometry,
                        double points)
    {
        auto *b = make<QPushButton>(parent, name, geometry, points);
        b->setText(text);
        b->setAutoDefault(false);
        return b;
    }

    QLineEdit *textBox(QWidget *parent, const QString &name, QRect geometry,
                       double points = DefaultFont)
    {
        auto *box = make<QLineEdit>(parent, name, geometry, points);
        box->setMaxLength(Form1Ui::MaxValueChars);
        return box;
    }

    Lamp *lamp(QWidget *parent, const QString &name, QRect geometry, quint32 color)
    {
        auto *l = make<Lamp>(parent, name, geometry);
        l->setFillColor(vbColor(color));
        l->lower();
        return l;
    }

    LineShape *line(QWidget *parent, const QString &name, int x1, int y1, int x2, int y2)
    {
        auto *l = new LineShape(parent);
        l->setObjectName(name);
        detachPalette(l);
        l->setLine(x1, y1, x2, y2);
        l->lower();
        return l;
    }

    QGroupBox *frame(QWidget *parent, const QString &name, const QString &caption, QRect geometry,
                     double points, quint32 captionColor)
    {
        auto *f = make<ClassicFrame>(parent, name, geometry, points);
        f->setTitle(caption);
        f->setAlignment(Qt::AlignLeft);
        setForeColor(f, vbColor(captionColor));
        return f;
    }

private:
    // Text colours back to the window's own, over the frame's caption colour.
    void detachPalette(QWidget *w) const
    {
        QPalette p = w->palette();
        for (const auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
            for (const auto role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
                p.setColor(group, role, m_palette.color(group, role));
        }
        w->setPalette(p);
    }

    QFont m_font;
    QPalette m_palette;
};

QTimer *timer(QWidget *form, const char *name, int interval)
{
    auto *t = new QTimer(form);
    t->setObjectName(QLatin1String(name));
    t->setInterval(interval);
    return t;
}

} // namespace

void Form1Ui::setupUi(QWidget *form)
{
    Q_ASSERT(form);
    if (form->objectName().isEmpty())
        form->setObjectName(QStringLiteral("Form1"));
    form->setWindowTitle(QStringLiteral("Korvane"));
    form->setFixedSize(twips(ClientWidthTwips), twips(ClientHeightTwips));

    Builder b(form);
    const auto R = twipsRect;

    // The eight frames first, so that the loose controls lie above their edges.
    FrameCommSetup
        = b.frame(form, QStringLiteral("FrameCommSetup"), QStringLiteral("Comm Port Setup"),
                  R(120, 840, 2895, 1815), Pt1425, Blue);
    FrameCmdSource = b.frame(form, QStringLiteral("FrameCmdSource"), QStringLiteral("Command"),
                             R(3120, 840, 2055, 2535), Pt1425, Blue);
    FrameMotion = b.frame(form, QStringLiteral("FrameMotion"), QStringLiteral("Motion"),
                          R(5280, 840, 2535, 2535), Pt1425, Blue);
    FrameDIOStatus = b.frame(form, QStringLiteral("FrameDIOStatus"), QStringLiteral("DIO Status"),
                             R(7920, 480, 4215, 2175), Pt1425, Blue);
    FrameALMStatus = b.frame(form, QStringLiteral("FrameALMStatus"), QStringLiteral("Alarm Status"),
                             R(7920, 2760, 4215, 1935), Pt1425, Red);
    FrameVariable
        = b.frame(form, QStringLiteral("FrameVariable"), QStringLiteral("Drive Variables"),
                  R(120, 3360, 7695, 1335), Pt1425, Blue);
    FrameScope.insert(0,
                      b.frame(form, arrayName("FrameScope", 0), QStringLiteral("Oscilloscope"),
                              R(120, 4800, 12015, 5295), Pt1425, Blue));
    FrameParaAdj
        = b.frame(form, QStringLiteral("FrameParaAdj"), QStringLiteral("Parameter Adjustment"),
                  R(12240, 120, 2535, 9975), Pt12, Blue);

    // Outside the frames.
    Label4 = b.label(form, QStringLiteral("Label4"), QStringLiteral("VCM Servo Drive Console"),
                     R(240, 120, 7575, 615), DefaultFont);
    Label4->setFont(tnrFont(21.75, true));
    setBackColor(Label4, vbColor(Navy));
    setForeColor(Label4, vbColor(Yellow));
    Command1 = b.button(form, QStringLiteral("Command1"), QStringLiteral("RESET"),
                        R(7920, 120, 1335, 375), DefaultFont);
    Check_VCRR = b.choice<QCheckBox>(form, QStringLiteral("Check_VCRR"), QStringLiteral("VCRR new"),
                                     R(9480, 120, 1695, 375), DefaultFont);
    Check_VCRR->setChecked(true);
    Label9 = b.label(form, QStringLiteral("Label9"), QStringLiteral("STATION"),
                     R(240, 2880, 975, 255), Pt975);
    Combo1 = b.make<QComboBox>(form, QStringLiteral("Combo1"), R(1320, 2880, 735, 300));
    Combo1->setEditable(true);
    Combo1->lineEdit()->setMaxLength(MaxValueChars);
    CmdSelect = b.button(form, QStringLiteral("CmdSelect"), QStringLiteral("Select"),
                         R(2160, 2880, 855, 375), Pt12);

    // "Comm Port Setup"
    QWidget *f = FrameCommSetup;
    Label2 = b.label(f, QStringLiteral("Label2"), QStringLiteral("VCM COM Port"),
                     R(120, 480, 1815, 375), Pt975);
    listComPort = b.textBox(f, QStringLiteral("listComPort"), R(1680, 360, 735, 375), Pt1425);
    listComPort->setMaxLength(MaxPortChars);
    listComPort->setText(QStringLiteral("4"));
    cmdCommStart = b.button(f, QStringLiteral("cmdCommStart"), QStringLiteral("Start"),
                            R(240, 840, 975, 375), Pt12);
    cmdCommStop = b.button(f, QStringLiteral("cmdCommStop"), QStringLiteral("Stop"),
                           R(1560, 840, 975, 375), Pt12);
    CmdScan = b.button(f, QStringLiteral("CmdScan"), QStringLiteral("Scan drive"),
                       R(240, 1320, 1575, 375), Pt12);
    Label8
        = b.label(f, QStringLiteral("Label8"), QStringLiteral("0"), R(2280, 1440, 375, 255), Pt975);

    // "Command": the frame makes the two option buttons one exclusive group.
    f = FrameCmdSource;
    Option1 = b.choice<QRadioButton>(f, QStringLiteral("Option1"), QStringLiteral("Pulse/Dir"),
                                     R(120, 480, 1815, 495), Pt12);
    Option1->setChecked(true);
    Option2 = b.choice<QRadioButton>(f, QStringLiteral("Option2"), QStringLiteral("DI2-Up/Down"),
                                     R(120, 960, 1695, 495), Pt12);
    cmdSet = b.button(f, QStringLiteral("cmdSet"), QStringLiteral("Set"), R(600, 1560, 975, 615),
                      Pt12);

    // "Motion"
    f = FrameMotion;
    CheckTrig = b.choice<QCheckBox>(f, QStringLiteral("CheckTrig"), QStringLiteral("Trig."),
                                    R(120, 480, 855, 255), Pt12);
    CheckContinuous = b.choice<QCheckBox>(f, QStringLiteral("CheckContinuous"),
                                          QStringLiteral("Conti."), R(1200, 480, 975, 285), Pt12);
    Line2 = b.line(f, QStringLiteral("Line2"), 360, 840, 2160, 840);
    Label7.insert(
        0, b.label(f, arrayName("Label7", 0), QStringLiteral("1st"), R(480, 960, 375, 255), Pt975));
    Label7.insert(
        1,
        b.label(f, arrayName("Label7", 1), QStringLiteral("2nd"), R(1560, 960, 375, 255), Pt975));
    Text1.insert(0, b.textBox(f, arrayName("Text1", 0), R(120, 1320, 1095, 375)));
    Text1.insert(1, b.textBox(f, arrayName("Text1", 1), R(1320, 1320, 1095, 375)));
    cmdSetMotion = b.button(f, QStringLiteral("cmdSetMotion"), QStringLiteral("Set Motion"),
                            R(600, 1800, 1335, 495), Pt12);

    // "DIO Status": two rows of lamps, each under its caption; index 0 is the right-most.
    f = FrameDIOStatus;
    struct LampRow {
        int lamp;
        int lampLeft;
        int caption;
        const char *text;
        int captionLeft;
        int captionWidth;
    };
    static constexpr LampRow Inputs[] = {
        { 4, 720, 1, "DI2", 720, 495 },      { 3, 1440, 19, "DI1", 1440, 495 },
        { 2, 2160, 18, "BTYPE", 2040, 735 }, { 1, 2880, 17, "BOND", 2760, 735 },
        { 0, 3480, 16, "SVON", 3480, 735 },
    };
    for (const LampRow &row : Inputs) {
        Label3.insert(row.caption,
                      b.label(f, arrayName("Label3", row.caption), QLatin1String(row.text),
                              R(row.captionLeft, 360, row.captionWidth, 375), Pt975));
        lightDI.insert(
            row.lamp,
            b.lamp(f, arrayName("lightDI", row.lamp), R(row.lampLeft, 720, 375, 375), Green));
    }
    static constexpr LampRow Outputs[] = {
        { 3, 720, 2, "DO1", 720, 615 },
        { 2, 1560, 22, "DO0", 1560, 615 },
        { 1, 2400, 21, "INPOS", 2280, 855 },
        { 0, 3360, 20, "DRDY", 3240, 855 },
    };
    for (const LampRow &row : Outputs) {
        Label3.insert(row.caption,
                      b.label(f, arrayName("Label3", row.caption), QLatin1String(row.text),
                              R(row.captionLeft, 1320, row.captionWidth, 375), Pt12));
        lightDO.insert(
            row.lamp,
            b.lamp(f, arrayName("lightDO", row.lamp), R(row.lampLeft, 1680, 495, 375), Green));
    }
    Label1.insert(
        39, b.label(f, arrayName("Label1", 39), QStringLiteral("DI"), R(120, 720, 495, 375), Pt12));
    Label1.insert(
        40,
        b.label(f, arrayName("Label1", 40), QStringLiteral("DO"), R(120, 1680, 495, 375), Pt12));

    // "Alarm Status": the 615-high captions wrap onto two lines.
    f = FrameALMStatus;
    struct AlarmLamp {
        int lamp;
        int left;
        int caption;
        const char *text;
        int captionTop;
        int captionWidth;
        int captionHeight;
    };
    static constexpr AlarmLamp Alarms[] = {
        { 4, 120, 4, "EMS", 720, 735, 375 },           { 3, 960, 0, "Pcmd over", 480, 615, 615 },
        { 2, 1800, 5, "Sensor break", 480, 735, 615 }, { 1, 2640, 6, "Perr exceed", 480, 735, 615 },
        { 0, 3480, 7, "Over Load", 480, 615, 615 },
    };
    for (const AlarmLamp &a : Alarms) {
        Label3.insert(a.caption,
                      b.label(f, arrayName("Label3", a.caption), QLatin1String(a.text),
                              R(a.left, a.captionTop, a.captionWidth, a.captionHeight), Pt975,
                              a.captionHeight > 375));
        ShapeALM.insert(a.lamp,
                        b.lamp(f, arrayName("ShapeALM", a.lamp), R(a.left, 1200, 495, 375), Green));
    }

    // "Drive Variables": read-outs txtRG(1..7) under their captions Label1(22..28).
    f = FrameVariable;
    struct Readout {
        int labelLeft;
        int labelWidth;
        const char *text;
    };
    static constexpr Readout Variables[] = {
        { 240, 735, "PCMD" },  { 1320, 615, "PFBK" }, { 2400, 615, "PERR" }, { 3480, 735, "VCMD" },
        { 4560, 735, "VFBK" }, { 5640, 735, "VERR" }, { 6720, 735, "ICMD" },
    };
    for (int i = 0; i < 7; ++i) {
        const Readout &v = Variables[i];
        Label1.insert(22 + i,
                      b.label(f, arrayName("Label1", 22 + i), QLatin1String(v.text),
                              R(v.labelLeft, 360, v.labelWidth, 375), Pt12));
        txtRG.insert(1 + i,
                     b.textBox(f, arrayName("txtRG", 1 + i), R(120 + 1080 * i, 720, 975, 375)));
    }

    // "Oscilloscope"
    f = FrameScope[0];
    struct Channel {
        int boxLeft;
        int label;
        const char *text;
        int labelLeft;
        int labelWidth;
    };
    static constexpr Channel Channels[] = {
        { 240, 37, "PCMD", 120, 735 },   { 1080, 36, "PFBK", 960, 615 },
        { 1920, 35, "PERR", 1800, 615 }, { 2760, 34, "VCMD", 2640, 735 },
        { 3600, 33, "VFBK", 3480, 735 }, { 4320, 32, "VERR", 4200, 735 },
        { 5040, 31, "ICMD", 4920, 735 }, { 5760, 21, "DIO", 5640, 735 },
    };
    for (int i = 0; i < 8; ++i) {
        const Channel &c = Channels[i];
        Label1.insert(c.label,
                      b.label(f, arrayName("Label1", c.label), QLatin1String(c.text),
                              R(c.labelLeft, 360, c.labelWidth, 375), Pt975));
        chkBox.insert(i, b.make<QCheckBox>(f, arrayName("chkBox", i), R(c.boxLeft, 600, 375, 375)));
    }
    Label1.insert(38,
                  b.label(f, arrayName("Label1", 38), QStringLiteral("Interval (ms)"),
                          R(6600, 360, 1335, 375), Pt12));
    listInterval = b.make<QComboBox>(f, QStringLiteral("listInterval"), R(6840, 720, 855, 300));
    listInterval->setEditable(true);
    listInterval->lineEdit()->setMaxLength(MaxValueChars);
    listInterval->addItems({ QStringLiteral("100"), QStringLiteral("200"), QStringLiteral("300"),
                             QStringLiteral("400"), QStringLiteral("500") });
    listInterval->setCurrentIndex(4);
    cmdSetup = b.button(f, QStringLiteral("cmdSetup"), QStringLiteral("Setup"),
                        R(8040, 360, 975, 735), Pt12);
    cmdStart = b.button(f, QStringLiteral("cmdStart"), QStringLiteral("Start"),
                        R(9120, 360, 1095, 735), Pt12);
    cmdStop = b.button(f, QStringLiteral("cmdStop"), QStringLiteral("Stop"),
                       R(10320, 360, 975, 735), Pt12);
    for (QPushButton *button : { cmdSetup, cmdStart, cmdStop })
        button->setEnabled(false);
    Shape1 = b.lamp(f, QStringLiteral("Shape1"), R(11520, 600, 255, 255), Red);
    Graph1 = b.make<GraphSurface>(f, QStringLiteral("Graph1"), R(1440, 1320, 10000, 3200));
    setBackColor(Graph1, vbColor(Black));
    for (int k = 0; k < 5; ++k) // bottom edge, three quarter lines, top edge; 0 lowest
        Label5.insert(k,
                      b.label(f, arrayName("Label5", k), QString(),
                              R(120, 4500 - 800 * k, 735, 375), DefaultFont));
    Label6.insert(0,
                  b.label(f, arrayName("Label6", 0), QStringLiteral("0"), R(1320, 4680, 375, 375),
                          DefaultFont));
    for (int k = 1; k <= 5; ++k) // under the plot's fifth-marks
        Label6.insert(k,
                      b.label(f, arrayName("Label6", k), QString(),
                              R(1200 + 2000 * k, 4680, 735, 375), DefaultFont));

    // "Parameter Adjustment"
    f = FrameParaAdj;
    struct Parameter {
        int label;
        const char *text;
        int labelWidth;
    };
    static constexpr Parameter Gains[] = {
        { 0, "KPP", 495 }, { 2, "KFV", 495 }, { 4, "KVP", 495 }, { 5, "KVI", 495 },
        { 6, "KVV", 495 }, { 7, "KFS", 495 }, { 8, "KFD", 495 }, { 9, "KGC", 495 },
    };
    for (int i = 0; i < 8; ++i) {
        const int top = 360 + 360 * i;
        Label1.insert(Gains[i].label,
                      b.label(f, arrayName("Label1", Gains[i].label), QLatin1String(Gains[i].text),
                              R(240, top, Gains[i].labelWidth, 375), Pt12));
        txtKG.insert(i, b.textBox(f, arrayName("txtKG", i), R(1200, top, 975, 375)));
    }
    // Only txtKG(0) has its text colour set in the design (black, the default anyway).
    setForeColor(txtKG[0], vbColor(Black));
    Line1 = b.line(f, QStringLiteral("Line1"), 120, 3360, 2160, 3360);

    // Settings; index 4's caption is the one-member array CF(16).
    static constexpr Parameter Settings[] = {
        { 12, "VCW", 735 },  { 13, "VIP", 495 }, { 14, "VPX", 495 }, { 15, "VT1", 495 },
        { 16, "VCF2", 855 }, { 17, "VSV", 495 }, { 18, "VCF", 495 }, { 19, "VPK", 495 },
        { 20, "VI2", 495 },  { 1, "VAC", 495 },  { 3, "VT2", 495 },
    };
    for (int i = 0; i < 11; ++i) {
        const int top = 3480 + 360 * i;
        const Parameter &s = Settings[i];
        const bool isCF = i == 4;
        QLabel *caption = b.label(f, arrayName(isCF ? "CF" : "Label1", s.label),
                                  QLatin1String(s.text), R(240, top, s.labelWidth, 375), Pt12);
        (isCF ? CF : Label1).insert(s.label, caption);
        txtVG.insert(i, b.textBox(f, arrayName("txtVG", i), R(1200, top, 975, 375)));
    }
    Line3 = b.line(f, QStringLiteral("Line3"), 120, 7560, 2160, 7560);

    // Positions: two columns, each box under a small label 240 above it.
    static constexpr const char *Positions[] = { "UP0", "UP1", "DN0", "DN1", "TH0", "TH1" };
    for (int i = 0; i < 6; ++i) {
        const int top = 7920 + 600 * (i / 2);
        const bool right = i % 2 == 1;
        LabelPOS.insert(i + 1,
                        b.label(f, arrayName("LabelPOS", i + 1), QLatin1String(Positions[i]),
                                R(right ? 1560 : 360, top - 240, 495, 255), Pt975));
        txtPOS.insert(i,
                      b.textBox(f, arrayName("txtPOS", i), R(right ? 1320 : 120, top, 1095, 375)));
    }
    cmdRead = b.button(f, QStringLiteral("cmdRead"), QStringLiteral("LOAD"),
                       R(120, 9480, 1095, 495), Pt1425);
    cmdRead->setEnabled(false);
    CmdSave = b.button(f, QStringLiteral("CmdSave"), QStringLiteral("SAVE"),
                       R(1440, 9480, 975, 495), Pt1425);

    // Timers: Timer1's interval is set by code; the others tick every 100 ms when enabled.
    // The design enables them, but start-up disables all five before the window is shown,
    // so they are left stopped here.
    Timer1 = timer(form, "Timer1", 0);
    Timer2 = timer(form, "Timer2", 100);
    Timer3 = timer(form, "Timer3", 100);
    Timer4 = timer(form, "Timer4", 100);
    Timer5 = timer(form, "Timer5", 100);
}
