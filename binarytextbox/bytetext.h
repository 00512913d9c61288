#pragma once

#include <QByteArray>

// The text a pane shows for a byte string: same length, each NUL as a space,
// every other byte unchanged, so positions in both stay equal.
QByteArray DisplayText(const QByteArray &bytes);

// to += bytes in time proportional to bytes, for texts that grow to many
// megabytes. QByteArray::append moves the whole text into a new block each
// time it outgrows its capacity, which briefly holds the text twice and
// stalls for as long as the copy takes; growing through reserve() lets the
// allocator extend the block in place (on Linux by remapping its pages), and
// the spare capacity stays virtual until bytes are written into it.
void AppendBytes(QByteArray &to, QByteArrayView bytes);
