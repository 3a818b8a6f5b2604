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

// The cart number at the start of a file title: everything but digits becomes a blank, the
// text up to the first blank is read as a number and written back in its shortest form
// ("0042" gives "42", no digits give "0"). Empty when the number cannot be held.
QString CartFromTitle(const QString& title);

// The last decimal digit of a cart number, rounded to a whole number first; -1 when it has no
// usable number.
int LastDigit(double value);
