#include "blockreserve.h"

#include <sys/mman.h>
#include <unistd.h>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

BlockReserve::BlockReserve(size_t blockBytes, size_t ready)
    : m_blockBytes(blockBytes)
    , m_target(ready)
{
    m_ready.reserve(ready);
    m_helper = std::thread([this] { run(); });
}

BlockReserve::~BlockReserve()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_helper.join();
    for (char *block : m_ready)
        ::munmap(block, m_blockBytes);
}

BlockReserve &BlockReserve::shared()
{
    static BlockReserve *const reserve = new BlockReserve(64 * 1024, 4);
    return *reserve;
}

char *BlockReserve::prepare() const
{
    void *pages = ::mmap(nullptr, m_blockBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED)
        return nullptr;
    char *block = static_cast<char *>(pages);
    // A kernel without the populate advice gets each page written instead.
    if (::madvise(block, m_blockBytes, MADV_POPULATE_WRITE) != 0) {
        const size_t page = size_t(::sysconf(_SC_PAGESIZE));
        for (size_t at = 0; at < m_blockBytes; at += page)
            static_cast<volatile char *>(block)[at] = 0;
    }
    return block;
}

void BlockReserve::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || (!m_failed && m_ready.size() < m_target); });
        if (m_stop)
            return;
        // Mapping and faulting happen unlocked: take() must not wait on them.
        lock.unlock();
        char *block = prepare();
        lock.lock();
        if (!block) {
            m_failed = true;
            m_filled.notify_all();
            continue;
        }
        if (m_ready.size() < m_target && !m_stop) {
            m_ready.push_back(block);
            block = nullptr;
        }
        if (m_ready.size() >= m_target)
            m_filled.notify_all();
        if (block) {
            lock.unlock();
            ::munmap(block, m_blockBytes);
            lock.lock();
        }
    }
}

char *BlockReserve::take()
{
    char *block = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_failed = false;
        if (m_ready.empty()) {
            ++m_misses;
        } else {
            block = m_ready.back();
            m_ready.pop_back();
        }
    }
    m_wake.notify_one();
    return block;
}

size_t BlockReserve::readyCount() const
{
    std::lock_guard lock(m_mutex);
    return m_ready.size();
}

size_t BlockReserve::misses() const
{
    std::lock_guard lock(m_mutex);
    return m_misses;
}

void BlockReserve::waitFull() const
{
    std::unique_lock lock(m_mutex);
    m_filled.wait(lock, [this] { return m_ready.size() >= m_target || m_failed; });
}
