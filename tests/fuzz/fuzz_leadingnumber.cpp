// Fuzzes the leading-number reading with any text: Latin-1, UTF-8 or raw
// UTF-16, chosen by the first byte. Besides the sanitizers it checks that
// blanks never change the number and that the integer forms are the number
// rounded halves-to-even and saturated at the type's limits.
#include "leadingnumber.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

QString textOf(const uint8_t *data, size_t size)
{
    if (size == 0)
        return QString();
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const qsizetype n = qsizetype(size - 1);
    switch (data[0] % 3) {
    case 0:
        return QString::fromLatin1(bytes, n);
    case 1:
        return QString::fromUtf8(bytes, n);
    default:
        return QString(reinterpret_cast<const QChar *>(bytes), n / 2);
    }
}

template<typename Int>
Int expectedInt(double value)
{
    if (std::isnan(value))
        return 0;
    const double r = std::nearbyint(value);
    if (r <= double(std::numeric_limits<Int>::min()))
        return std::numeric_limits<Int>::min();
    if (r >= double(std::numeric_limits<Int>::max()))
        return std::numeric_limits<Int>::max();
    return Int(r);
}

[[noreturn]] void fail(const char *what, const QString &text)
{
    std::fprintf(stderr, "fuzz_leadingnumber: %s for \"%s\"\n", what, text.toUtf8().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = textOf(data, size);
    const double value = LeadingNumber(text);
    if (std::isnan(value))
        fail("NaN", text);

    QString withoutBlanks = text;
    withoutBlanks.remove(u' ').remove(u'\t').remove(u'\n');
    const double again = LeadingNumber(withoutBlanks);
    if (!(again == value))
        fail("blanks changed the number", text);

    if (LeadingInt16(text) != expectedInt<qint16>(value))
        fail("LeadingInt16 is not the rounded, saturated number", text);
    if (LeadingInt32(text) != expectedInt<qint32>(value))
        fail("LeadingInt32 is not the rounded, saturated number", text);
    return 0;
}
