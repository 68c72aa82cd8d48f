#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QtGlobal>

// A control array: one name, members at fixed integer indices that need not be contiguous.
// Asking for an index the window does not have is a programming error and stops the
// program with the array's name and the index (Q_ASSERT_X in debug builds, qFatal always),
// because callers use the member without a null check.
template<class T> class ControlArray final {
public:
    using const_iterator = typename QMap<int, T *>::const_iterator;

    explicit ControlArray(const char *name = "ControlArray") : m_name(name) { }

    // Adds a member; an index may be given only once and the member must exist.
    void insert(int index, T *member)
    {
        if (!member || m_members.contains(index)) {
            Q_ASSERT_X(false, "ControlArray::insert",
                       qPrintable(QStringLiteral("%1: null member or index %2 given twice")
                                      .arg(QLatin1String(m_name))
                                      .arg(index)));
            qFatal("ControlArray %s: cannot insert index %d (%s)", m_name, index,
                   member ? "given twice" : "null member");
        }
        m_members.insert(index, member);
    }

    T *at(int index) const
    {
        const auto it = m_members.constFind(index);
        if (it == m_members.cend()) {
            Q_ASSERT_X(
                false, "ControlArray::at",
                qPrintable(
                    QStringLiteral("%1 has no index %2").arg(QLatin1String(m_name)).arg(index)));
            qFatal("ControlArray %s has no index %d", m_name, index);
        }
        return it.value();
    }
    T *operator[](int index) const { return at(index); }

    bool contains(int index) const { return m_members.contains(index); }
    // The indices, ascending.
    QList<int> indices() const { return m_members.keys(); }
    int size() const { return int(m_members.size()); }
    bool isEmpty() const { return m_members.isEmpty(); }
    const char *name() const { return m_name; }

    // Range-for visits the members (T *) in ascending index order; it.key() is the index.
    const_iterator begin() const { return m_members.cbegin(); }
    const_iterator end() const { return m_members.cend(); }

private:
    const char *m_name;
    QMap<int, T *> m_members;
};
