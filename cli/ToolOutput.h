#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

// What vcm-tool prints. Plain lines go out flushed as each becomes known, so that a person or a
// script watching a long command sees its progress and an interrupted run leaves its record.
// With --json the lines give way to one object, printed at the end, also when the command
// stopped early: then with an "error" member. Messages go to stderr at once.
class ToolOutput final {
public:
    ToolOutput(QTextStream &out, QTextStream &err, bool json);

    bool json() const { return m_json; }
    // One line of plain output (nothing with --json).
    void line(const QString &text);
    // Text as it is (a parameter set, a CSV), flushed; nothing with --json.
    void text(const QString &text);
    void insert(const QString &key, const QJsonValue &value) { m_object.insert(key, value); }
    // A message on stderr; with --json also part of the object's "error".
    void error(const QString &message);
    // A file that could not be written: named on stderr, and the run fails with exit 4.
    void fileFailed(const QString &path, const QString &why);

    // Prints the JSON object, if any, and reports output that could not be written. False when
    // some output was lost.
    bool finish();
    bool lost() const { return m_lost; }

private:
    void put(const QString &text);

    QTextStream &m_out;
    QTextStream &m_err;
    bool m_json;
    bool m_lost = false;
    bool m_outFailed = false;
    QJsonObject m_object;
    QStringList m_errors;
};
