#pragma once

#include "ScriptedSerialPort.h"

#include <QMap>
#include <QSet>

#include <functional>

// A few drives on the scripted line, answering in virtual time. Station n answers only
// once "ST n" addressed it; commands without a scripted reply get plausible defaults.
class FakeBus final {
public:
    explicit FakeBus(ScriptedSerialPort &port) : m_port(port)
    {
        port.setResponder(
            [this](ScriptedSerialPort &p, const QByteArray &line) { answer(p, line); });
    }

    QSet<int> present { 1 };
    // Per station: command line -> reply; an empty reply means silence.
    QMap<int, QMap<QByteArray, QByteArray>> replies;
    int delayMs = 2;
    int addressed = -1;
    // Counts "ST n" lines per station, to script a drive that answers only the second.
    QMap<int, int> stCount;
    QSet<int> answerOnlySecondSt;
    QSet<int> answerOnlyFirstSt;
    // Called with every command line as it goes out, before it is answered.
    std::function<void(const QByteArray &)> onLine;

    void set(int station, const QByteArray &line, const QByteArray &reply)
    {
        replies[station][line] = reply;
    }

private:
    void answer(ScriptedSerialPort &port, const QByteArray &line)
    {
        if (onLine)
            onLine(line);
        if (line.startsWith("ST ")) {
            addressed = line.mid(3).toInt();
            const int count = ++stCount[addressed];
            if (!present.contains(addressed))
                return;
            if (answerOnlySecondSt.contains(addressed) && count % 2 == 1)
                return;
            if (answerOnlyFirstSt.contains(addressed) && count % 2 == 0)
                return;
            port.schedule("OK >", delayMs);
            return;
        }
        if (!present.contains(addressed))
            return;
        const auto scripted = replies.value(addressed);
        if (scripted.contains(line)) {
            if (!scripted.value(line).isEmpty())
                port.schedule(scripted.value(line), delayMs);
            return;
        }
        port.schedule(defaultReply(line), delayMs);
    }

    static QByteArray defaultReply(const QByteArray &line)
    {
        if (line == "RV 8")
            return "0800 ok>";
        if (line == "RV 10")
            return "0000 ok>";
        if (line.startsWith("RV "))
            return line.mid(3) + "00 ok>";
        if (line.startsWith("RD ")) {
            const QList<QByteArray> f = line.split(' ');
            return line + "=" + f.value(1) + f.value(2) + "5 ok>";
        }
        return "? ok>";
    }

    ScriptedSerialPort &m_port;
};
