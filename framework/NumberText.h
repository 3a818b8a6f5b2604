#pragma once

#include <QString>

// Numbers read from texts the way the operator's stored files and typed boxes expect: the
// number at the start of the text counts, whatever follows ("1234 Station Jingle" is 1234).

// Leading blanks skipped; an optional sign, digits, a "." fraction and an exponent; 0 when the
// text does not start with a number.
double LeadingNumber(const QString& text);

// Rounded to the nearest whole number, halves to the even neighbour, and held within
// minimum..maximum (a value far outside, or not a number, cannot overflow).
qint32 RoundHalfEven(double value, qint32 minimum, qint32 maximum);
