#pragma once

#include "bytepattern.h"
#include "recordbytes.h"
#include "patternmatcher.h"
#include "sessionrecord.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

// A pattern looked for in a record's bytes. Received and sent bytes are two
// streams of their own, so a match runs across the chunks (and idle-gap
// packets) of its direction, whatever the other direction or a line event
// put between them; a port opened again starts both streams afresh.
class RecordSearch
{
public:
    explicit RecordSearch(const BytePattern &pattern);

    // The next event in record order, with its bytes.
    void feed(qint64 index, const RecordEvent &event, QByteArrayView bytes);

    const BytePattern &pattern() const { return m_received.pattern(); }
    qint64 eventsFed() const { return m_fed; }
    qint64 matchCount() const { return m_received.matchCount() + m_sent.matchCount(); }
    // The events in which a match begins, ascending, each once.
    const std::vector<qint64> &matchEvents() const { return m_events; }
    // The first such event at or after `from`, the last one before `before`;
    // -1 when there is none.
    qint64 nextMatchEvent(qint64 from) const;
    qint64 previousMatchEvent(qint64 before) const;

private:
    void addMatch(qint64 event);

    PatternMatcher m_received;
    PatternMatcher m_sent;
    std::vector<qint64> m_events;
    qint64 m_fed = 0;
};

// Runs a RecordSearch over a record without holding up its thread: what is
// already in the spool is searched on a thread of its own; what arrives later
// is added by catchUp() on the record's thread, so the count stays live.
class RecordSearchJob : public QObject
{
    Q_OBJECT

public:
    explicit RecordSearchJob(QObject *parent = nullptr);
    ~RecordSearchJob() override;

    // Starts a search of `record` (stopping any running one).
    void start(const SessionRecord *record, const BytePattern &pattern);
    // Stops and forgets the search.
    void stop();
    // Adds the record's events that arrived since; does nothing while the
    // spool is still being searched in the background.
    void catchUp();

    bool isRunning() const { return m_worker.joinable(); }
    // The search so far (null while the background part runs, or none).
    const RecordSearch *search() const { return m_running ? nullptr : m_search.get(); }
    // Bytes searched so far and in all, while running.
    qint64 bytesDone() const { return m_bytesDone->load(std::memory_order_relaxed); }
    qint64 bytesTotal() const { return m_bytesTotal; }
    QString errorString() const { return m_error; }

signals:
    void progress();
    // The background part is done (or failed: see errorString()).
    void finished();
    // Events added by catchUp() changed the matches.
    void updated();

private:
    void join();
    void backgroundDone(quint64 generation, bool ok, const QString &error);
    bool feedNewEvents();

    const SessionRecord *m_record = nullptr;
    std::unique_ptr<RecordSearch> m_search;
    std::unique_ptr<RecordBytes> m_reader;
    quint64 m_generation = 0;
    std::thread m_worker;
    bool m_running = false;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    std::shared_ptr<std::atomic<qint64>> m_bytesDone = std::make_shared<std::atomic<qint64>>(0);
    qint64 m_bytesTotal = 0;
    QString m_error;
    QTimer m_progressTimer;
};
