#pragma once

#include <QtGlobal>

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

    qint64 size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }

    T &operator[](qint64 i) { return m_chunks[size_t(i / ChunkSize)][size_t(i % ChunkSize)]; }
    const T &operator[](qint64 i) const { return m_chunks[size_t(i / ChunkSize)][size_t(i % ChunkSize)]; }
    T &last() { return (*this)[m_size - 1]; }
    const T &last() const { return (*this)[m_size - 1]; }

    void append(const T &value)
    {
        if (size_t(m_size / ChunkSize) == m_chunks.size())
            m_chunks.push_back(std::make_unique<T[]>(size_t(ChunkSize)));
        (*this)[m_size] = value;
        ++m_size;
    }

    void clear()
    {
        m_chunks.clear();
        m_size = 0;
    }

private:
    std::vector<std::unique_ptr<T[]>> m_chunks;
    qint64 m_size = 0;
};
