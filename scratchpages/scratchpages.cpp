#include "scratchpages.h"

#include "scratchfile.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace {

size_t pageBytes()
{
    static const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    return page;
}

} // namespace

ScratchPages::~ScratchPages()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ScratchPages::open(const QString &folder)
{
    m_wanted = true;
    m_folder = folder;
    if (m_fd >= 0)
        return true;
    m_fd = openUnlinkedFile(folder, "index");
    if (m_fd < 0) {
        m_error = folderError(folder, errno);
        return false;
    }
    m_end = 0;
    m_error.clear();
    return true;
}

ScratchPages::Block ScratchPages::allocate(size_t bytes)
{
    const size_t page = pageBytes();
    bytes = (bytes + page - 1) / page * page;
    if (m_fd < 0) {
        if (m_wanted)
            ++m_anonymous;
        return anonymous(bytes);
    }
    // Reserved first: the mapping is then never written over a hole.
    int r;
    do
        r = ::fallocate(m_fd, 0, off_t(m_end), off_t(bytes));
    while (r != 0 && errno == EINTR);
    if (r == 0) {
        // Populated now, so that whoever fills the block does not fault on
        // each page of it.
        void *pages = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, m_fd, off_t(m_end));
        if (pages != MAP_FAILED) {
            const Block block{static_cast<char *>(pages), bytes, true, m_end};
            m_end += qint64(bytes);
            return block;
        }
    }
    m_error = folderError(m_folder, errno);
    ++m_anonymous;
    return anonymous(bytes);
}

ScratchPages::Block ScratchPages::anonymous(size_t bytes)
{
    void *pages = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED)
        throw std::bad_alloc();
    return Block{static_cast<char *>(pages), bytes, false, 0};
}

void ScratchPages::release(const Block &block)
{
    if (!block.data)
        return;
    ::munmap(block.data, block.bytes);
    // Not every file system can punch holes; the space then comes back when
    // the file is closed.
    if (block.inFile && m_fd >= 0)
        ::fallocate(m_fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, off_t(block.fileOffset), off_t(block.bytes));
}

void ScratchPages::evict(const Block &block)
{
    // A shared file mapping's pages only leave this process: the page cache
    // and then the file keep their bytes. Anonymous pages would be lost.
    if (block.inFile)
        ::madvise(block.data, block.bytes, MADV_DONTNEED);
}
