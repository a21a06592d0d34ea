// The ordered property bag and its text form.
#include "propertybag.h"

#include <QColor>
#include <QFont>
#include <QRegularExpression>
#include <QStringList>

void PropertyBag::write(const QString &key, const QVariant &value)
{
    for (auto &item : m_items) {
        if (item.first == key) {
            item.second = value;
            return;
        }
    }
    m_items.append({ key, value });
}

QVariant PropertyBag::read(const QString &key, const QVariant &defaultValue) const
{
    for (const auto &item : m_items)
        if (item.first == key)
            return item.second;
    return defaultValue;
}

bool PropertyBag::contains(const QString &key) const
{
    for (const auto &item : m_items)
        if (item.first == key)
            return true;
    return false;
}

QStringList PropertyBag::keys() const
{
    QStringList out;
    for (const auto &item : m_items)
        out << item.first;
    return out;
}

namespace {

QString escape(const QString &s)
{
    QString out;
    out.reserve(s.size());
    for (QChar c : s) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

QString unescape(QStringView s)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c != u'\\' || i + 1 == s.size()) {
            out += c;
            continue;
        }
        const QChar n = s[++i];
        out += n == u'n' ? QChar(u'\n') : n == u'r' ? QChar(u'\r') : n;
    }
    return out;
}

QString valueText(const QVariant &v)
{
    switch (v.metaType().id()) {
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QColor:
        return v.value<QColor>().name();
    case QMetaType::QFont:
        return v.value<QFont>().toString();
    default:
        return v.toString();
    }
}

} // namespace

QString PropertyBag::toText() const
{
    QString out;
    for (const auto &item : m_items)
        out += escape(item.first) + u'=' + escape(valueText(item.second)) + u'\n';
    return out;
}

PropertyBag PropertyBag::fromText(const QString &text)
{
    PropertyBag bag;
    const QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    for (const QString &line : lines) {
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            continue;
        bag.write(unescape(QStringView(line).left(eq)), unescape(QStringView(line).mid(eq + 1)));
    }
    return bag;
}
