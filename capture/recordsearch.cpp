#include "recordsearch.h"

#include "recordbytes.h"

#include <algorithm>

RecordSearch::RecordSearch(const BytePattern &pattern)
    : m_received(pattern)
    , m_sent(pattern)
{}

void RecordSearch::addMatch(qint64 event)
{
    // A match found late (its start in an earlier chunk of one direction,
    // after matches of the other direction were noted) goes to its place.
    if (m_events.empty() || m_events.back() < event) {
        m_events.push_back(event);
        return;
    }
    const auto at = std::lower_bound(m_events.begin(), m_events.end(), event);
    if (at == m_events.end() || *at != event)
        m_events.insert(at, event);
}

void RecordSearch::feed(qint64 index, const RecordEvent &event, QByteArrayView bytes)
{
    m_fed = index + 1;
    const auto found = [this](qint64 tag, qsizetype) { addMatch(tag); };
    switch (event.kind) {
    case RecordEvent::Received:
        m_received.feed(bytes, index, found);
        break;
    case RecordEvent::Sent:
        m_sent.feed(bytes, index, found);
        break;
    case RecordEvent::Opened:
    case RecordEvent::Reopened:
    case RecordEvent::NotKept:
        // A new stream, or one with a hole in it: no match runs across.
        m_received.restart();
        m_sent.restart();
        break;
    default:
        break;
    }
}

qint64 RecordSearch::nextMatchEvent(qint64 from) const
{
    const auto at = std::lower_bound(m_events.begin(), m_events.end(), from);
    return at == m_events.end() ? -1 : *at;
}

qint64 RecordSearch::previousMatchEvent(qint64 before) const
{
    const auto at = std::lower_bound(m_events.begin(), m_events.end(), before);
    return at == m_events.begin() ? -1 : *(at - 1);
}

RecordSearchJob::RecordSearchJob(QObject *parent)
    : QObject(parent)
{
    m_progressTimer.setInterval(100);
    connect(&m_progressTimer, &QTimer::timeout, this, &RecordSearchJob::progress);
}

RecordSearchJob::~RecordSearchJob()
{
    join();
}

void RecordSearchJob::join()
{
    if (m_cancel)
        m_cancel->store(true);
    if (m_worker.joinable())
        m_worker.join();
    m_progressTimer.stop();
}

void RecordSearchJob::stop()
{
    join();
    m_running = false;
    m_search.reset();
    m_reader.reset();
    m_record = nullptr;
}

void RecordSearchJob::start(const SessionRecord *record, const BytePattern &pattern)
{
    stop();
    m_record = record;
    m_error.clear();
    m_search = std::make_unique<RecordSearch>(pattern);
    if (!record)
        return;
    m_running = true;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_bytesDone->store(0);
    // Everything already in the spool; it never changes again, so the worker
    // reads it while the record goes on growing.
    const qint64 end = record->committedCount();
    m_bytesTotal = std::max<qint64>(1, record->spoolSize());
    auto cancel = m_cancel;
    auto done = m_bytesDone;
    RecordSearch *search = m_search.get();
    const quint64 generation = ++m_generation;
    m_worker = std::thread([this, record, end, cancel, done, search, generation] {
        RecordBytes reader(*record);
        qint64 bytes = 0;
        const bool ok = reader.forEach(0, end, [&](qint64 i, const RecordEvent &e, QByteArrayView b) {
            search->feed(i, e, b);
            bytes += b.size();
            if ((i & 0x3FF) == 0) {
                done->store(bytes, std::memory_order_relaxed);
                if (cancel->load(std::memory_order_relaxed))
                    return false;
            }
            return true;
        });
        if (cancel->load())
            return;
        const QString error = ok ? QString() : reader.errorString();
        QMetaObject::invokeMethod(
            this, [this, ok, error, generation] { backgroundDone(generation, ok, error); }, Qt::QueuedConnection);
    });
    m_progressTimer.start();
}

void RecordSearchJob::backgroundDone(quint64 generation, bool ok, const QString &error)
{
    // A search stopped or replaced after its worker had finished.
    if (generation != m_generation || !m_running)
        return;
    if (m_worker.joinable())
        m_worker.join();
    m_progressTimer.stop();
    m_running = false;
    if (!ok) {
        m_error = error.isEmpty() ? QStringLiteral("the spool could not be read") : error;
        m_search.reset();
        emit finished();
        return;
    }
    feedNewEvents();
    emit finished();
}

bool RecordSearchJob::feedNewEvents()
{
    if (m_running || !m_search || !m_record)
        return false;
    const qint64 end = m_record->committedCount();
    if (m_search->eventsFed() >= end)
        return false;
    if (!m_reader)
        m_reader = std::make_unique<RecordBytes>(*m_record);
    const qint64 before = m_search->matchCount();
    m_reader->forEach(m_search->eventsFed(), end, [this](qint64 i, const RecordEvent &e, QByteArrayView b) {
        m_search->feed(i, e, b);
        return true;
    });
    return m_search->matchCount() != before;
}

void RecordSearchJob::catchUp()
{
    if (feedNewEvents())
        emit updated();
}
