#include "NumberText.h"

#include <QRegularExpression>
#include <cmath>

double LeadingNumber(const QString& text)
{
    static const QRegularExpression number(
        QStringLiteral("^\\s*[+-]?(\\d+(\\.\\d*)?|\\.\\d+)([eE][+-]?\\d+)?"));
    const QRegularExpressionMatch match = number.match(text);
    if (!match.hasMatch()) {
        return 0.0;
    }
    const double value = match.captured(0).trimmed().toDouble();
    return std::isfinite(value) ? value : 0.0;
}

qint32 RoundHalfEven(double value, qint32 minimum, qint32 maximum)
{
    if (std::isnan(value)) {
        return minimum;
    }
    // nearbyint rounds halves to even in the default rounding mode.
    const double rounded = std::nearbyint(value);
    if (rounded <= minimum) {
        return minimum;
    }
    if (rounded >= maximum) {
        return maximum;
    }
    return static_cast<qint32>(rounded);
}
