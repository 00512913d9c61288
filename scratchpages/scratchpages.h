#pragma once

#include <QString>
#include <QtGlobal>

#include <cstddef>

// Memory for data that only grows and is mostly read long after it was
// written (an index of events): blocks mapped shared from an unlinked
// scratch file, so that a block's pages can leave resident memory (evict)
// while the file keeps its bytes; a later read faults them back in from the
// page cache or the disk.
//
// Each block's disk space is reserved before the block is mapped: a write
// into a shared mapping of a file hole on a full disk kills the program with
// SIGBUS, a reserved block can always be written. When the space cannot be
// had, or there is no file, the block comes from anonymous memory instead: it
// stays resident, evict leaves it alone, and anonymousBlocks() counts it.
//
// allocate() and release() belong to one thread; evict() may be called from
// any thread, also while others read the block.
class ScratchPages
{
public:
    struct Block
    {
        char *data = nullptr;
        size_t bytes = 0;
        bool inFile = false;   // mapped from the file (else anonymous memory)
        qint64 fileOffset = 0; // where in the file, when it is
    };

    // Without open(), every block is anonymous memory.
    ScratchPages() = default;
    // The blocks stay valid (a mapping keeps its file): release them apart.
    ~ScratchPages();
    ScratchPages(const ScratchPages &) = delete;
    ScratchPages &operator=(const ScratchPages &) = delete;

    // Makes the file in `folder` (which must exist). False, with
    // errorString(), when it cannot; blocks then come from anonymous memory.
    bool open(const QString &folder);
    bool isOpen() const { return m_fd >= 0; }

    // A zero-filled block of at least `bytes` (whole pages), its pages
    // resident. Throws std::bad_alloc when not even anonymous memory can be
    // had.
    Block allocate(size_t bytes);
    // Unmaps the block and gives its disk space back.
    void release(const Block &block);
    // Lets a file block's pages leave resident memory; its bytes stay.
    static void evict(const Block &block);

    // Blocks that came from anonymous memory because the file could not
    // take them, and why the last one could not.
    qint64 anonymousBlocks() const { return m_anonymous; }
    QString errorString() const { return m_error; }

private:
    Block anonymous(size_t bytes);

    int m_fd = -1;
    bool m_wanted = false; // open() was called: anonymous blocks are a shortfall
    QString m_folder;
    qint64 m_end = 0; // the file's size: blocks are laid one after another
    qint64 m_anonymous = 0;
    QString m_error;
};
