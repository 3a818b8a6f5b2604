#pragma once

#include <QString>

// Numbers typed into the dialogs' text boxes, read the way the operator expects from the
// original program.

// The value of the number at the start of the text (leading blanks skipped; an optional sign,
// digits, a "." fraction and an exponent); 0 when the text does not start with a number.
double LeadingNumber(const QString& text);

// Rounded to the nearest whole number, halves to the even neighbour, and held within
// minimum..maximum (a value far outside, or not a number, cannot overflow).
qint32 RoundHalfEven(double value, qint32 minimum, qint32 maximum);
