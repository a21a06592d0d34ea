// Number rules shared by the readers of files and of the wire.
#include "numberrules.h"

#include <cmath>

namespace exel {

double leadingNumeric(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    double value = 0.0;
    bool seenPoint = false;
    double scale = 1.0;
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (c >= u'0' && c <= u'9') {
            const int digit = c.unicode() - u'0';
            if (seenPoint) {
                scale /= 10.0;
                value += digit * scale;
            } else {
                value = value * 10.0 + digit;
            }
        } else if (c == u'.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
    }
    // A run of thousands of digits saturates at infinity; the range checks
    // below then report it as an overflow instead of producing garbage.
    return negative ? -value : value;
}

double roundHalfEven(double value)
{
    if (!std::isfinite(value))
        return value;
    const double floorValue = std::floor(value);
    const double diff = value - floorValue;
    if (diff < 0.5)
        return floorValue;
    if (diff > 0.5)
        return floorValue + 1.0;
    return std::fmod(floorValue, 2.0) == 0.0 ? floorValue : floorValue + 1.0;
}

std::optional<int16_t> toInt16(double value)
{
    const double r = roundHalfEven(value);
    if (!std::isfinite(r) || r < kInt16Min || r > kInt16Max)
        return std::nullopt;
    return static_cast<int16_t>(r);
}

std::optional<int16_t> numericInt16(QStringView text)
{
    return toInt16(leadingNumeric(text));
}

std::optional<int32_t> toInt32(double value)
{
    const double r = roundHalfEven(value);
    if (!std::isfinite(r) || r < -2147483648.0 || r > 2147483647.0)
        return std::nullopt;
    return static_cast<int32_t>(r);
}

QString numberWithSign(long long value)
{
    if (value >= 0)
        return QStringLiteral(" ") + QString::number(value);
    return QString::number(value);
}

bool isAllDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

} // namespace exel
