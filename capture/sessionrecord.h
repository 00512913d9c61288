#pragma once

#include "chunkedarray.h"
#include "lineobserver.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QElapsedTimer>
#include <QTimer>

#include <atomic>

// One entry of the session record's index: what happened, when, and where
// its packet sits in the spool. The bytes themselves stay in the spool file.
struct RecordEvent
{
    enum Kind : quint8 {
        Received = 0,        // bytes read from the device
        Sent = 1,            // bytes handed to the device
        OutputLines = 2,     // DTR/RTS as the program set them
        InputLines = 3,      // CTS/DSR/CD/RI as seen
        Opened = 4,          // the port opened
        Reopened = 5,        // the same port came back after being lost
        Closed = 6,          // the program closed the port
        PortLost = 7,        // the device went away
        Errors = 8,          // the driver's error counters changed
        NoErrorCounters = 9, // the device keeps no error counters
        BreakSent = 10,      // a break was put on the line
        NotKept = 11,        // events the spool could not keep (disk full)
    };
    // Control-line bits, as the RTAC serial link header numbers them.
    enum Line : quint8 {
        Cts = 0x01,
        Cd = 0x02,
        Dsr = 0x04,
        Rts = 0x08,
        Dtr = 0x10,
        Ri = 0x20,
    };
    // Flag: the event's packet never reached the spool (payload is lost).
    static constexpr quint16 FlagLost = 0x0001;

    qint64 time = 0;    // CLOCK_MONOTONIC nanoseconds, taken where it happened
    qint64 offset = 0;  // file offset of the event's packet block in the spool
    quint32 length = 0; // payload bytes (data events; 0 for line events)
    quint8 kind = Received;
    quint8 lines = 0; // the control lines in force at the event
    quint16 flags = 0;

    static bool isDataKind(quint8 k) { return k == Received || k == Sent; }
    bool isData() const { return isDataKind(kind); }
};
static_assert(sizeof(RecordEvent) == 24, "the index is meant to stay small per event");

