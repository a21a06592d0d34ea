// Entry rules of the configuration editor: one value at a time, each giving a
// flag and the message shown when the value is refused.
#pragma once

#include <QString>

namespace exel {

struct RuleResult {
    bool ok = true;
    QString message;

    explicit operator bool() const { return ok; }
    static RuleResult pass() { return {}; }
    static RuleResult fail(QString text) { return { false, std::move(text) }; }
};

namespace XelCfgUtilities {

// Name of a controller, level, source, destination or name set. The name is
// trimmed in place; it must then be non-empty, at most 8 characters and free of commas.
RuleResult CheckName(QString &name);

// Controller address: not empty, numeric, 0..255.
RuleResult CheckAddress(const QString &address);

// Number of levels, level offset, number of inputs or outputs: numeric, 1..32767.
// Refusals carry no text; the caller words them.
RuleResult CheckCount(const QString &count);

// Input or output number of a source or destination: numeric, 0..32767.
RuleResult CheckIONumber(const QString &number);

// True when the whole text (blanks around it allowed) is a decimal number.
bool isNumericText(const QString &text);

// Value of a numeric text rounded half-even; 0 when it is not numeric.
double numericValue(const QString &text);

} // namespace XelCfgUtilities
} // namespace exel
