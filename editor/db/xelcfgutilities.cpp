// Entry rules of the configuration editor.
#include "xelcfgutilities.h"

#include "numberrules.h"

#include <cmath>

namespace exel::XelCfgUtilities {

bool isNumericText(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    // Plain decimal only: no hex, no exponent, no infinity spelled out.
    bool digit = false;
    bool point = false;
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c.isDigit() && c.unicode() < 128)
            digit = true;
        else if (c == u'.' && !point)
            point = true;
        else if ((c == u'-' || c == u'+') && i == 0)
            continue;
        else
            return false;
    }
    return digit;
}

double numericValue(const QString &text)
{
    if (!isNumericText(text))
        return 0.0;
    return roundHalfEven(leadingNumeric(text.trimmed()));
}

RuleResult CheckName(QString &name)
{
    name = name.trimmed();
    if (name.isEmpty())
        return RuleResult::fail(QStringLiteral("Name required."));
    if (name.size() > 8)
        return RuleResult::fail(QStringLiteral("Max name length is 8."));
    if (name.contains(QLatin1Char(',')))
        return RuleResult::fail(QStringLiteral("Name cannot include commas."));
    return RuleResult::pass();
}

RuleResult CheckAddress(const QString &address)
{
    if (address.trimmed().isEmpty())
        return RuleResult::fail(QStringLiteral("Address Required."));
    if (!isNumericText(address))
        return RuleResult::fail(QStringLiteral("Invalid Address"));
    const double v = numericValue(address);
    if (v < 0 || v > 255)
        return RuleResult::fail(QStringLiteral("Invalid Address"));
    return RuleResult::pass();
}

RuleResult CheckCount(const QString &count)
{
    if (!isNumericText(count))
        return RuleResult::fail(QString());
    const double v = numericValue(count);
    return (v >= 1 && v <= kInt16Max) ? RuleResult::pass() : RuleResult::fail(QString());
}

RuleResult CheckIONumber(const QString &number)
{
    if (!isNumericText(number))
        return RuleResult::fail(QString());
    const double v = numericValue(number);
    return (v >= 0 && v <= kInt16Max) ? RuleResult::pass() : RuleResult::fail(QString());
}

} // namespace exel::XelCfgUtilities
