#pragma once

#include "Clock.h"
#include "CountingPort.h"
#include "Form1.h"
#include "RecordingMessages.h"
#include "SimProcess.h"
#include "SystemSerialPort.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

// Lets the event loop run, timers included, for ms milliseconds.
inline void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The console's window on the drive simulator, its port wrapped to log the traffic. Its line
// runs on a thread of its own, as in the program, or, inline, on the window's thread as it
// did before (for the stalls that cost).
struct ConsoleRig {
    enum class Line { Threaded, Inline };
    explicit ConsoleRig(const QStringList &simArgs, Line line = Line::Threaded)
        : sim(simArgs), form(makeLine(line), messages, sim.path())
    {
        form.show();
        runFor(50);
    }

    std::unique_ptr<DriveLine> makeLine(Line line)
    {
        if (line == Line::Inline) {
            inlinePort = std::make_unique<CountingPort>(std::make_unique<SystemSerialPort>());
            port = inlinePort.get();
            return std::make_unique<DriveLine>(*port, clock);
        }
        return std::make_unique<DriveLine>(
            [this] {
                auto made = std::make_unique<CountingPort>(std::make_unique<SystemSerialPort>());
                port = made.get();
                return made;
            },
            clock);
    }

    // Runs the event loop until no sequence holds the line and nothing waits for it.
    void settle()
    {
        while (!form.lineIdle() || form.gate().waiting() > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }

    // Start, then select `station` as the operator would after a scan. The poller is
    // stopped again: callers drive the ticks themselves unless they restart it.
    bool select(int station)
    {
        form.cmdCommStart->click();
        settle();
        form.Combo1->setEditText(QString::number(station));
        form.CmdSelect_Click();
        settle();
        form.Timer1->stop();
        return form.FrameParaAdj->isEnabled();
    }

    // Recorder set-up and an alternating test motion, then Start.
    bool startScope(bool newRecorder, int first, int second)
    {
        form.Check_VCRR->setChecked(newRecorder);
        for (int i : form.chkBox.indices()) {
            if (form.chkBox[i]->isChecked())
                form.chkBox[i]->click();
        }
        form.chkBox[first]->click();
        form.chkBox[second]->click();
        form.listInterval->setCurrentText(QStringLiteral("200"));
        messages.texts.clear();
        form.cmdSetup->click();
        settle();
        form.Timer1->stop();
        form.CheckContinuous->setChecked(true);
        form.Text1[0]->setText(QStringLiteral("1000"));
        form.Text1[1]->setText(QStringLiteral("3000"));
        form.cmdSetMotion->click();
        form.cmdStart->click();
        const bool ok = messages.texts.contains(QStringLiteral("Setup OK"));
        messages.texts.clear();
        return ok && form.ScopeRunning;
    }

    SimProcess sim;
    std::unique_ptr<CountingPort> inlinePort;
    CountingPort *port = nullptr; // on the line's thread; read it while the line is idle
    SteadyClock clock;
    RecordingMessages messages;
    Form1 form;
};
