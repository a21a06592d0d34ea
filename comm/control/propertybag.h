// The property bag a hosting form keeps for each control: values under member
// names, in the order they were written.
#pragma once

#include "tolcomexport.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

class TOLCOM_EXPORT PropertyBag {
public:
    // Writes value under key; an existing key keeps its place and takes the new value.
    void write(const QString &key, const QVariant &value);
    // The value under key (keys match exactly, case included), or defaultValue.
    QVariant read(const QString &key, const QVariant &defaultValue = QVariant()) const;
    bool contains(const QString &key) const;
    QStringList keys() const;
    int size() const { return int(m_items.size()); }
    void clear() { m_items.clear(); }
    const QList<QPair<QString, QVariant>> &items() const { return m_items; }

    // Text form for a form file: one "key=value" line per entry, values as
    // text, "\\", "\n" and "\r" escaped. fromText skips lines without "=" and
    // keeps the last value of a repeated key.
    QString toText() const;
    static PropertyBag fromText(const QString &text);

private:
    QList<QPair<QString, QVariant>> m_items;
};
