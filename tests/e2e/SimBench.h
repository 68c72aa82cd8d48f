#pragma once

// The console's window on the drive simulator (or on a scripted peer) over a pseudo-terminal,
// through the real QSerialPort adapter and the real clock.
#include "Clock.h"
#include "Form1.h"
#include "GraphSurface.h"
#include "Lamp.h"
#include "PtyPeer.h"
#include "RecordingMessages.h"
#include "SimProcess.h"
#include "SystemSerialPort.h"
#include "VbStyle.h"

#include <QtTest>

#include <memory>

inline QColor textColor(const QLineEdit *box)
{
    return box->palette().color(QPalette::Active, QPalette::Text);
}

inline bool isNumber(const QString &text)
{
    bool ok = false;
    text.toInt(&ok);
    return ok;
}

// The real port, which can put a simulator fault on exactly one command: `control` goes to the
// simulator just before the n-th `line` goes out, and a fault is cleared again before the
// next line. With `dropAfterMs`, the line is also dropped that long after, while the reply
// is awaited.
class FaultPort final : public SerialPort {
public:
    SimProcess *sim = nullptr;

    void at(const QByteArray &line, const QString &control, int n = 1, int dropAfterMs = -1)
    {
        m_at = line;
        m_control = control;
        m_countdown = n;
        m_dropAfterMs = dropAfterMs;
    }

    void setPortName(const QString &name) override { m_real.setPortName(name); }
    QString portName() const override { return m_real.portName(); }
    bool open() override
    {
        m_line.clear();
        return m_real.open();
    }
    void close() override { m_real.close(); }
    bool isOpen() const override { return m_real.isOpen(); }
    bool isUsable() const override { return m_real.isUsable(); }
    bool write(const QByteArray &data) override
    {
        const int cr = data.indexOf('\r');
        if (cr < 0) {
            m_line += data; // paced commands arrive one character at a time
            return m_real.write(data);
        }
        if (m_clearFault) {
            sim->command(QStringLiteral("fault clear 1"));
            m_clearFault = false;
        }
        if (m_line + data.left(cr) == m_at && --m_countdown == 0) {
            sim->command(m_control);
            m_clearFault = m_control.startsWith(QLatin1String("fault"));
            if (m_dropAfterMs >= 0)
                m_sinceLine.start();
        }
        m_line.clear();
        return m_real.write(data);
    }
    QByteArray readAll() override { return m_real.readAll(); }
    void waitForInput(int ms) override
    {
        if (m_sinceLine.isValid() && m_sinceLine.elapsed() >= m_dropAfterMs) {
            m_sinceLine.invalidate();
            sim->command(QStringLiteral("line drop"));
        }
        m_real.waitForInput(ms);
    }
    QString errorString() const override { return m_real.errorString(); }

private:
    SystemSerialPort m_real;
    QByteArray m_line, m_at;
    QString m_control;
    int m_countdown = 0, m_dropAfterMs = -1;
    bool m_clearFault = false;
    QElapsedTimer m_sinceLine;
};

struct SimBench {
    // The window opens `portName`, or the simulator's own line when that is empty.
    explicit SimBench(const QStringList &simArgs, const QString &portName = QString())
        : simulator(std::make_unique<SimProcess>(simArgs)),
          form(port, clock, messages, portName.isEmpty() ? simulator->path() : portName)
    {
        port.sim = simulator.get();
        form.setFileDialogs(files);
    }
    explicit SimBench(PtyPeer::Answer answer)
        : drive(std::make_unique<PtyPeer>(std::move(answer))),
          form(port, clock, messages, drive->path())
    {
    }

    bool set(const QString &control) { return simulator->command(control) == QLatin1String("ok"); }
    QString shown() const { return messages.texts.join(QLatin1Char('|')); }
    // Start (when the port is closed), scan if asked, select the station; the test ticks the
    // poller itself. Select opens only after a scan; a test that skipped it calls the handler.
    bool connect(int station = 1, bool scan = false)
    {
        if (form.cmdCommStart->isEnabled())
            form.cmdCommStart->click();
        if (scan)
            form.CmdScan->click();
        form.Combo1->setEditText(QString::number(station));
        form.CmdSelect_Click();
        form.Timer1->stop();
        return form.FrameParaAdj->isEnabled();
    }
    bool connectQuietly()
    {
        const bool ok = connect();
        messages.texts.clear();
        return ok;
    }
    // PCMD and PFBK over `span` ms, the oscilloscope running.
    void startScope(const char *span)
    {
        form.chkBox[0]->click();
        form.chkBox[1]->click();
        form.listInterval->setCurrentText(QString::fromLatin1(span));
        form.cmdSetup->click();
        form.Timer1->stop();
        form.cmdStart->click();
    }
    QString tick()
    {
        messages.texts.clear();
        form.Timer1_Timer();
        return shown();
    }

    std::unique_ptr<SimProcess> simulator;
    std::unique_ptr<PtyPeer> drive;
    FaultPort port;
    SteadyClock clock;
    RecordingMessages messages;
    ScriptedFileDialogs files;
    Form1 form;
};
