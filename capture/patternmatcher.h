#pragma once

#include "bytepattern.h"

#include <QByteArrayView>

#include <functional>
#include <vector>

// Finds every position at which a pattern matches in a stream of bytes that
// arrives in pieces (chunks as read from the device, packets of a record). A
// match may begin in one piece and end in a later one; it is reported once,
// with the piece that holds its first byte. Overlapping matches all count:
// "AA" occurs twice in "AAA".
class PatternMatcher
{
public:
    // Where a match begins: the tag given with its first byte's piece, and
    // that byte's offset in the piece.
    using MatchFound = std::function<void(qint64 tag, qsizetype offset)>;

    explicit PatternMatcher(BytePattern pattern);

    const BytePattern &pattern() const { return m_pattern; }

    // The next piece of the stream. Reports, in stream order, every match that
    // ends within `bytes`.
    void feed(QByteArrayView bytes, qint64 tag, const MatchFound &found);

    // Forgets the bytes fed so far: the next piece starts a new stream, so no
    // match spans the break (a different direction, a new session).
    void restart();

    qint64 matchCount() const { return m_matches; }

    // Every position in bytes[from, to) at which the whole pattern matches
    // inside `bytes`, in order.
    static void scan(const BytePattern &pattern, QByteArrayView bytes, qsizetype from, qsizetype to,
                     const std::function<void(qsizetype)> &found);

private:
    struct TailPiece
    {
        qint64 tag;
        qsizetype offset; // of the piece's first tail byte, within the piece
        qsizetype length; // of that piece's part of the tail
    };

    BytePattern m_pattern;
    // The last size()-1 bytes fed, where a match may yet begin, and the
    // pieces they came from.
    QByteArray m_tail;
    std::vector<TailPiece> m_tailPieces;
    qint64 m_matches = 0;
};
