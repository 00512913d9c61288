#pragma once

#include <QtGlobal>

#include <atomic>
#include <memory>
#include <vector>

// An append-only array kept in fixed chunks: growing never copies or moves
// what is stored, so memory stays at the entries' own size (no doubling) and
// an entry below the size another thread has been told of stays readable
// while the array grows (the chunk table is reserved once, up front).
template<typename T, qint64 ChunkSize = 65536>
class ChunkedArray
{
public:
    ChunkedArray() { m_chunks.reserve(16384); }

    qint64 size() const { return m_size.load(std::memory_order_acquire); }
    bool isEmpty() const { return size() == 0; }

    T &operator[](qint64 i) { return m_chunks[size_t(i / ChunkSize)][size_t(i % ChunkSize)]; }
    const T &operator[](qint64 i) const { return m_chunks[size_t(i / ChunkSize)][size_t(i % ChunkSize)]; }
    T &last() { return (*this)[size() - 1]; }
    const T &last() const { return (*this)[size() - 1]; }

    // Only one thread appends; others may read entries below size().
    void append(const T &value)
    {
        const qint64 n = m_size.load(std::memory_order_relaxed);
        if (size_t(n / ChunkSize) == m_chunks.size())
            m_chunks.push_back(std::make_unique<T[]>(size_t(ChunkSize)));
        (*this)[n] = value;
        m_size.store(n + 1, std::memory_order_release);
    }

    void clear()
    {
        m_chunks.clear();
        m_size.store(0, std::memory_order_release);
    }

private:
    std::vector<std::unique_ptr<T[]>> m_chunks;
    std::atomic<qint64> m_size{0};
};
