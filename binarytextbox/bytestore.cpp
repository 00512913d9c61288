#include "bytestore.h"

#include "spillfile.h"

#include "blockreserve.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <sys/mman.h>

namespace {
// Blocks from this size up are mapped pages of their own.
constexpr size_t MappedBlockBytes = 64 * 1024;
// Full chunk blocks kept for reuse once spilled.
constexpr size_t SpareChunks = 2;

qsizetype clampTo(qsizetype pos, qsizetype size)
{
    return std::clamp<qsizetype>(pos, 0, size);
}
} // namespace

void ByteBlockFree::operator()(char *block) const
{
    if (size >= MappedBlockBytes)
        ::munmap(block, size);
    else
        delete[] block;
}

ByteStore::Block ByteStore::newBlock(qsizetype capacity)
{
    const size_t size = size_t(capacity);
    if (size < MappedBlockBytes)
        return Block(new char[size], ByteBlockFree{size});
    // Blocks of the usual size come with their pages already touched, so
    // that filling them on the receive path takes no page faults.
    BlockReserve &reserve = BlockReserve::shared();
    if (size == reserve.blockBytes()) {
        if (char *ready = reserve.take())
            return Block(ready, ByteBlockFree{size});
    }
    void *pages = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED)
        throw std::bad_alloc();
    return Block(static_cast<char *>(pages), ByteBlockFree{size});
}

ByteStore::ByteStore() = default;

ByteStore::~ByteStore()
{
    clear();
}

qsizetype ByteStore::chunkAt(qsizetype position) const
{
    // The chunk holding `position`; the end position belongs to the last chunk.
    const auto it = std::upper_bound(m_chunks.begin(), m_chunks.end(), position,
                                     [](qsizetype p, const Chunk &chunk) { return p < chunk.start; });
    return qMax<qsizetype>(0, qsizetype(it - m_chunks.begin()) - 1);
}

const char *ByteStore::chunkData(qsizetype index) const
{
    const Chunk &chunk = m_chunks[size_t(index)];
    if (chunk.data)
        return chunk.data.get();
    if (m_cachedIndex != index) {
        m_cache.reset(new char[size_t(chunk.size)]);
        if (!m_spill || !m_spill->read(chunk.fileOffset, chunk.size, m_cache.get()))
            std::memset(m_cache.get(), 0, size_t(chunk.size));
        m_cachedIndex = index;
    }
    return m_cache.get();
}

char ByteStore::at(qsizetype position) const
{
    if (position < 0 || position >= m_size)
        return 0;
    const qsizetype i = chunkAt(position);
    return chunkData(i)[position - m_chunks[size_t(i)].start];
}

qsizetype ByteStore::read(qsizetype from, qsizetype length, char *out) const
{
    const qsizetype begin = clampTo(from, m_size);
    const qsizetype end = begin + clampTo(length, m_size - begin);
    qsizetype at = begin;
    for (qsizetype i = begin < end ? chunkAt(begin) : 0; at < end; ++i) {
        const qsizetype offset = at - m_chunks[size_t(i)].start;
        const qsizetype n = qMin(m_chunks[size_t(i)].size - offset, end - at);
        std::memcpy(out + (at - begin), chunkData(i) + offset, size_t(n));
        at += n;
    }
    return end - begin;
}

QByteArray ByteStore::mid(qsizetype from, qsizetype length) const
{
    const qsizetype begin = clampTo(from, m_size);
    const qsizetype n = clampTo(length, m_size - begin);
    QByteArray out(n, Qt::Uninitialized);
    read(begin, n, out.data());
    return out;
}

ByteStore::Chunk ByteStore::newChunk(qsizetype capacity)
{
    Chunk chunk;
    if (capacity == m_chunkBytes && !m_spare.empty()) {
        chunk.data = std::move(m_spare.back());
        m_spare.pop_back();
    } else {
        chunk.data = newBlock(capacity);
    }
    chunk.capacity = capacity;
    m_memoryBytes += capacity;
    return chunk;
}

