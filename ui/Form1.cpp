#include "Form1.h"

#include "GraphSurface.h"
#include "Lamp.h"
#include "MessageSink.h"
#include "PortName.h"
#include "SerialPort.h"
#include "VbStyle.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace {
// Remembers the press that closed a popup outside it, and delivers it where it was meant to go.
class ClickThrough final : public QObject {
public:
    explicit ClickThrough(QWidget &popup) { popup.installEventFilter(this); }

    void replay()
    {
        QWidget *target = m_pressed ? QApplication::widgetAt(m_at) : nullptr;
        if (!target || !target->isEnabled())
            return;
        const QPointF local = target->mapFromGlobal(m_at);
        for (const QEvent::Type type : { QEvent::MouseButtonPress, QEvent::MouseButtonRelease }) {
            QCoreApplication::postEvent(
                target,
                new QMouseEvent(type, local, local, QPointF(m_at), Qt::LeftButton,
                                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                Qt::NoModifier));
        }
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonPress) {
            const auto *press = static_cast<QMouseEvent *>(event);
            auto *popup = static_cast<QWidget *>(watched);
            if (press->button() == Qt::LeftButton
                && !popup->rect().contains(press->position().toPoint())) {
                m_pressed = true;
                m_at = press->globalPosition().toPoint();
            }
        }
        return false;
    }

private:
    bool m_pressed = false;
    QPoint m_at;
};

const QString PortListTitle = QStringLiteral("Serial ports of this computer");

// The system's ports as entries of `menu`, none cut short, and the list at least as wide as
// the box it fills.
void addPortNames(QMenu &menu, int minimumWidth)
{
    // Adapters come and go: ask the system each time.
    const QStringList names = systemPortNames();
    for (const QString &name : names)
        menu.addAction(name);
    if (names.isEmpty())
        menu.addAction(QStringLiteral("No serial ports found"))->setEnabled(false);
    menu.setMinimumWidth(std::max(minimumWidth, menu.sizeHint().width()));
}
} // namespace

Form1::Form1(SerialPort &port, Clock &clock, MessageSink &messages, const QString &comPortText,
             QWidget *parent)
    : Form1(std::make_unique<DriveLine>(port, clock), messages, comPortText, parent)
{
}

Form1::Form1(std::unique_ptr<DriveLine> line, MessageSink &messages, const QString &comPortText,
             QWidget *parent)
    : QWidget(parent),
      m_messages(messages),
      m_line(std::move(line)),
      m_gate(*this),
      m_qtFileDialogs(std::make_unique<QtFileDialogs>(this)),
      m_fileDialogs(m_qtFileDialogs.get())
{
    setupUi(this);
    // The whole text, also when a long path scrolls out of the box, and where the list is.
    connect(listComPort, &QLineEdit::textChanged, listComPort, [this](const QString &text) {
        listComPort->setToolTip(
            text + QStringLiteral("\nDown or right-click: the serial ports of this computer"));
    });
    listComPort->setText(comPortText);
    // The ports the system reports, offered only when asked for (Down, or the context menu):
    // the box is too small to give part of it to an arrow, and a list that opened on a click
    // meant for typing would swallow the keys and the next click on Start.
    listComPort->installEventFilter(this);
    wireLine();
    wireHandlers();
    Form_Load();
}

Form1::~Form1()
{
    Form_Terminate();
    // The line's thread ends before the window it reports to: the exchange in flight finishes,
    // nothing more is sent.
    m_line.reset();
}

void Form1::wireLine()
{
    m_line->setWindow(this);
    // Inline, the window processes its events at the sequence's event points, as it always did;
    // threaded, it processes them all the time and takes the waiting clicks there.
    m_gate.setProcessEvents(!m_line->threaded());
    m_line->setEventPoint([this] { m_gate.lineEventPoint(); });
    m_gate.setEventPointCount([this] { return m_line->eventPointsPassed(); });
    m_gate.setStoppers({ cmdCommStop, Command1, CmdSelect }, [this] { m_line->requestStop(); });
    m_gate.setOnIdle([this] {
        if (m_closeWhenIdle)
            QTimer::singleShot(0, this, &QWidget::close);
    });
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
    // On the frame's background and captions; the boxes keep their own edit menu.
    FrameParaAdj->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FrameParaAdj, &QWidget::customContextMenuRequested, this, &Form1::showParameterMenu);

    for (const ParameterBox &box : ParameterMap::loadOrder()) {
        QLineEdit *edit = parameterBox(box.array, box.index);
        m_parameterBoxes.insert(edit, box);
        edit->installEventFilter(this);
    }

    // A tick waits, as a click does, while a sequence holds the line.
    const auto tick = [this](QTimer *timer, QCoro::Task<> (Form1::*handler)()) {
        connect(timer, &QTimer::timeout, this, [this, timer, handler] {
            m_gate.tick(timer, [this, handler] { (this->*handler)(); });
        });
    };
    tick(Timer1, &Form1::Timer1_Timer);
    tick(Timer2, &Form1::Timer2_Timer);
    tick(Timer3, &Form1::Timer3_Timer);
    tick(Timer4, &Form1::Timer4_Timer);
    tick(Timer5, &Form1::Timer5_Timer);
}

void Form1::Form_Load()
{
    FirstChannel = 10;

    showDisconnected();
    stopTimers();

    ScopeRunning = false;
    DriveNotReady = false;
    PollIdle = true;

    RxValue.clear();

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
    // A tuning run first writes the original gains back; the window closes after it.
    if (m_tuning) {
        m_tuneAbort = true;
        m_closeAfterTune = true;
        event->ignore();
        return;
    }
    // Whatever holds the line ends at its next exchange; the window goes once it has.
    if (m_gate.held()) {
        m_closeWhenIdle = true;
        stopTimers();
        m_line->requestStop();
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void Form1::showPortList()
{
    QMenu menu(listComPort);
    menu.setObjectName(QStringLiteral("portListMenu"));
    addPortNames(menu, listComPort->width());
    // A click outside closes the list; X11 does not hand that click on to the window, so the
    // list does it, or a click on Start would only close the list.
    ClickThrough clickThrough(menu);
    const QAction *chosen = menu.exec(listComPort->mapToGlobal(QPoint(0, listComPort->height())));
    if (chosen && chosen->isEnabled())
        listComPort->setText(chosen->text());
    clickThrough.replay();
}

void Form1::showPortBoxMenu(const QPoint &globalPos)
{
    const std::unique_ptr<QMenu> menu(listComPort->createStandardContextMenu());
    menu->addSeparator();
    QMenu *ports = menu->addMenu(PortListTitle);
    ports->setObjectName(QStringLiteral("portListMenu"));
    addPortNames(*ports, listComPort->width());
    const QAction *chosen = menu->exec(globalPos);
    if (chosen && chosen->parent() == ports && chosen->isEnabled())
        listComPort->setText(chosen->text());
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == listComPort && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Down) {
        showPortList();
        return true;
    }
    if (watched == listComPort && event->type() == QEvent::ContextMenu) {
        showPortBoxMenu(static_cast<QContextMenuEvent *>(event)->globalPos());
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        const auto it = m_parameterBoxes.constFind(watched);
        if (it != m_parameterBoxes.cend()) {
            const auto *key = static_cast<QKeyEvent *>(event);
            std::int16_t keyAscii = 0;
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
                keyAscii = 13;
            // Tab and Shift+Tab move the focus; they type nothing into the box.
            else if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
                keyAscii = 0;
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
