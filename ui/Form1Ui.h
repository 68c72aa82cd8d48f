#pragma once

#include "ControlArray.h"

class GraphSurface;
class Lamp;
class LineShape;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class QWidget;

// The controls of the console window `Form1`, built like a Qt Designer
// `Ui_` class: members carry the window's own names and control arrays keep their given
// indices. setupUi places everything at the design's positions (twips, 15 per pixel),
// with the design's captions, fonts, colours and states. No signal is connected here.
class Form1Ui {
public:
    // Outside the frames
    QLabel *Label4 = nullptr; // product title band
    QPushButton *Command1 = nullptr; // "RESET"
    QCheckBox *Check_VCRR = nullptr; // "VCRR new"
    QLabel *Label9 = nullptr; // "STATION"
    QComboBox *Combo1 = nullptr; // station list
    QPushButton *CmdSelect = nullptr; // "Select"

    // "Comm Port Setup"
    QGroupBox *FrameCommSetup = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *listComPort = nullptr; // a text box despite its name
    QPushButton *cmdCommStart = nullptr;
    QPushButton *cmdCommStop = nullptr;
    QPushButton *CmdScan = nullptr;
    QLabel *Label8 = nullptr; // station being probed

    // "Command"
    QGroupBox *FrameCmdSource = nullptr;
    QRadioButton *Option1 = nullptr; // "Pulse/Dir"
    QRadioButton *Option2 = nullptr; // "DI2-Up/Down"
    QPushButton *cmdSet = nullptr;

    // "Motion"
    QGroupBox *FrameMotion = nullptr;
    QCheckBox *CheckTrig = nullptr;
    QCheckBox *CheckContinuous = nullptr;
    LineShape *Line2 = nullptr;
    ControlArray<QLabel> Label7 { "Label7" }; // 0, 1
    ControlArray<QLineEdit> Text1 { "Text1" }; // 0, 1
    QPushButton *cmdSetMotion = nullptr;

    // "DIO Status"
    QGroupBox *FrameDIOStatus = nullptr;
    ControlArray<Lamp> lightDI { "lightDI" }; // 0..4, 0 right-most
    ControlArray<Lamp> lightDO { "lightDO" }; // 0..3, 0 right-most

    // Labels whose members sit in several frames
    ControlArray<QLabel> Label3 { "Label3" }; // 0, 1, 2, 4..7, 16..22
    ControlArray<QLabel> Label1 { "Label1" }; // 0..9, 12..15, 17..28, 31..40

    // "Alarm Status"
    QGroupBox *FrameALMStatus = nullptr;
    ControlArray<Lamp> ShapeALM { "ShapeALM" }; // 0..4

    // "Drive Variables"
    QGroupBox *FrameVariable = nullptr;
    ControlArray<QLineEdit> txtRG { "txtRG" }; // 1..7

    // "Oscilloscope"
    ControlArray<QGroupBox> FrameScope { "FrameScope" }; // 0
    ControlArray<QCheckBox> chkBox { "chkBox" }; // 0..7
    QComboBox *listInterval = nullptr;
    QPushButton *cmdSetup = nullptr;
    QPushButton *cmdStart = nullptr;
    QPushButton *cmdStop = nullptr;
    Lamp *Shape1 = nullptr; // link activity lamp
    GraphSurface *Graph1 = nullptr;
    ControlArray<QLabel> Label5 { "Label5" }; // 0..4, value axis, 0 lowest
    ControlArray<QLabel> Label6 { "Label6" }; // 0..5, time axis

    // "Parameter Adjustment"
    QGroupBox *FrameParaAdj = nullptr;
    ControlArray<QLineEdit> txtKG { "txtKG" }; // 0..7 gains
    ControlArray<QLineEdit> txtVG { "txtVG" }; // 0..10 settings
    ControlArray<QLineEdit> txtPOS { "txtPOS" }; // 0..5 positions
    ControlArray<QLabel> LabelPOS { "LabelPOS" }; // 1..6
    ControlArray<QLabel> CF { "CF" }; // 16 only: "VCF2"
    LineShape *Line1 = nullptr;
    LineShape *Line3 = nullptr;
    QPushButton *cmdRead = nullptr; // "LOAD"
    QPushButton *CmdSave = nullptr; // "SAVE"

    // Window timers: intervals 0, 100, 100, 100, 100 ms; all stopped.
    QTimer *Timer1 = nullptr;
    QTimer *Timer2 = nullptr;
    QTimer *Timer3 = nullptr;
    QTimer *Timer4 = nullptr;
    QTimer *Timer5 = nullptr;

    // Longest text an edit box takes: a 16-bit value needs six characters, the rest is slack
    // for typing; the port box takes device paths.
    static constexpr int MaxValueChars = 12;
    static constexpr int MaxPortChars = 255;

    // The form's client area, in twips.
    static constexpr int ClientWidthTwips = 15045;
    static constexpr int ClientHeightTwips = 10290;

    void setupUi(QWidget *form);
};
