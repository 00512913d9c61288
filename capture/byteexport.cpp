#include "byteexport.h"

#include <algorithm>

namespace ByteExport {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void appendHexByte(QByteArray &out, uchar b)
{
    out.append(kHexDigits[b >> 4]);
    out.append(kHexDigits[b & 0x0F]);
}

qsizetype totalSize(const QList<QByteArray> &pieces)
{
    qsizetype n = 0;
    for (const QByteArray &p : pieces)
        n += p.size();
    return n;
}

QByteArray hexLines(const QList<QByteArray> &pieces)
{
    QByteArray out;
    out.reserve(totalSize(pieces) * 3 + pieces.size());
    for (const QByteArray &piece : pieces) {
        if (piece.isEmpty())
            continue;
        for (qsizetype i = 0; i < piece.size(); ++i) {
            if (i > 0)
                out.append(' ');
            appendHexByte(out, uchar(piece[i]));
        }
        out.append('\n');
    }
    return out;
}

QByteArray cArray(const QList<QByteArray> &pieces)
{
    constexpr int kPerLine = 16;
    const qsizetype total = totalSize(pieces);
    QByteArray out;
    out.reserve(total * 6 + 64);
    out.append("const unsigned char bytes[" + QByteArray::number(total) + "] = {\n");
    for (const QByteArray &piece : pieces) {
        for (qsizetype i = 0; i < piece.size(); i += kPerLine) {
            out.append("   ");
            for (qsizetype k = i; k < std::min(piece.size(), i + kPerLine); ++k) {
                out.append(" 0x");
                appendHexByte(out, uchar(piece[k]));
                out.append(',');
            }
            out.append('\n');
        }
    }
    out.append("};\n");
    return out;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

void AppendEscaped(QByteArray &out, QByteArrayView bytes, bool lowerCaseHex)
{
    const char *digits = lowerCaseHex ? "0123456789abcdef" : kHexDigits;
    for (char c : bytes) {
        const uchar b = uchar(c);
        switch (b) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\t':
            out.append("\\t");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        default:
            if (b >= 0x20 && b <= 0x7E) {
                out.append(c);
            } else {
                out.append("\\x");
                out.append(digits[b >> 4]);
                out.append(digits[b & 0x0F]);
            }
        }
    }
}

QByteArray EscapedString(QByteArrayView bytes)
{
    QByteArray out;
    out.reserve(bytes.size() + 2);
    out.append('"');
    AppendEscaped(out, bytes);
    out.append('"');
    return out;
}

std::optional<QByteArray> UnescapeStrings(QByteArrayView text)
{
    QByteArray out;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (true) {
        while (i < n && isSpace(text[i]))
            ++i;
        if (i == n)
            return out;
        if (text[i] != '"')
            return std::nullopt;
        ++i;
        while (true) {
            if (i == n)
                return std::nullopt;
            const uchar c = uchar(text[i]);
            if (c == '"') {
                ++i;
                break;
            }
            if (c < 0x20 || c > 0x7E)
                return std::nullopt;
            if (c != '\\') {
                out.append(char(c));
                ++i;
                continue;
            }
            if (i + 1 == n)
                return std::nullopt;
            const char e = text[i + 1];
            i += 2;
            switch (e) {
            case '"':
                out.append('"');
                break;
            case '\\':
                out.append('\\');
                break;
            case 't':
                out.append('\t');
                break;
            case 'n':
                out.append('\n');
                break;
            case 'r':
                out.append('\r');
                break;
            case 'x': {
                const int high = i < n ? hexValue(text[i]) : -1;
                const int low = i + 1 < n ? hexValue(text[i + 1]) : -1;
                if (high < 0 || low < 0)
                    return std::nullopt;
                out.append(char(high << 4 | low));
                i += 2;
                break;
            }
            default:
                return std::nullopt;
            }
        }
    }
}

QByteArray Export(Format format, const QList<QByteArray> &pieces)
{
    if (totalSize(pieces) == 0)
        return {};
    switch (format) {
    case Format::Raw: {
        QByteArray out;
        out.reserve(totalSize(pieces));
        for (const QByteArray &p : pieces)
            out.append(p);
        return out;
    }
    case Format::Hex:
        return hexLines(pieces);
    case Format::CArray:
        return cArray(pieces);
    case Format::Escaped: {
        QByteArray out;
        for (const QByteArray &p : pieces) {
            if (p.isEmpty())
                continue;
            out.append(EscapedString(p));
            out.append('\n');
        }
        return out;
    }
    }
    return {};
}

} // namespace ByteExport
