#pragma once

#include <QColor>

namespace drovanta {

// The contrast ratio of two colours as the web's accessibility guidelines define it, from 1
// (the same luminance) to 21 (black on white).
double ContrastRatio(const QColor& first, const QColor& second);

// Text readable on `background` (a ratio of at least 4.5): `preferred` where it is, else black
// or white, whichever stands out more.
QColor ReadableTextOn(const QColor& background, const QColor& preferred);

}  // namespace drovanta
