#include "chunkedarray.h"
#include "sessionrecord.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

constexpr qint64 Chunk = 4096;             // entries per chunk: 32 KiB of quint64
constexpr qint64 Entries = 256 * Chunk;    // 8 MiB in all
constexpr qint64 OneMiB = qint64(1) << 20; // well under what the array holds

using Array = ChunkedArray<quint64, Chunk>;

// A value no other index has, so that a stale or zeroed page shows.
quint64 valueAt(qint64 i)
{
    return quint64(i) * 0x9E3779B97F4A7C15ull + 1;
}

// The process's resident memory (anonymous, file and shared pages).
qint64 residentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == "VmRSS:") {
            qint64 kib = 0;
            status >> kib;
            return kib * 1024;
        }
    }
    return -1;
}

// Lets no file grow past its present size for as long as it lives, as a
// full disk would (writes beyond fail with EFBIG instead of raising SIGXFSZ).
class NoFileGrowth
{
public:
    NoFileGrowth()
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit none = m_old;
        none.rlim_cur = 1;
        m_ok = ::setrlimit(RLIMIT_FSIZE, &none) == 0;
    }
    ~NoFileGrowth()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_handler);
    }
    bool ok() const { return m_ok; }

private:
    rlimit m_old{};
    void (*m_handler)(int) = nullptr;
    bool m_ok = false;
};

} // namespace

class tst_ChunkedArray : public QObject
{
    Q_OBJECT

private slots:
    void oldEntriesLeaveMemoryAndReadBackFromAnyThread();
    void chunksTheFileRefusesStayInMemoryIntact();
    void recordSaysWhenItsIndexStaysInMemory();
};

// An index many times the size of what stays resident: while one thread
// appends, another reads every entry below the published size, each right;
// resident memory grows by far less than the entries; what the reader
// faulted back in leaves again when the array goes round its old chunks.
void tst_ChunkedArray::oldEntriesLeaveMemoryAndReadBackFromAnyThread()
{
    QTemporaryDir dir;
    Array array;
    QVERIFY(array.useScratchFile(dir.path()));
    const qint64 before = residentBytes();

    std::atomic<qint64> wrong{-1};
    std::atomic<qint64> checked{0};
    std::thread reader([&] {
        qint64 i = 0;
        while (i < Entries) {
            const qint64 size = array.size();
            for (; i < size; ++i) {
                if (array[i] != valueAt(i) && wrong.load() < 0)
                    wrong = i;
            }
            checked = i;
        }
    });
    for (qint64 i = 0; i < Entries; ++i)
        array.append(valueAt(i));
    reader.join();
    QCOMPARE(wrong.load(), -1);
    QCOMPARE(checked.load(), Entries);
    QCOMPARE(array.memoryOnlyChunks(), 0);

    // The reader touched every page again; going round the old chunks lets
    // them go. Without it they stay resident as long as the file is mapped.
    array.releaseOld(Entries / Chunk);
    const qint64 grown = residentBytes() - before;
#if defined(__SANITIZE_ADDRESS__)
    // The address sanitizer's shadow memory and quarantine grow with what
    // is written; resident memory says nothing about the array there.
    const bool sanitized = true;
#else
    const bool sanitized = false;
#endif
    QVERIFY2(sanitized || grown < OneMiB, qPrintable(QStringLiteral("resident grew by %1 KiB for %2 KiB of entries")
                                                         .arg(grown / 1024)
                                                         .arg(Entries * qint64(sizeof(quint64)) / 1024)));

    // Still all there, first and last chunk alike, read from the file.
    for (const qint64 i : {qint64(0), Chunk - 1, Chunk, Entries / 2 + 7, Entries - 1})
        QCOMPARE(array[i], valueAt(i));
    array.clear();
    QCOMPARE(array.size(), 0);
    array.append(valueAt(5));
    QCOMPARE(array[0], valueAt(5));
}

// A disk that cannot take more (here a file size limit): the chunks started
// meanwhile come from memory and are counted, with the reason; those before
// and after stay in the file. Letting the old chunks go must never touch the
// memory-only ones, whose bytes exist nowhere else.
void tst_ChunkedArray::chunksTheFileRefusesStayInMemoryIntact()
{
    QTemporaryDir dir;
    Array array;
    QVERIFY(array.useScratchFile(dir.path()));
    const qint64 third = 3 * Chunk;
    for (qint64 i = 0; i < third; ++i)
        array.append(valueAt(i));
    {
        NoFileGrowth full;
        QVERIFY(full.ok());
        for (qint64 i = third; i < 2 * third; ++i)
            array.append(valueAt(i));
    }
    QCOMPARE(array.memoryOnlyChunks(), 3);
    QVERIFY2(array.storageError().startsWith(dir.path()), qPrintable(array.storageError()));
    for (qint64 i = 2 * third; i < 3 * third; ++i)
        array.append(valueAt(i));
    QCOMPARE(array.memoryOnlyChunks(), 3); // the file takes chunks again

    array.releaseOld(3 * third / Chunk);
    for (qint64 i = 0; i < 3 * third; ++i) {
        if (array[i] != valueAt(i))
            QFAIL(qPrintable(QStringLiteral("entry %1 is wrong").arg(i)));
    }
}

// The record tells, the way it tells of a full spool, that its index had
// to stay in memory; its events still read back.
void tst_ChunkedArray::recordSaysWhenItsIndexStaysInMemory()
{
    QTemporaryDir dir;
    SessionRecord record(dir.path());
    QVERIFY2(record.isValid(), qPrintable(record.errorString()));
    QSignalSpy problems(&record, &SessionRecord::storageProblem);
    {
        NoFileGrowth full;
        QVERIFY(full.ok());
        record.bytesReceived(LineObserver::now(), "first");
    }
    QCOMPARE(problems.count(), 1);
    const QString message = problems.at(0).at(0).toString();
    QVERIFY2(message.startsWith(QStringLiteral("Session record: its index is held in memory")), qPrintable(message));
    QVERIFY2(message.contains(dir.path()), qPrintable(message));
    record.bytesReceived(LineObserver::now(), "second");
    record.flush();
    QCOMPARE(record.eventCount(), 2);
    QCOMPARE(record.payload(0), QByteArray("first"));
    QCOMPARE(record.payload(1), QByteArray("second"));
    QCOMPARE(problems.count(), 1);
}

QTEST_GUILESS_MAIN(tst_ChunkedArray)
#include "tst_chunkedarray.moc"
