#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The clipboard forms of a pane's bytes: the private block that carries every
// byte value ("count,bytes"), and the plain text that other programs see.
namespace ClipboardBlock {

// The clipboard format name under which the private block travels.
inline constexpr char FormatName[] = "NerovaBString";

// Decimal count, a comma, then the bytes exactly; no terminator.
QByteArray EncodeClipboardBlock(const QByteArray &bytes);

// The bytes of a private block. The count is trusted only as far as the block
// reaches: a block that is cut short, malformed or claims more than it holds
// yields at most the bytes that are actually there.
QByteArray ParseClipboardBlock(const QByteArray &block);

// The same bytes as a view into the block, for callers that copy them once
// into their final place.
QByteArrayView ClipboardBlockData(QByteArrayView block);

// The bytes up to, not including, the first NUL: what plain text can carry.
QByteArray PlainTextPart(const QByteArray &bytes);

// The plain text placed beside the private block: each byte as the character
// of the same code (Latin-1), up to the first NUL.
QString PlainTextFromBytes(const QByteArray &bytes);

// Bytes for text pasted from the clipboard, up to its first NUL: characters
// U+0001..U+00FF become the byte of the same value; a character beyond U+00FF
// has no single byte and is taken as its UTF-8 sequence, so text copied from
// another program is never silently dropped.
QByteArray BytesFromPlainText(const QString &text);

} // namespace ClipboardBlock
