#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <vector>

class SpillFile;

// Gives a byte store's block back: to the system for mapped blocks (see
// ByteStore::newBlock), to the heap for small ones.
struct ByteBlockFree
{
    size_t size = 0;
    void operator()(char *block) const;
};

// A byte string held in chunks, for texts that grow to gigabytes: appending
// fills the last chunk and starts a new one when it is full, so it never
// moves or even reads the bytes already held, and an edit in the middle
// rewrites only the chunks it spans. With a spill file set, the oldest chunks
// are written out to it and dropped from memory once the chunks in memory
// pass a limit; they are read back from the file when asked for.
//
// Positions are clamped as ByteEdit clamps them: past the end counts as the
// end, negative as 0.
class ByteStore
{
public:
    // Bytes per chunk as appending fills them; edited chunks may hold from a
    // few bytes up to twice this.
    static constexpr qsizetype DefaultChunkBytes = 64 * 1024;

    ByteStore();
    ~ByteStore();
    ByteStore(const ByteStore &) = delete;
    ByteStore &operator=(const ByteStore &) = delete;

    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }

    char at(qsizetype position) const;

    // Copies [from, from + length) (clamped) into `out`, returning how many
    // bytes it copied.
    qsizetype read(qsizetype from, qsizetype length, char *out) const;
    QByteArray mid(qsizetype from, qsizetype length) const;
    QByteArray toByteArray() const { return mid(0, m_size); }

    void append(QByteArrayView bytes);
    // B[0..start) + insert + B[start+length..).
    void replace(qsizetype start, qsizetype length, QByteArrayView insert);
    void remove(qsizetype start, qsizetype length) { replace(start, length, {}); }
    void assign(QByteArrayView bytes);
    void clear();

    // Chunks beyond `memoryLimit` bytes in memory go to `file` (oldest
    // first); a null file keeps everything in memory. The store does not own
    // the file.
    void setSpill(SpillFile *file, qsizetype memoryLimit);
    // Bytes held in memory (the chunks' blocks), and bytes held in the file.
    qsizetype memoryBytes() const { return m_memoryBytes; }
    qsizetype spilledBytes() const { return m_size - m_memoryBytes; }

    // Bytes an append could not keep: the spill file refused them (disk full)
    // and memory was at its limit. They are counted here, never silently
    // dropped: the owner shows the count.
    qint64 lostBytes() const { return m_lost; }
    // Whether the last spill failed, with the reason.
    bool spillFailing() const { return !m_spillError.isEmpty(); }
    QString spillError() const { return m_spillError; }

    // Another chunk size (at least 2), for an empty store: tests use tiny
    // chunks so that short texts span many of them.
    void setChunkBytes(qsizetype bytes);
    qsizetype chunkBytes() const { return m_chunkBytes; }

    // For tests: chunks in use and whether their bookkeeping is consistent.
    qsizetype chunkCount() const { return qsizetype(m_chunks.size()); }
    bool isConsistent() const;

private:
    // A chunk's bytes. Blocks of a chunk's usual size and up are mapped
    // pages of their own rather than heap memory, so that a block given back
    // goes back to the system whole: on the heap, the holes the oldest
    // chunks leave as they go to the file get split by the program's
    // smaller allocations and the heap grows past the store's limit.
    using Block = std::unique_ptr<char[], ByteBlockFree>;
    static Block newBlock(qsizetype capacity);

    struct Chunk
    {
        Block data;          // null while the chunk is in the file
        qsizetype start = 0; // position of the chunk's first byte
        qsizetype size = 0;
        qsizetype capacity = 0;
        qint64 fileOffset = -1; // where the file holds it, if it does
    };

    qsizetype chunkAt(qsizetype position) const;
    const char *chunkData(qsizetype index) const;
    Chunk newChunk(qsizetype capacity);
    void renumberFrom(qsizetype index);
    void spillOldest();

    qsizetype m_chunkBytes = DefaultChunkBytes;
    std::vector<Chunk> m_chunks;
    qsizetype m_size = 0;
    qsizetype m_memoryBytes = 0;
    qint64 m_lost = 0;

    SpillFile *m_spill = nullptr;
    qsizetype m_memoryLimit = 0;
    qsizetype m_spilledChunks = 0; // chunks [0, m_spilledChunks) were looked at for spilling
    QString m_spillError;

    // Blocks of full chunks sent to the file, kept for the next chunks that
    // appending starts: a long session then reuses the same few blocks
    // instead of handing them back to the allocator, whose free space would
    // be split by smaller allocations in between and grow the heap past the
    // limit.
    std::vector<Block> m_spare;

    // The last chunk read back from the file, for reads of old bytes.
    mutable qsizetype m_cachedIndex = -1;
    mutable std::unique_ptr<char[]> m_cache;
};
