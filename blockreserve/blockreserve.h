#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

// Mapped blocks of one size whose every page is already faulted in, kept
// ready by a helper thread. The first write to a fresh page is slow on some
// machines (a virtual machine's host backs the page only then); a store that
// takes its blocks from here pays that on the helper thread instead of on
// the thread that receives.
//
// take() never waits for the helper: when it is behind, take() says so
// (null) and the caller maps a block itself. The caller owns a block it took
// and unmaps it (munmap, blockBytes()) when done.
class BlockReserve
{
public:
    // Keeps up to `ready` blocks of `blockBytes` (a multiple of the page size).
    BlockReserve(size_t blockBytes, size_t ready);
    // Stops the helper and unmaps the blocks still kept.
    ~BlockReserve();
    BlockReserve(const BlockReserve &) = delete;
    BlockReserve &operator=(const BlockReserve &) = delete;

    size_t blockBytes() const { return m_blockBytes; }

    // A block with all its pages touched, or null when none is ready.
    char *take();
    // Blocks kept now, and how many take() calls found none.
    size_t readyCount() const;
    size_t misses() const;
    // Waits until the helper has filled the reserve (for tests and
    // benchmarks that want a known state; not used on any hot path).
    void waitFull() const;

    // The process-wide reserve of 64 KiB blocks that byte stores use. It is
    // never destroyed: stores that outlive main() may still take from it.
    static BlockReserve &shared();

private:
    void run();
    char *prepare() const;

    const size_t m_blockBytes;
    const size_t m_target;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_wake;   // the helper: room to fill
    mutable std::condition_variable m_filled; // waitFull: reserve full
    std::vector<char *> m_ready;
    size_t m_misses = 0;
    bool m_stop = false;
    bool m_failed = false; // the last mapping failed: wait for the next take
    std::thread m_helper;
};
