#include "Form1.h"

#include "GraphSurface.h"
#include "Lamp.h"
#include "MessageSink.h"
#include "PortName.h"
#include "SerialPort.h"
#include "VbStyle.h"

#include <QCloseEvent>
#include <QCompleter>
#include <QKeyEvent>
#include <QPushButton>
#include <QStringListModel>
#include <QTimer>

Form1::Form1(SerialPort &port, Clock &clock, MessageSink &messages, const QString &comPortText,
             QWidget *parent)
    : QWidget(parent), MSComm1(port), m_messages(messages), m_comm(port, clock)
{
    setupUi(this);
    listComPort->setText(comPortText);
    // Offers the ports the system reports; any other text can still be typed.
    m_portCompleter = new QCompleter(this);
    m_portCompleter->setModel(new QStringListModel(m_portCompleter));
    m_portCompleter->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    listComPort->setCompleter(m_portCompleter);
    listComPort->installEventFilter(this);
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

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(cmdSetMotion, &QPushButton::clicked, this, &Form1::cmdSetMotion_Click);

    for (int i : chkBox.indices())
        connect(chkBox[i], &QCheckBox::clicked, this,
                [this, i] { chkBox_Click(static_cast<std::int16_t>(i)); });
    Graph1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Graph1, &QWidget::customContextMenuRequested, this, &Form1::showPlotMenu);

    for (const ParameterBox &box : ParameterMap::loadOrder()) {
        QLineEdit *edit = parameterBox(box.array, box.index);
        m_parameterBoxes.insert(edit, box);
        edit->installEventFilter(this);
    }

    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);
    connect(Timer3, &QTimer::timeout, this, &Form1::Timer3_Timer);
    connect(Timer4, &QTimer::timeout, this, &Form1::Timer4_Timer);
    connect(Timer5, &QTimer::timeout, this, &Form1::Timer5_Timer);
}

void Form1::Form_Load()
{
    FirstChannel = 10;

    showDisconnected();
    stopTimers();

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

void Form1::showDisconnected()
{
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
}

void Form1::stopTimers()
{
    Timer1->stop();
    Timer2->stop();
    Timer3->stop();
    Timer4->stop();
    Timer5->stop();
}

void Form1::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == listComPort && event->type() == QEvent::FocusIn) {
        // Adapters come and go: ask the system each time the box is entered.
        static_cast<QStringListModel *>(m_portCompleter->model())->setStringList(systemPortNames());
        return QWidget::eventFilter(watched, event);
    }
    if (event->type() == QEvent::KeyPress) {
        const auto it = m_parameterBoxes.constFind(watched);
        if (it != m_parameterBoxes.cend()) {
            const auto *key = static_cast<QKeyEvent *>(event);
            std::int16_t keyAscii = 0;
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
                keyAscii = 13;
            else if (!key->text().isEmpty())
                keyAscii = static_cast<std::int16_t>(key->text().at(0).unicode());
            // Keys that type nothing (arrows, shift) are no key press to the handlers.
            if (keyAscii != 0) {
                const auto index = static_cast<std::int16_t>(it->index);
                switch (it->array) {
                case BoxArray::KG:
                    txtKG_KeyPress(index, keyAscii);
                    break;
                case BoxArray::VG:
                    txtVG_KeyPress(index, keyAscii);
                    break;
                case BoxArray::POS:
                    txtPOS_KeyPress(index, keyAscii);
                    break;
                }
            }
        }
    }
    // The key still reaches the box.
    return QWidget::eventFilter(watched, event);
}
