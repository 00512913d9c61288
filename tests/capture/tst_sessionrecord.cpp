#include "pcapngfile.h"
#include "sessionrecord.h"
#include "testbytes.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {} // namespace

class tst_SessionRecord : public QObject
{
    Q_OBJECT

private slots:
    void everyEventReadsBackFromIndexAndSpool();
    void spoolBelongsToItsRunUntilThatEnds();
    void lastEventsReachTheSpoolByThemselves();
    void failedWritesAreCountedAndMarked();
};

// One session through every observer call: the index, the payloads (before
// and after the flush), the descriptions and the spool as a pcapng reader
// sees it must all tell the same story.
void tst_SessionRecord::everyEventReadsBackFromIndexAndSpool()
{
    QTemporaryDir dir;
    SessionRecord record(dir.path());
    QVERIFY2(record.isValid(), qPrintable(record.errorString()));
    QVERIFY(record.spoolPath().startsWith(dir.path() + QLatin1Char('/')));
    QSignalSpy appended(&record, &SessionRecord::eventsAppended);

    const qint64 t0 = record.startMonotonic() + 1000;
    const QByteArray bytes = allByteValues();
    LineObserver::ErrorCounters c0;
    LineObserver::ErrorCounters c1;
    c1.framing = 2;
    c1.overrun = 1;
    record.portOpened(t0, QStringLiteral("/dev/ttyS3"), QStringLiteral("9600,N,8,1"), 2, false);
    record.outputLines(t0 + 1, true, false);
    record.inputLines(t0 + 2, true, false, true, false);
    record.errorCounters(t0 + 3, c0);
    record.bytesReceived(t0 + 1'500'000'123, bytes);
    record.bytesSent(t0 + 2'000'000'000, QByteArray("\x01\x03\x00\x00\x00\x02", 6));
    record.bytesReceived(t0 + 2'000'000'001, QByteArray()); // nothing happened
    record.errorCounters(t0 + 3'000'000'000, c1);
    record.breakSent(t0 + 3'000'000'001, 250);
    record.portLost(t0 + 4'000'000'000, QStringLiteral("/dev/ttyS3: gone"));
    record.portOpened(t0 + 5'000'000'000, QStringLiteral("/dev/ttyS3"), QStringLiteral("19200,E,7,2"), 0, true);
    record.noErrorCounters(t0 + 5'000'000'001);
    record.portClosed(t0 + 6'000'000'000);

    const QList<quint8> kinds{RecordEvent::Opened,   RecordEvent::OutputLines,     RecordEvent::InputLines,
                              RecordEvent::Errors,   RecordEvent::Received,        RecordEvent::Sent,
                              RecordEvent::Errors,   RecordEvent::BreakSent,       RecordEvent::PortLost,
                              RecordEvent::Reopened, RecordEvent::NoErrorCounters, RecordEvent::Closed};
    QCOMPARE(record.eventCount(), kinds.size());
    // Readable before the flush, from memory.
    QCOMPARE(record.payload(4), bytes);
    QCOMPARE(record.describe(0), QStringLiteral("Port opened: /dev/ttyS3, 9600,N,8,1, handshake RTS/CTS"));
    QCOMPARE(appended.count(), 0);

    record.flush();
    QCOMPARE(appended.count(), 1);
    QCOMPARE(appended.at(0).at(0).toLongLong(), 0);
    QCOMPARE(appended.at(0).at(1).toLongLong(), kinds.size());
    record.flush();
    QCOMPARE(appended.count(), 1); // nothing new, no signal

    const quint8 dtrCtsCd = RecordEvent::Dtr | RecordEvent::Cts | RecordEvent::Cd;
    for (int i = 0; i < kinds.size(); ++i)
        QCOMPARE(record.event(i).kind, kinds[i]);
    QCOMPARE(record.event(4).time, t0 + 1'500'000'123);
    QCOMPARE(record.event(4).length, 256u);
    QCOMPARE(record.event(4).lines, dtrCtsCd);
    QCOMPARE(record.event(1).lines, quint8(RecordEvent::Dtr));
    QCOMPARE(record.event(8).lines, dtrCtsCd);  // the lines up to the moment it went
    QCOMPARE(record.event(9).lines, quint8(0)); // nothing is known of them until reported again
    QCOMPARE(record.payload(4), bytes);
    QCOMPARE(record.payload(5), QByteArray("\x01\x03\x00\x00\x00\x02", 6));
    QVERIFY(record.payload(3).isEmpty());
    QCOMPARE(record.describe(1), QStringLiteral("DTR on, RTS off"));
    QCOMPARE(record.describe(2), QStringLiteral("CTS on, DSR off, CD on, RI off"));
    QCOMPARE(record.describe(6), QStringLiteral("Line errors: overrun 1, buffer overrun 0, parity 0, framing 2, "
                                                "break 0 (+2 framing, +1 overrun)"));
    QCOMPARE(record.describe(8), QStringLiteral("Port lost: /dev/ttyS3: gone"));
    QCOMPARE(record.describe(9), QStringLiteral("Port reopened: /dev/ttyS3, 19200,E,7,2, handshake none"));
    QCOMPARE(record.mode(), QStringLiteral("19200,E,7,2"));

    const PcapngFile f = readPcapngFile(record.spoolPath());
    QVERIFY2(f.ok, qPrintable(f.error));
    QCOMPARE(f.linkType, quint16(250));
    QCOMPARE(f.tsResolution, 9);
    QCOMPARE(f.packets.size(), kinds.size());
    const QList<quint8> types{0, 0, 0, 0, 2, 1, 7, 9, 0, 0, 0, 0};
    for (int i = 0; i < kinds.size(); ++i) {
        const PcapngPacket &p = f.packets[i];
        const qint64 wall = record.wallTimeNs(record.event(i).time);
        QCOMPARE(p.eventType, types[i]);
        QCOMPARE(p.lines, record.event(i).lines);
        QCOMPARE(p.timestamp, quint64(wall));
        QCOMPARE(p.headerSeconds, quint32(wall / 1000000000));
        QCOMPARE(p.headerMicros, quint32(wall % 1000000000 / 1000));
        QCOMPARE(p.footer, quint16(0));
        QCOMPARE(p.payload, record.payload(i));
        if (!record.event(i).isData())
            QCOMPARE(p.comment, record.describe(i));
        else
            QVERIFY(p.comment.isEmpty());
    }
    const qint64 startMs = record.startTime().toMSecsSinceEpoch();
    QCOMPARE(record.wallTimeNs(record.startMonotonic()) / 1000000, startMs);
}

// The spool is locked by the record that writes it: while it lives no one
// takes it for an orphan; when it ends cleanly the spool goes; a spool kept
// behind (as a crash leaves it) is found by the next run.
void tst_SessionRecord::spoolBelongsToItsRunUntilThatEnds()
{
    QTemporaryDir dir;
    QString kept;
    {
        SessionRecord live(dir.path());
        QVERIFY(QFile::exists(live.spoolPath()));
        QVERIFY(SessionRecord::orphanedSpools(dir.path()).isEmpty());
        QString gone;
        {
            SessionRecord cleanExit(dir.path());
            gone = cleanExit.spoolPath();
            QVERIFY(gone != live.spoolPath());
        }
        QVERIFY(!QFile::exists(gone));
        SessionRecord crashed(dir.path());
        crashed.bytesReceived(LineObserver::now(), "abc");
        crashed.keepSpool();
        kept = crashed.spoolPath();
        QVERIFY(SessionRecord::orphanedSpools(dir.path()).isEmpty());
    }
    QCOMPARE(SessionRecord::orphanedSpools(dir.path()), QStringList{kept});
    const PcapngFile f = readPcapngFile(kept);
    QVERIFY2(f.ok, qPrintable(f.error));
    QCOMPARE(f.packets.size(), 1);
    QCOMPARE(f.packets[0].payload, QByteArray("abc"));
}

// Writes ride on later events; the last ones of a burst, with nothing after
// them, must still reach the file, where a crash would otherwise lose them.
void tst_SessionRecord::lastEventsReachTheSpoolByThemselves()
{
    QTemporaryDir dir;
    SessionRecord record(dir.path());
    QSignalSpy appended(&record, &SessionRecord::eventsAppended);
    record.flush();
    for (int i = 0; i < 3; ++i)
        record.bytesReceived(LineObserver::now(), QByteArray(1, char('a' + i)));
    QTRY_COMPARE(appended.count(), 1);
    QCOMPARE(appended.at(0).at(1).toLongLong(), 3);
    const PcapngFile f = readPcapngFile(record.spoolPath());
    QVERIFY2(f.ok, qPrintable(f.error));
    QCOMPARE(f.packets.size(), 3);
    QCOMPARE(f.packets[2].payload, QByteArray("c"));
}

// A spool that cannot grow (a full disk; here a file size limit) loses
// what waited in memory, but the file stays whole, the loss is counted, the
// lost events are flagged in the index, and the first event after it is a
// marker saying how much was lost.
void tst_SessionRecord::failedWritesAreCountedAndMarked()
{
    QTemporaryDir dir;
    SessionRecord record(dir.path());
    QSignalSpy problems(&record, &SessionRecord::storageProblem);
    record.bytesReceived(LineObserver::now(), "kept before");
    record.flush();
    const qint64 sizeBefore = QFileInfo(record.spoolPath()).size();

    rlimit old{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &old) == 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = rlim_t(sizeBefore + 100); // room for part of a block only
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    record.bytesReceived(LineObserver::now(), QByteArray(5000, 'x'));
    record.bytesSent(LineObserver::now(), QByteArray(7, 'y'));
    record.outputLines(LineObserver::now(), true, true);
    record.flush();
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &old) == 0);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(problems.count(), 1);
    QVERIFY(problems.at(0).at(0).toString().contains(QStringLiteral("5000 bytes received, 7 bytes sent not kept")));
    QCOMPARE(record.lostReceived(), 5000);
    QCOMPARE(record.lostSent(), 7);
    QCOMPARE(QFileInfo(record.spoolPath()).size(), sizeBefore);
    QCOMPARE(record.eventCount(), 4);
    QVERIFY(record.event(1).flags & RecordEvent::FlagLost);
    QVERIFY(record.payload(1).isEmpty());
    QCOMPARE(record.describe(3), QStringLiteral("DTR on, RTS on (not kept: disk full)"));

    record.bytesReceived(LineObserver::now(), "kept after");
    record.flush();
    QCOMPARE(problems.count(), 2);
    QVERIFY(problems.at(1).at(0).toString().isEmpty()); // writing works again
    QCOMPARE(record.eventCount(), 6);
    QCOMPARE(record.event(4).kind, quint8(RecordEvent::NotKept));
    QCOMPARE(record.describe(4), QStringLiteral("Not kept (disk full): 3 events, 5000 bytes received, 7 bytes sent"));
    QCOMPARE(record.payload(5), QByteArray("kept after"));

    const PcapngFile f = readPcapngFile(record.spoolPath());
    QVERIFY2(f.ok, qPrintable(f.error));
    QCOMPARE(f.packets.size(), 3);
    QCOMPARE(f.packets[0].payload, QByteArray("kept before"));
    QCOMPARE(f.packets[1].eventType, quint8(5)); // CAPTURE_DATA_LOST
    QCOMPARE(f.packets[1].comment, record.describe(4));
    QCOMPARE(f.packets[2].payload, QByteArray("kept after"));
}

QTEST_GUILESS_MAIN(tst_SessionRecord)
#include "tst_sessionrecord.moc"
