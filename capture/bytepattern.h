#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// A byte pattern to look for in received or sent data: fixed bytes, and
// wildcards for a whole byte ("??") or one of its hex digits ("7?").
struct BytePattern
{
    // Per position: the bits that must match (mask) and their value; value
    // bits outside the mask are zero. A mask of 0x00 is a whole-byte wildcard.
    QByteArray value;
    QByteArray mask;

    qsizetype size() const { return value.size(); }
    bool isEmpty() const { return value.isEmpty(); }
    bool matchesAt(const char *bytes) const
    {
        for (qsizetype i = 0; i < value.size(); ++i) {
            if ((bytes[i] & mask[i]) != value[i])
                return false;
        }
        return true;
    }
    friend bool operator==(const BytePattern &, const BytePattern &) = default;
};

// The outcome of reading a hex pattern: the pattern, or why it is not one
// and where (a character index into the text).
struct BytePatternParse
{
    BytePattern pattern;
    QString error;
    qsizetype errorAt = -1;
    bool ok() const { return error.isEmpty(); }
};

namespace BytePatterns {

// Reads hex bytes and wildcards. Bytes are pairs of hex digits, either case,
// optionally prefixed "0x"; "?" stands for any hex digit, so "??" (or a lone
// "?") is any byte and "7?" is 0x70..0x7F. Spaces, tabs, commas and line
// breaks separate bytes and are otherwise ignored, so "7E ?? 00 0D",
// "7E??000D" and "0x7E, 0x00" all read; a lone digit between separators is
// that byte ("7" is 0x07). An odd digit count within a run, another
// character, or no byte at all is an error.
BytePatternParse ParseHexPattern(QStringView text);

// The bytes of typed text, every one fixed: characters U+0000..U+00FF are the
// byte of the same value (as typing into a pane gives), a character beyond
// U+00FF its UTF-8 sequence.
BytePattern TextPattern(QStringView text);

// The pattern in the form ParseHexPattern reads: upper-case digit pairs with
// "?" for each wildcard digit, a space between bytes ("7E ?? 7? 0D").
QString FormatHexPattern(const BytePattern &pattern);

} // namespace BytePatterns
