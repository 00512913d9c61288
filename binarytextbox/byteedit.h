#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The edit arithmetic of a pane: every change to a pane's bytes, whether it
// comes from a key, the context menu or the ASCII chart, goes through these.
// Positions past the end of the bytes count as the end, negative ones as 0, so
// a selection read from the box can never index outside the store.
namespace ByteEdit {

// B[from..to): the bytes from `from` up to, not including, `to`.
QByteArray Slice(const QByteArray &bytes, qsizetype from, qsizetype to);

// B[0..S) + P + B[S+L..): replaces the L bytes at S with P, in place.
void Replace(QByteArray &bytes, qsizetype start, qsizetype length, QByteArrayView insert);
QByteArray Replaced(QByteArray bytes, qsizetype start, qsizetype length, QByteArrayView insert);

// B[0..S-1) + B[S..): the byte before the caret; nothing when S is 0.
void DeleteBefore(QByteArray &bytes, qsizetype caret);

// B[0..S) + B[S+1..): the byte after the caret; nothing at the end.
void DeleteAfter(QByteArray &bytes, qsizetype caret);

// B[0..S): everything from the caret to the end is dropped.
void TruncateAt(QByteArray &bytes, qsizetype caret);

} // namespace ByteEdit
