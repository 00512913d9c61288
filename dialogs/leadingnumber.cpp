#include "leadingnumber.h"

#include <QByteArray>

#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <limits>

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

template<typename Int>
Int roundInto(double value)
{
    if (std::isnan(value))
        return 0;
    // Halves to even is the default floating-point rounding mode.
    const double rounded = std::nearbyint(value);
    if (rounded <= double(std::numeric_limits<Int>::min()))
        return std::numeric_limits<Int>::min();
    if (rounded >= double(std::numeric_limits<Int>::max()))
        return std::numeric_limits<Int>::max();
    return static_cast<Int>(rounded);
}

} // namespace

double LeadingNumber(QStringView text)
{
    // Collect the accepted characters without blanks, then let strtod_l do the
    // arithmetic so rounding of long fractions is exact.
    QByteArray number;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skipBlanks = [&] {
        while (i < n && isBlank(text[i]))
            ++i;
    };
    auto takeDigits = [&] {
        bool any = false;
        for (skipBlanks(); i < n && isDigit(text[i]); skipBlanks()) {
            number += char(text[i].unicode());
            ++i;
            any = true;
        }
        return any;
    };

    skipBlanks();
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        number += char(text[i].unicode());
        ++i;
    }
    bool digits = takeDigits();
    if (i < n && text[i] == u'.') {
        number += '.';
        ++i;
        digits = takeDigits() || digits;
    }
    if (!digits)
        return 0.0;

    skipBlanks();
    if (i < n && (text[i] == u'e' || text[i] == u'E' || text[i] == u'd' || text[i] == u'D')) {
        const qsizetype mark = i;
        QByteArray exponent("e");
        ++i;
        skipBlanks();
        if (i < n && (text[i] == u'+' || text[i] == u'-')) {
            exponent += char(text[i].unicode());
            ++i;
        }
        const qsizetype before = number.size();
        if (takeDigits()) {
            exponent += number.mid(before);
            number.truncate(before);
            number += exponent;
        } else {
            i = mark;
        }
    }
    // The C locale: the program's own locale may use a decimal comma.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return strtod_l(number.constData(), nullptr, cLocale);
}

qint16 LeadingInt16(QStringView text)
{
    return roundInto<qint16>(LeadingNumber(text));
}

qint32 LeadingInt32(QStringView text)
{
    return roundInto<qint32>(LeadingNumber(text));
}
