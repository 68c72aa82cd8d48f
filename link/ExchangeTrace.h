#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// One exchange as it went: when it began (wall clock), which routine sent what, the reply as
// received, how long it took and whether the prompt came.
struct ExchangeRecord {
    QDateTime startedAt;
    QString routine;
    QString command;
    QString reply;
    std::uint32_t elapsedMs;
    bool prompt;
};

// The text as a JSON string literal, quotes included, escaped by Qt's JSON writer: control
// characters as \u00XX, so a garbled reply can be quoted byte for byte.
QByteArray jsonString(const QString &text);

// Told about every exchange once it has ended.
class ExchangeTrace {
public:
    virtual ~ExchangeTrace() = default;
    virtual void exchanged(const ExchangeRecord &record) = 0;
};

// Appends each exchange to a file as one JSON object a line, written out at once so that the
// file is complete up to the last exchange when the program is stopped or fails. The station
// is the one the latest "ST n" addressed; null before the first. The first write that fails
// (a full disk) ends the trace: a trace with gaps would mislead whoever reads it.
class JsonLinesTrace final : public ExchangeTrace {
public:
    bool open(const QString &path);
    QString errorString() const { return m_file.errorString(); }

    // Told once, with a sentence naming the file and the cause, when the trace stops.
    void setOnStopped(std::function<void(const QString &why)> onStopped)
    {
        m_onStopped = std::move(onStopped);
    }
    // The sentence, once the trace has stopped; empty while it is complete.
    const QString &stopped() const { return m_stopped; }

    void exchanged(const ExchangeRecord &record) override;

    static QByteArray line(const ExchangeRecord &record, std::optional<int> station);

private:
    QFile m_file;
    std::optional<int> m_station;
    std::function<void(const QString &)> m_onStopped;
    QString m_stopped;
};
