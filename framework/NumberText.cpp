#include "framework/NumberText.h"

#include "framework/GeneralHelpers.h"
#include "platform/system/GeneralFunctions.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

double LeadingNumber(const QString& text)
{
    // Cart numbers, asked for every file and cart of a check: plain digits are read directly.
    if (!text.isEmpty() && text.size() <= 15 &&
        std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; })) {
        qint64 value = 0;
        for (const QChar c : text) {
            value = value * 10 + (c.unicode() - u'0');
        }
        return double(value);
    }
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

QString CartFromTitle(const QString& title)
{
    // Every character but a digit becomes a blank and the token ends at the first blank: the
    // number read is the title's leading digits.
    qsizetype digitCount = 0;
    while (digitCount < title.size() && title.at(digitCount) >= u'0' &&
           title.at(digitCount) <= u'9') {
        ++digitCount;
    }
    if (digitCount == 0) {
        return QStringLiteral("0");
    }
    if (digitCount <= 15) {
        qint64 value = 0;
        for (qsizetype i = 0; i < digitCount; ++i) {
            value = value * 10 + (title.at(i).unicode() - u'0');
        }
        return QString::number(value);
    }
    bool ok = false;
    const double value = QStringView(title).left(digitCount).toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        return QString();
    }
    // Whole numbers print exactly as long as a double holds them to the digit.
    if (value < 1e15) {
        return QString::number(qint64(value));
    }
    return QString::number(value, 'G', 15);
}

int LastDigit(double value)
{
    const double whole = std::nearbyint(value);
    if (!std::isfinite(whole) || std::fabs(whole) > 9e18) {
        return -1;
    }
    return int(qint64(whole) % 10);
}
