#pragma once

#include "scratchpages.h"

#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <new>
#include <type_traits>
#include <vector>

// An append-only array kept in fixed chunks: growing never copies or moves
// what is stored, so memory stays at the entries' own size (no doubling) and
// an entry below the size another thread has been told of stays readable
// while the array grows (the chunk table is reserved once, up front, for
// more entries than any session makes).
//
// With a scratch folder (useScratchFile), the chunks are mapped from an
// unlinked file there (see ScratchPages): the chunk being filled stays
// resident, so appending never faults; a full one leaves resident memory as
// soon as the next one starts, and is faulted back in from the file when
// read, so a session of any length keeps one chunk in memory. releaseOld()
// drops again what readers faulted back in.
template<typename T, qint64 ChunkSize = 65536>
class ChunkedArray
{
    static_assert(std::is_trivially_copyable_v<T>, "entries live in raw mapped pages");

public:
    static constexpr qint64 MaxChunks = qint64(1) << 20;

    ChunkedArray() { m_chunks.reserve(size_t(MaxChunks)); }
    ~ChunkedArray() { clear(); }
    ChunkedArray(const ChunkedArray &) = delete;
    ChunkedArray &operator=(const ChunkedArray &) = delete;

    // Keeps the chunks made from now on in a scratch file in `folder`. False,
    // with storageError(), when the file cannot be made: chunks then stay in
    // memory, each counted by memoryOnlyChunks().
    bool useScratchFile(const QString &folder) { return m_pages.open(folder); }

    qint64 size() const { return m_size.load(std::memory_order_acquire); }
    bool isEmpty() const { return size() == 0; }

    T &operator[](qint64 i) { return entries(i / ChunkSize)[i % ChunkSize]; }
    const T &operator[](qint64 i) const { return entries(i / ChunkSize)[i % ChunkSize]; }
    T &last() { return (*this)[size() - 1]; }
    const T &last() const { return (*this)[size() - 1]; }

    // Only one thread appends; others may read entries below size().
    void append(const T &value)
    {
        const qint64 n = m_size.load(std::memory_order_relaxed);
        if (n / ChunkSize == qint64(m_chunks.size()))
            addChunk();
        (*this)[n] = value;
        m_size.store(n + 1, std::memory_order_release);
    }

    // Lets up to `count` of the full chunks' pages leave resident memory
    // again (readers fault them in), going round them a few per call. On the
    // appending thread.
    void releaseOld(qint64 count)
    {
        const qint64 old = qint64(m_chunks.size()) - 1;
        for (qint64 k = 0; k < count && old > 0; ++k) {
            if (m_sweep >= old)
                m_sweep = 0;
            ScratchPages::evict(m_chunks[size_t(m_sweep++)]);
        }
    }

    // Chunks that had to stay in memory because the scratch file could not
    // take them, and why the last one could not.
    qint64 memoryOnlyChunks() const { return m_pages.anonymousBlocks(); }
    QString storageError() const { return m_pages.errorString(); }

    void clear()
    {
        m_size.store(0, std::memory_order_release);
        for (const ScratchPages::Block &b : m_chunks)
            m_pages.release(b);
        m_chunks.clear();
        m_sweep = 0;
    }

private:
    T *entries(qint64 chunk) const { return reinterpret_cast<T *>(m_chunks[size_t(chunk)].data); }

    void addChunk()
    {
        if (qint64(m_chunks.size()) == MaxChunks)
            throw std::bad_alloc();
        m_chunks.push_back(m_pages.allocate(size_t(ChunkSize) * sizeof(T)));
        // The chunk just filled leaves memory; the file keeps it.
        if (m_chunks.size() >= 2)
            ScratchPages::evict(m_chunks[m_chunks.size() - 2]);
    }

    ScratchPages m_pages;
    std::vector<ScratchPages::Block> m_chunks;
    std::atomic<qint64> m_size{0};
    qint64 m_sweep = 0; // the next old chunk releaseOld() looks at
};
