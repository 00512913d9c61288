#include "blockreserve.h"

#include <QTest>

#include <cstring>
#include <set>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

long threadFaults()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

// Pages of [block, block + bytes) that are not resident.
size_t absentPages(char *block, size_t bytes)
{
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident(bytes / page);
    if (mincore(block, bytes, resident.data()) != 0)
        return bytes / page;
    size_t absent = 0;
    for (unsigned char r : resident)
        absent += (r & 1) ? 0 : 1;
    return absent;
}

} // namespace

class tst_BlockReserve : public QObject
{
    Q_OBJECT

private slots:
    void readyBlocksTakeNoFaults();
    void emptyReserveSaysSoAndRefills();
};

// A block from the reserve has every page in place: writing all of it costs
// the taking thread no page fault, and the blocks are distinct.
void tst_BlockReserve::readyBlocksTakeNoFaults()
{
    constexpr size_t Bytes = 256 * 1024;
    BlockReserve reserve(Bytes, 3);
    reserve.waitFull();
    QCOMPARE(reserve.readyCount(), size_t(3));

    std::vector<char *> blocks;
    for (int i = 0; i < 3; ++i) {
        char *block = reserve.take();
        QVERIFY(block);
        QCOMPARE(absentPages(block, Bytes), size_t(0));
        const long before = threadFaults();
        std::memset(block, 0x5A + i, Bytes);
#ifndef __SANITIZE_ADDRESS__
        // (The address sanitizer's checks of the write touch its own shadow
        // pages, which fault whatever the block holds.)
        QCOMPARE(threadFaults() - before, 0L);
#else
        Q_UNUSED(before);
#endif
        blocks.push_back(block);
    }
    // Each kept its own bytes: no two blocks share memory.
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(blocks[size_t(i)][0], char(0x5A + i));
        QCOMPARE(blocks[size_t(i)][Bytes - 1], char(0x5A + i));
    }
    QCOMPARE(std::set<char *>(blocks.begin(), blocks.end()).size(), size_t(3));
    QCOMPARE(reserve.misses(), size_t(0));
    for (char *block : blocks)
        munmap(block, Bytes);
}

// Taking faster than the helper fills gives null rather than waiting, and is
// counted; the helper then fills the reserve again with fresh blocks.
void tst_BlockReserve::emptyReserveSaysSoAndRefills()
{
    constexpr size_t Bytes = 64 * 1024;
    BlockReserve reserve(Bytes, 2);
    reserve.waitFull();
    std::vector<char *> taken;
    size_t nulls = 0;
    // Far more takes than the reserve holds, with no pause between them.
    for (int i = 0; i < 10000; ++i) {
        if (char *block = reserve.take())
            taken.push_back(block);
        else
            ++nulls;
    }
    QVERIFY(taken.size() >= 2);
    QCOMPARE(reserve.misses(), nulls);
    QCOMPARE(taken.size() + nulls, size_t(10000));

    reserve.waitFull();
    QCOMPARE(reserve.readyCount(), size_t(2));
    char *again = reserve.take();
    QVERIFY(again);
    QCOMPARE(absentPages(again, Bytes), size_t(0));
    QVERIFY(std::find(taken.begin(), taken.end(), again) == taken.end());
    munmap(again, Bytes);
    for (char *block : taken)
        munmap(block, Bytes);
}

QTEST_APPLESS_MAIN(tst_BlockReserve)
#include "tst_blockreserve.moc"
