#pragma once

#include "sessionrecord.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

// Reads the bytes of a run of record events straight from the spool, many
// events to one read, so that going through a whole record (a search, an
// export of many packets) costs about what reading the file once does. Has a
// file descriptor of its own: it may be used on another thread than the
// record's, for events below the record's committedCount().
class RecordBytes
{
public:
    explicit RecordBytes(const SessionRecord &record);
    ~RecordBytes();
    RecordBytes(const RecordBytes &) = delete;
    RecordBytes &operator=(const RecordBytes &) = delete;

    // Called for every event in order, with its bytes (empty for a line event
    // or a lost one); returning false stops the walk.
    using Visit = std::function<bool(qint64 index, const RecordEvent &event, QByteArrayView bytes)>;

    // Walks events [first, end), end at most the record's committedCount().
    // Returns false when the spool could not be read or `visit` stopped.
    bool forEach(qint64 first, qint64 end, const Visit &visit);

    QString errorString() const { return m_error; }

private:
    const SessionRecord &m_record;
    int m_fd = -1;
    QString m_error;
    QByteArray m_buffer;
};
