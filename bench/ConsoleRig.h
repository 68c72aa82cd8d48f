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

// The console's window on the drive simulator, its port wrapped to log the traffic.
struct ConsoleRig {
    explicit ConsoleRig(const QStringList &simArgs)
        : sim(simArgs), port(system), form(port, clock, messages, sim.path())
    {
        form.show();
        runFor(50);
    }

    // Start, then select `station` as the operator would after a scan. The poller is
    // stopped again: callers drive the ticks themselves unless they restart it.
    bool select(int station)
    {
        form.cmdCommStart->click();
        form.Combo1->setEditText(QString::number(station));
        form.CmdSelect_Click();
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
    SystemSerialPort system;
    CountingPort port;
    SteadyClock clock;
    RecordingMessages messages;
    Form1 form;
};