// The session record: every event on the open port, in order, spooled as it
// happens to a pcapng file (link type 250, RTAC serial) that Wireshark reads
// as it is, with only a small index of the events kept in memory.
//
// The record lives on the thread of the serial control it observes; the
// observer calls only append to a memory buffer that a timer writes out
// every 50 ms (sooner when it grows large), so a crash loses at most that.
// The spool is locked while the record owns it; a spool whose lock is free
// was left by a run that ended without cleaning up (see orphanedSpools()).
class SessionRecord
    : public QObject
    , public LineObserver
{
    Q_OBJECT

public:
    // Spools under `directory` (default: defaultDirectory()).
    explicit SessionRecord(const QString &directory = QString(), QObject *parent = nullptr);
    // Removes the spool unless keepSpool() was called.
    ~SessionRecord() override;

    // $XDG_CACHE_HOME/NerovaPortlark (default ~/.cache/NerovaPortlark).
    static QString defaultDirectory();
    // Spools in `directory` that no running program owns (left by a crash).
    static QStringList orphanedSpools(const QString &directory = QString());

    // Whether the spool could be created; errorString() says why not.
    bool isValid() const { return m_fd >= 0; }
    QString errorString() const { return m_error; }

    // --- LineObserver: the events, with the time they happened.
    void portOpened(qint64 time, const QString &device, const QString &mode, int handshake, bool reopened) override;
    void portClosed(qint64 time) override;
    void portLost(qint64 time, const QString &reason) override;
    void bytesReceived(qint64 time, const QByteArray &bytes) override;
    void bytesSent(qint64 time, const QByteArray &bytes) override;
    void outputLines(qint64 time, bool dtr, bool rts) override;
    void inputLines(qint64 time, bool cts, bool dsr, bool cd, bool ri) override;
    void errorCounters(qint64 time, const ErrorCounters &counters) override;
    void noErrorCounters(qint64 time) override;
    void breakSent(qint64 time, int milliseconds) override;

    // Marks, at `time`, that something beside the record could not keep what
    // the record holds (the input pane past a full disk): a "not kept" event
    // with `comment` as its words.
    void markNotKept(qint64 time, const QString &comment);

    // --- Reading the record: on the record's thread, or from any thread for
    // events below committedCount().
    qint64 eventCount() const { return m_index.size(); }
    RecordEvent event(qint64 i) const;
    // Keeps QObject's event handler visible beside the index lookup above.
    using QObject::event;
    // The event's bytes (empty for line events and lost ones).
    QByteArray payload(qint64 i) const;
    // The event in words ("DTR on, RTS off", "Port opened: ..."); for data
    // events their direction and length.
    QString describe(qint64 i) const;
    // The event's whole pcapng block as the spool holds it (empty if lost).
    QByteArray spoolBlock(qint64 i) const;

    // Events already written to the spool. These never change again, so
    // another thread (a long save) may read events and payloads below this
    // count while the record goes on growing.
    qint64 committedCount() const { return m_committed.load(std::memory_order_acquire); }

    // Wall-clock time of the session's start and CLOCK_MONOTONIC at it.
    QDateTime startTime() const;
    qint64 startMonotonic() const { return m_startMono; }
    // Wall-clock nanoseconds since the epoch of a monotonic event time.
    qint64 wallTimeNs(qint64 monotonic) const { return m_startWallNs + (monotonic - m_startMono); }
    // The comment of a session file's section header: when the session
    // started, in local time with its UTC offset.
    QString headerComment() const;
    // The mode string of the latest open ("" before the first).
    QString mode() const { return m_mode; }

    QString spoolPath() const { return m_path; }
    // Bytes written to the spool file so far.
    qint64 spoolSize() const { return m_flushed.load(std::memory_order_relaxed); }
    // Data bytes the spool could not keep (disk full), by direction.
    qint64 lostReceived() const { return m_lost.received; }
    qint64 lostSent() const { return m_lost.sent; }

    // Keep the spool file at destruction (it has been saved as it is).
    void keepSpool() { m_keep = true; }

    // Writes everything buffered to the spool now.
    void flush();

signals:
    // New events [first, first + count) are in the index and in the spool.
    // Emitted at most once per flush.
    void eventsAppended(qint64 first, qint64 count);
    // The spool's disk is nearly full or cannot take more (message for the
    // status line), or has room again (empty message).
    void storageProblem(const QString &message);

private:
    void append(quint8 kind, qint64 time, const QByteArray &payload, const QString &comment);
    // Received or sent bytes, as events of at most a packet's length each.
    void appendData(quint8 kind, qint64 time, const QByteArray &bytes);
    bool writePending();
    quint8 rtacEventType(quint8 kind) const;
    static QString linesText(quint8 kind, quint8 lines);
    void checkFreeSpace();
    // The index had to take a chunk of memory the scratch file could not.
    void reportIndexInMemory();
    bool readSpool(qint64 offset, char *to, qint64 length) const;

    // Mapped from a scratch file beside the spool (see ChunkedArray), so
    // that only its newest part is resident however long the session runs.
    ChunkedArray<RecordEvent, 16384> m_index;
    qint64 m_indexInMemory = 0; // memory-only chunks already reported
    std::atomic<qint64> m_committed{0};

    int m_fd = -1;
    QString m_path;
    QString m_error;
    bool m_keep = false;
    QByteArray m_pending;             // packet blocks not yet written
    std::atomic<qint64> m_flushed{0}; // spool file size
    qint64 m_announced = 0;           // events already signalled
    QTimer m_flushTimer;              // started by the first event after a flush
    QElapsedTimer m_sinceFlush;
    QTimer m_spaceTimer;
    bool m_writeFailed = false;
    bool m_spaceLow = false;
    // What the spool could not keep.
    struct Lost
    {
        qint64 received = 0;
        qint64 sent = 0;
        qint64 events = 0;
        Lost &operator+=(const Lost &o)
        {
            received += o.received;
            sent += o.sent;
            events += o.events;
            return *this;
        }
    };
    Lost m_lost;       // in all
    Lost m_unreported; // not yet told by a marker
    // After a failed write the next event is preceded by a marker saying
    // what was lost; while that marker waits in memory its figures are kept
    // in case it is lost too.
    bool m_needMarker = false;
    bool m_markerPending = false;
    Lost m_marker;
    quint8 m_errorEventType = 0;

    qint64 m_startMono = 0;
    qint64 m_startWallNs = 0;
    quint8 m_lines = 0;
    QString m_mode;
    ErrorCounters m_lastCounters;
    bool m_haveCounters = false;
};
