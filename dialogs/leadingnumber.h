#pragma once

#include <QStringView>
#include <QtGlobal>

// The number at the start of a text: an optional sign, digits with an optional
// decimal point and fraction, and an optional exponent. Spaces, tabs and line
// feeds are skipped wherever they stand ("1 9200" reads 19200); reading stops
// at the first other character; a text that does not begin with a number
// reads as 0.
double LeadingNumber(QStringView text);

// The leading number rounded to the nearest integer, halves to the even
// neighbour. Values beyond the type's range (a 40-digit number, an overflowing
// exponent) saturate at its limits instead of wrapping.
qint16 LeadingInt16(QStringView text);
qint32 LeadingInt32(QStringView text);
