#pragma once

#include "FakeBus.h"
#include "Form1.h"
#include "RecordingMessages.h"
#include "ScriptedSerialPort.h"
#include "VirtualClock.h"

#include <QtTest>

// The window on a scripted line in virtual time, with the port already open.
struct FormRig {
    // With a station, that station is selected and its messages and lines forgotten.
    explicit FormRig(int station = -1) : port(clock), bus(port), form(port, clock, messages)
    {
        form.setFileDialogs(files);
        form.cmdCommStart->click();
        messages.texts.clear();
        if (station >= 0) {
            select(station);
            messages.texts.clear();
            port.clearRecord();
        }
    }

    // Scan-free selection of station s (which must be present).
    void select(int s)
    {
        form.Combo1->setEditText(QString::number(s));
        form.CmdSelect_Click();
    }
    QLineEdit *box(BoxArray array, int index) const
    {
        return array == BoxArray::KG ? form.txtKG[index]
            : array == BoxArray::VG  ? form.txtVG[index]
                                     : form.txtPOS[index];
    }
    // Typed into a box as the operator would, with Enter unless `enter` is false.
    static void type(QLineEdit *edit, const QString &text, bool enter = true)
    {
        edit->clear();
        QTest::keyClicks(edit, text);
        if (enter)
            QTest::keyClick(edit, Qt::Key_Return);
    }
    static QColor textColor(const QLineEdit *edit) { return edit->palette().color(QPalette::Text); }

    VirtualClock clock;
    ScriptedSerialPort port;
    FakeBus bus;
    RecordingMessages messages;
    ScriptedFileDialogs files;
    Form1 form;
};

inline const QColor Red(255, 0, 0);
inline const QColor Black(0, 0, 0);
