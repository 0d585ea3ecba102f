#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>
#include <optional>

// Numbers as the station reads and writes them: texts in the locale (QLocale() is the system
// locale unless a test sets another default), integers rounded to the nearest value with
// halves going to the even neighbour.

// The number a text stands for under `locale`; blanks around it are allowed. An empty text,
// a non-finite value or anything the locale cannot read gives nullopt.
std::optional<double> parseLocaleNumber(const QString &text, const QLocale &locale = QLocale());

// The shortest text that reads back as the same single-precision value, with the locale's
// decimal separator and no group separators ("613", "6,13" in pt_BR).
QString formatSingle(float value, const QLocale &locale = QLocale());

// Nearest 32-bit integer, halves to even; values beyond the range saturate.
int32_t roundNearest(double value);

// Nearest 16-bit integer, halves to even; nullopt when the result does not fit.
std::optional<int16_t> roundNearestInt16(double value);
