#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

// The forms in which selected bytes leave the program: as they are, or as
// text for a report, a C source or a script. Each piece is one selected
// packet; the text forms give each piece its own line(s) and end every line
// with "\n". No bytes give an empty result in every form.
namespace ByteExport {

enum class Format {
    Raw,     // the bytes, pieces one after another, nothing added
    Hex,     // "7E 00 0D": two upper-case digits a byte, one piece a line
    CArray,  // a C array definition of every byte, 16 a line, a piece starting a new line
    Escaped, // one double-quoted escaped string a piece (see EscapedString)
};

QByteArray Export(Format format, const QList<QByteArray> &pieces);

// One piece as a double-quoted string, readable as a C or Python string:
// bytes 0x20..0x7E stand for themselves except '"' (\") and '\' (\\); TAB,
// LF and CR are \t, \n, \r; every other byte is \x and exactly two upper-case
// hex digits. No line break is added.
QByteArray EscapedString(QByteArrayView bytes);

// Appends `bytes` escaped by the rules of EscapedString, without the quotes;
// `lowerCaseHex` spells the \x escapes' digits in lower case.
void AppendEscaped(QByteArray &out, QByteArrayView bytes, bool lowerCaseHex = false);

// The bytes of text in the escaped form: any number of double-quoted strings,
// separated by white space, read back and joined. \xHH takes exactly two hex
// digits (either case). Nothing is returned for text that is not of this form
// (an unknown escape, a missing quote, a raw control byte or byte above 0x7E
// inside the quotes), so text that merely looks similar is never misread.
std::optional<QByteArray> UnescapeStrings(QByteArrayView text);

} // namespace ByteExport
