#pragma once

#include "idlegapsplitter.h"
#include "sessionrecord.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

// The file formats a session is saved or captured in.
enum class SessionFormat {
    Raw,     // the bytes of one direction, exactly, nothing else
    TextLog, // one line per chunk or event (see textLogLine)
    Pcapng,  // link type 250, the idle-gap packets of the record
};

// ISO 8601 local time with microseconds and the UTC offset
// ("2026-12-08T14:03:07.123456+01:00") of nanoseconds since the epoch.
QByteArray isoTimeMicros(qint64 wallNs);

// C-style escaping for the text log: printable ASCII as it is, \\ \" \r \n \t,
// every other byte as \xhh (always two lower-case hex digits); the rules of
// ByteExport::EscapedString, without its quotes.
QByteArray escapeBytes(const QByteArray &bytes);

// One text log line (without the line end) for event `i`:
//   2026-12-08T14:03:07.123456+01:00 RX 5 48 65 6c 6c 6f "Hello"
//   2026-12-08T14:03:07.125000+01:00 LINE DTR on, RTS off
// Tags: RX, TX (length, hex, escaped bytes), LINE (control lines), PORT
// (opened, reopened, closed, lost), ERRORS (error counters), BREAK, NOTKEPT.
QByteArray textLogLine(const SessionRecord &record, qint64 i);

// Writes the events of a record to a file in one format, in pieces: a save
// feeds everything at once, a live capture feeds what arrives as it comes.
// Reads the record only below its committedCount(), so a save may run on
// another thread while the record grows.
class SessionWriter
{
public:
    struct Options
    {
        SessionFormat format = SessionFormat::Pcapng;
        quint8 rawKind = RecordEvent::Received; // the direction a raw file keeps
        qint64 gapNs = 0;                       // idle-gap packets (pcapng)
        qint64 characterNs = 0;
    };

    SessionWriter(const SessionRecord &record, QIODevice *out, const Options &options);

    // Starts at event `first` (a live capture starts at the present).
    bool begin(qint64 first = 0);
    // Writes the events up to `end` (exclusive). Pcapng packets go out when
    // the next one starts; see settle() and finish().
    bool write(qint64 end);
    // Writes the last pcapng packet once the gap has passed at `now`.
    bool settle(qint64 now);
    // Writes what is left and flushes.
    bool finish();

    qint64 eventsDone() const { return m_next; }
    QString errorString() const { return m_error; }

private:
    bool writePackets(qint64 upTo);
    bool flushBuffer(bool force);

    const SessionRecord &m_record;
    QIODevice *m_out;
    Options m_options;
    IdleGapSplitter m_splitter;
    qint64 m_next = 0;
    qint64 m_packetsWritten = 0;
    QByteArray m_buffer;
    QString m_error;
};
