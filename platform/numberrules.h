// Number rules the whole system shares: the leading-numeric reading of text,
// rounding halves to the even neighbour, and the 16-bit signed range.
#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace exel {

constexpr int kInt16Min = -32768;
constexpr int kInt16Max = 32767;

// Reads a number the way the configuration files and the wire expect: leading
// blanks skipped, then a sign, digits and one decimal point, up to the first
// other character. Empty or non-numeric text reads as 0.
double leadingNumeric(QStringView text);

// Rounds to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double value);

// Rounds half-even and checks the 16-bit signed range. Returns nothing when the
// value does not fit: the caller reports error 6 "Overflow", never a wrapped value.
std::optional<int16_t> toInt16(double value);

// leadingNumeric + toInt16 in one step.
std::optional<int16_t> numericInt16(QStringView text);

// Same for a 32-bit signed value (engine properties).
std::optional<int32_t> toInt32(double value);

// Decimal text of a number with a leading blank for non-negative values, as the
// system writes error numbers after "Error # " (so 53 gives " 53", -5 gives "-5").
QString numberWithSign(long long value);

// True when text is all decimal digits (at least one).
bool isAllDigits(QStringView text);

} // namespace exel
