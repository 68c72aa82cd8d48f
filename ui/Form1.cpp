#include "Form1.h"

#include "Lamp.h"
#include "MessageSink.h"
#include "SerialPort.h"
#include "VbStyle.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QTimer>

Form1::Form1(SerialPort &port, Clock &clock, MessageSink &messages, const QString &comPortText,
             QWidget *parent)
    : QWidget(parent), MSComm1(port), m_messages(messages), m_comm(port, clock)
{
    setupUi(this);
    listComPort->setText(comPortText);
    wireHandlers();
    Form_Load();
}

Form1::~Form1()
{
    Form_Terminate();
}

void Form1::wireHandlers()
{
    connect(cmdCommStart, &QPushButton::clicked, this, &Form1::cmdCommStart_Click);
    connect(cmdCommStop, &QPushButton::clicked, this, &Form1::cmdCommStop_Click);
    connect(cmdSetup, &QPushButton::clicked, this, &Form1::cmdSetup_Click);
    connect(cmdSet, &QPushButton::clicked, this, &Form1::cmdSet_Click);
    connect(CmdSave, &QPushButton::clicked, this, &Form1::CmdSave_Click);
    connect(cmdRead, &QPushButton::clicked, this, &Form1::cmdRead_Click);
    connect(CmdScan, &QPushButton::clicked, this, &Form1::CmdScan_Click);
    connect(CmdSelect, &QPushButton::clicked, this, &Form1::CmdSelect_Click);
    connect(cmdStart, &QPushButton::clicked, this, &Form1::cmdStart_Click);
    connect(cmdStop, &QPushButton::clicked, this, &Form1::cmdStop_Click);

    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);
    connect(Timer3, &QTimer::timeout, this, &Form1::Timer3_Timer);
    connect(Timer4, &QTimer::timeout, this, &Form1::Timer4_Timer);
    connect(Timer5, &QTimer::timeout, this, &Form1::Timer5_Timer);
}

void Form1::Form_Load()
{
    FirstChannel = 10;

    cmdCommStart->setEnabled(true);
    cmdCommStop->setEnabled(false);
    CmdScan->setEnabled(false);
    CmdSelect->setEnabled(false);

    FrameCmdSource->setEnabled(false);
    cmdSet->setEnabled(false);
    FrameParaAdj->setEnabled(false);
    cmdRead->setEnabled(false);
    CmdSave->setEnabled(false);
    FrameScope[0]->setEnabled(false);
    cmdStart->setEnabled(false);
    cmdStop->setEnabled(false);
    cmdSetup->setEnabled(false);
    FrameMotion->setEnabled(false);
    cmdSetMotion->setEnabled(false);

    Timer1->stop();
    Timer2->stop();
    Timer3->stop();
    Timer4->stop();
    Timer5->stop();

    ScopeRunning = false;
    DriveNotReady = false;
    PollIdle = true;
    m_comm.CommDone = true;

    RxValue.clear();
    m_comm.RxBuffer.clear();

    CheckContinuous->setChecked(false);
    CheckTrig->setChecked(false);

    Text1[0]->setText(QStringLiteral("2000"));
    Text1[1]->setText(QStringLiteral("10000"));

    Shape1->setFillColor(vbColor(0x008000));
}

void Form1::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void Form1::Timer2_Timer()
{
    Timer2->stop();
}

void Form1::Timer3_Timer()
{
    Timer3->stop();
}

void Form1::Timer4_Timer()
{
    Timer4->stop();
}