void ByteStore::append(QByteArrayView bytes)
{
    const char *from = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        if (m_chunks.empty() || !m_chunks.back().data || m_chunks.back().size == m_chunks.back().capacity) {
            if (m_spill && m_memoryBytes + m_chunkBytes > m_memoryLimit)
                spillOldest();
            // The file refuses and memory is full: what cannot be kept is
            // counted, and the next append tries the file again.
            if (m_spill && m_memoryBytes + m_chunkBytes > m_memoryLimit + m_memoryLimit / 8) {
                m_lost += left;
                return;
            }
            m_chunks.push_back(newChunk(m_chunkBytes));
            m_chunks.back().start = m_size;
        }
        Chunk &tail = m_chunks.back();
        const qsizetype n = qMin(left, tail.capacity - tail.size);
        std::memcpy(tail.data.get() + tail.size, from, size_t(n));
        tail.size += n;
        m_size += n;
        from += n;
        left -= n;
    }
}

void ByteStore::renumberFrom(qsizetype index)
{
    qsizetype start = index > 0 ? m_chunks[size_t(index - 1)].start + m_chunks[size_t(index - 1)].size : 0;
    for (size_t i = size_t(index); i < m_chunks.size(); ++i) {
        m_chunks[i].start = start;
        start += m_chunks[i].size;
    }
    m_size = start;
}

void ByteStore::replace(qsizetype start, qsizetype length, QByteArrayView insert)
{
    const qsizetype begin = clampTo(start, m_size);
    // start + length may overflow for absurd lengths; clamp the length first.
    const qsizetype end = begin + clampTo(length, m_size - begin);
    if (begin == end && insert.isEmpty())
        return;
    if (begin == m_size) {
        append(insert);
        return;
    }

    // The chunks the edit spans are rebuilt from what stays of their first
    // and last one and the inserted bytes; every other chunk is untouched.
    const qsizetype first = chunkAt(begin);
    const qsizetype last = end > begin ? chunkAt(end - 1) : first;
    const qsizetype headLength = begin - m_chunks[size_t(first)].start;
    const qsizetype tailFrom = end - m_chunks[size_t(last)].start;
    const qsizetype tailLength = m_chunks[size_t(last)].size - tailFrom;
    QByteArray joined;
    joined.reserve(headLength + insert.size() + tailLength);
    joined.append(chunkData(first), headLength);
    joined.append(insert);
    joined.append(chunkData(last) + tailFrom, tailLength);

    for (qsizetype i = first; i <= last; ++i) {
        Chunk &chunk = m_chunks[size_t(i)];
        if (chunk.data)
            m_memoryBytes -= chunk.capacity;
        else if (m_spill)
            m_spill->release(chunk.fileOffset, chunk.size);
    }
    m_chunks.erase(m_chunks.begin() + first, m_chunks.begin() + last + 1);
    m_cachedIndex = -1;
    m_spilledChunks = qMin(m_spilledChunks, first);

    // Typing into a chunk lets it grow up to twice the usual size before it
    // is cut into pieces again; a big paste becomes full-size chunks.
    std::vector<Chunk> pieces;
    const qsizetype total = joined.size();
    const qsizetype pieceSize = total <= 2 * m_chunkBytes ? qMax<qsizetype>(total, 1) : m_chunkBytes;
    for (qsizetype at = 0; at < total; at += pieceSize) {
        const qsizetype n = qMin(pieceSize, total - at);
        const bool isTail = first == qsizetype(m_chunks.size()) && at + n == total;
        Chunk chunk = newChunk(isTail ? qMax(n, m_chunkBytes) : n);
        std::memcpy(chunk.data.get(), joined.constData() + at, size_t(n));
        chunk.size = n;
        pieces.push_back(std::move(chunk));
    }
    m_chunks.insert(m_chunks.begin() + first, std::make_move_iterator(pieces.begin()),
                    std::make_move_iterator(pieces.end()));

    // A chunk emptied by deleting goes; a small one joins its neighbour, so
    // many edits cannot leave the store in crumbs.
    const qsizetype edited = first + qsizetype(pieces.size()) - 1;
    if (!pieces.empty() && edited + 1 < qsizetype(m_chunks.size())) {
        Chunk &a = m_chunks[size_t(edited)];
        Chunk &b = m_chunks[size_t(edited + 1)];
        if (a.data && b.data && a.size + b.size <= m_chunkBytes / 2) {
            const bool tail = edited + 2 == qsizetype(m_chunks.size());
            Chunk merged = newChunk(tail ? m_chunkBytes : a.size + b.size);
            std::memcpy(merged.data.get(), a.data.get(), size_t(a.size));
            std::memcpy(merged.data.get() + a.size, b.data.get(), size_t(b.size));
            merged.size = a.size + b.size;
            m_memoryBytes -= a.capacity + b.capacity;
            m_chunks[size_t(edited)] = std::move(merged);
            m_chunks.erase(m_chunks.begin() + edited + 1);
        }
    }
    renumberFrom(first);
    if (m_spill && m_memoryBytes + m_chunkBytes > m_memoryLimit)
        spillOldest();
}

