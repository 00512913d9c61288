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
// They go on the clipboard as they are, as the text's UTF-8 bytes: this
// desktop's text encoding. Bytes that are not valid UTF-8 are handed out
// unchanged too; a program that reads them as text shows a replacement mark
// for just those bytes, and one that takes the bytes gets them exactly,
// where any conversion would alter data that may well be right.
QByteArray PlainTextPart(const QByteArray &bytes);

// Bytes for text pasted from the clipboard: its UTF-8 encoding, up to its
// first NUL.
QByteArray BytesFromPlainText(const QString &text);

} // namespace ClipboardBlock
