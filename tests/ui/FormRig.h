#pragma once

#include "FakeBus.h"
#include "Form1.h"
#include "RecordingMessages.h"
#include "ScriptedSerialPort.h"
#include "VirtualClock.h"

#include <QPushButton>

// The window on a scripted line in virtual time, with the port already open.
struct FormRig {
    FormRig() : port(clock), bus(port), form(port, clock, messages)
    {
        form.setFileDialogs(files);
        form.cmdCommStart->click();
        messages.texts.clear();
    }

    // Scan-free selection of station s (which must be present).
    void select(int s)
    {
        form.Combo1->setEditText(QString::number(s));
        form.CmdSelect_Click();
    }

    VirtualClock clock;
    ScriptedSerialPort port;
    FakeBus bus;
    RecordingMessages messages;
    ScriptedFileDialogs files;
    Form1 form;
};