void ByteStore::assign(QByteArrayView bytes)
{
    clear();
    append(bytes);
}

void ByteStore::clear()
{
    if (m_spill) {
        for (const Chunk &chunk : m_chunks) {
            if (!chunk.data)
                m_spill->release(chunk.fileOffset, chunk.size);
        }
    }
    m_chunks.clear();
    m_spare.clear();
    m_size = 0;
    m_memoryBytes = 0;
    m_spilledChunks = 0;
    m_cachedIndex = -1;
    m_cache.reset();
}

void ByteStore::setChunkBytes(qsizetype bytes)
{
    if (m_chunks.empty()) {
        m_chunkBytes = qMax<qsizetype>(2, bytes);
        m_spare.clear(); // blocks of the old size
    }
}

void ByteStore::setSpill(SpillFile *file, qsizetype memoryLimit)
{
    m_spill = file;
    m_memoryLimit = qMax(memoryLimit, 4 * m_chunkBytes);
    m_spillError.clear();
    if (m_spill && m_memoryBytes > m_memoryLimit)
        spillOldest();
}

void ByteStore::spillOldest()
{
    // The tail chunk stays: it is the one being filled.
    const qsizetype last = qsizetype(m_chunks.size()) - 1;
    while (m_memoryBytes + m_chunkBytes > m_memoryLimit && m_spilledChunks < last) {
        Chunk &chunk = m_chunks[size_t(m_spilledChunks)];
        if (chunk.data) {
            const qint64 offset = m_spill->write(chunk.data.get(), chunk.size);
            if (offset < 0) {
                m_spillError = m_spill->errorString();
                return;
            }
            m_memoryBytes -= chunk.capacity;
            if (chunk.capacity == m_chunkBytes && m_spare.size() < SpareChunks)
                m_spare.push_back(std::move(chunk.data));
            chunk.data.reset();
            chunk.capacity = 0;
            chunk.fileOffset = offset;
        }
        ++m_spilledChunks;
    }
    m_spillError.clear();
}

bool ByteStore::isConsistent() const
{
    qsizetype start = 0;
    qsizetype memory = 0;
    for (size_t i = 0; i < m_chunks.size(); ++i) {
        const Chunk &c = m_chunks[i];
        if (c.start != start || c.size <= 0 || c.size > 2 * m_chunkBytes)
            return false;
        if (c.data ? c.size > c.capacity : c.fileOffset < 0)
            return false;
        if (c.data)
            memory += c.capacity;
        start += c.size;
    }
    return start == m_size && memory == m_memoryBytes;
}
