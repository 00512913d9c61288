#include "blockreserve.h"

#include <sys/mman.h>

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
    // A private writable mapping is populated by writing: every page is then
    // the block's own, not the shared zero page that a read would map.
    void *pages
        = ::mmap(nullptr, m_blockBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return pages == MAP_FAILED ? nullptr : static_cast<char *>(pages);
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
