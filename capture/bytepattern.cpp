#include "bytepattern.h"

namespace BytePatterns {

namespace {

bool isSeparator(QChar c)
{
    return c == u' ' || c == u'\t' || c == u',' || c == u'\r' || c == u'\n';
}

// A hex digit's value, -1 for the wildcard digit, -2 for anything else.
int nibble(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u == u'?')
        return -1;
    return -2;
}

void appendByte(BytePattern &pattern, int high, int low)
{
    // A wildcard digit leaves its four bits out of the mask.
    const int mask = (high < 0 ? 0x00 : 0xF0) | (low < 0 ? 0x00 : 0x0F);
    const int value = ((high < 0 ? 0 : high) << 4) | (low < 0 ? 0 : low);
    pattern.value.append(char(value & mask));
    pattern.mask.append(char(mask));
}

} // namespace

BytePatternParse ParseHexPattern(QStringView text)
{
    BytePatternParse result;
    auto fail = [&](qsizetype at, const QString &why) {
        result.pattern = {};
        result.error = why;
        result.errorAt = at;
        return result;
    };

    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        if (isSeparator(text[i])) {
            ++i;
            continue;
        }
        const qsizetype runStart = i;
        if (text[i] == u'0' && i + 1 < n && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
            i += 2;
            if (i >= n || isSeparator(text[i]))
                return fail(runStart, QStringLiteral("no hex digits after \"0x\""));
        }
        const qsizetype digitsStart = i;
        while (i < n && !isSeparator(text[i])) {
            if (nibble(text[i]) == -2)
                return fail(i, QStringLiteral("\"%1\" is not a hex digit or \"?\"").arg(text[i]));
            ++i;
        }
        const qsizetype digits = i - digitsStart;
        if (digits == 1) {
            const int d = nibble(text[digitsStart]);
            appendByte(result.pattern, d < 0 ? -1 : 0, d);
            continue;
        }
        if (digits % 2 != 0)
            return fail(runStart, QStringLiteral("odd number of hex digits"));
        for (qsizetype k = digitsStart; k < i; k += 2)
            appendByte(result.pattern, nibble(text[k]), nibble(text[k + 1]));
    }
    if (result.pattern.isEmpty())
        return fail(0, QStringLiteral("no bytes to look for"));
    return result;
}

BytePattern TextPattern(QStringView text)
{
    BytePattern pattern;
    pattern.value.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u <= 0xFF) {
            pattern.value.append(char(u));
            continue;
        }
        // A surrogate pair is one character and one UTF-8 sequence.
        const qsizetype len
            = (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2 : 1;
        pattern.value.append(text.mid(i, len).toUtf8());
        i += len - 1;
    }
    pattern.mask = QByteArray(pattern.value.size(), char(0xFF));
    return pattern;
}

QString FormatHexPattern(const BytePattern &pattern)
{
    static constexpr char16_t digits[] = u"0123456789ABCDEF";
    QString out;
    out.reserve(pattern.size() * 3);
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (i > 0)
            out.append(u' ');
        const uchar value = uchar(pattern.value[i]);
        const uchar mask = uchar(pattern.mask[i]);
        out.append((mask & 0xF0) ? QChar(digits[value >> 4]) : QChar(u'?'));
        out.append((mask & 0x0F) ? QChar(digits[value & 0x0F]) : QChar(u'?'));
    }
    return out;
}

} // namespace BytePatterns
