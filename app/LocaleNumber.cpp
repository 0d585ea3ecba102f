#include "LocaleNumber.h"

#include <charconv>
#include <cmath>
#include <limits>

std::optional<double> parseLocaleNumber(const QString &text, const QLocale &locale)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double value = locale.toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QString formatSingle(float value, const QLocale &locale)
{
    char buffer[64];
    // std::to_chars on a float gives the shortest text that reads back as the same float,
    // which is what a single-precision value shows as ("6.13", not "6.1300001").
    const auto result
        = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    QString text = QString::fromLatin1(buffer, int(result.ptr - buffer));
    text.replace(QLatin1Char('.'), locale.decimalPoint());
    if (text.startsWith(QLatin1Char('-')))
        text.replace(0, 1, locale.negativeSign());
    return text;
}

int32_t roundNearest(double value)
{
    if (std::isnan(value))
        return 0;
    const double rounded = std::nearbyint(value); // default mode: to nearest, ties to even
    if (rounded >= double(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (rounded <= double(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return int32_t(rounded);
}

std::optional<int16_t> roundNearestInt16(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value);
    if (rounded > std::numeric_limits<int16_t>::max()
        || rounded < std::numeric_limits<int16_t>::min())
        return std::nullopt;
    return int16_t(rounded);
}
