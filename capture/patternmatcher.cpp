#include "patternmatcher.h"

#include <algorithm>
#include <cstring>

PatternMatcher::PatternMatcher(BytePattern pattern)
    : m_pattern(std::move(pattern))
{}

void PatternMatcher::restart()
{
    m_tail.clear();
    m_tailPieces.clear();
}

void PatternMatcher::scan(const BytePattern &pattern, QByteArrayView bytes, qsizetype from, qsizetype to,
                          const std::function<void(qsizetype)> &found)
{
    const qsizetype m = pattern.size();
    if (m == 0)
        return;
    // The last start at which the whole pattern still fits.
    const qsizetype last = std::min(to - 1, bytes.size() - m);
    if (from > last)
        return;
    const char *data = bytes.data();

    // A fixed byte lets memchr skip ahead to each candidate; patterns made
    // only of wildcard digits are tried at every position.
    qsizetype anchor = -1;
    for (qsizetype i = 0; i < m; ++i) {
        if (uchar(pattern.mask[i]) == 0xFF) {
            anchor = i;
            break;
        }
    }
    if (anchor < 0) {
        for (qsizetype s = from; s <= last; ++s) {
            if (pattern.matchesAt(data + s))
                found(s);
        }
        return;
    }
    const char key = pattern.value[anchor];
    qsizetype s = from;
    while (s <= last) {
        const void *hit = std::memchr(data + s + anchor, key, size_t(last - s + 1));
        if (!hit)
            return;
        s = static_cast<const char *>(hit) - data - anchor;
        if (pattern.matchesAt(data + s))
            found(s);
        ++s;
    }
}

void PatternMatcher::feed(QByteArrayView bytes, qint64 tag, const MatchFound &found)
{
    const qsizetype m = m_pattern.size();
    if (m == 0 || bytes.isEmpty())
        return;

    // Matches that begin in the tail and end in this piece.
    if (!m_tail.isEmpty()) {
        // The piece's first bytes go behind the tail in its own buffer, so
        // no piece copies the tail, and come off again after the scan.
        const qsizetype tailSize = m_tail.size();
        m_tail.append(bytes.first(std::min(m - 1, bytes.size())));
        scan(m_pattern, m_tail, 0, tailSize, [&](qsizetype s) {
            ++m_matches;
            qsizetype rest = s;
            for (const TailPiece &piece : m_tailPieces) {
                if (rest < piece.length) {
                    found(piece.tag, piece.offset + rest);
                    return;
                }
                rest -= piece.length;
            }
        });
        m_tail.truncate(tailSize);
    }

    scan(m_pattern, bytes, 0, bytes.size(), [&](qsizetype s) {
        ++m_matches;
        found(tag, s);
    });

    // The new tail: the last m-1 bytes of tail + piece.
    const qsizetype keep = m - 1;
    if (keep == 0)
        return;
    if (bytes.size() >= keep) {
        m_tail.resize(keep);
        std::memcpy(m_tail.data(), bytes.data() + (bytes.size() - keep), size_t(keep));
        m_tailPieces.assign(1, TailPiece{tag, bytes.size() - keep, keep});
        return;
    }
    m_tail.append(bytes);
    m_tailPieces.push_back(TailPiece{tag, 0, bytes.size()});
    qsizetype drop = m_tail.size() - keep;
    if (drop > 0) {
        m_tail.remove(0, drop);
        while (drop > 0) {
            TailPiece &front = m_tailPieces.front();
            const qsizetype cut = std::min(drop, front.length);
            front.offset += cut;
            front.length -= cut;
            drop -= cut;
            if (front.length == 0)
                m_tailPieces.erase(m_tailPieces.begin());
        }
    }
}
