#pragma once

#include "chunkedarray.h"
#include "sessionrecord.h"

#include <QString>
#include <QtGlobal>

// Bits on the line per character of a mode string ("9600,N,8,1": start bit,
// data bits, parity bit unless N, stop bits), or 0 when it cannot be read.
double bitsPerCharacter(const QString &mode);
// The time one character takes on the line at the mode, in nanoseconds, or 0.
qint64 characterTimeNs(const QString &mode);
// An idle gap of `characters` character times at the mode (3.5 by default:
// the silence that ends a Modbus RTU frame), in nanoseconds, or 0.
qint64 idleGapNs(const QString &mode, double characters = 3.5);

// One packet of the record: consecutive events that belong together.
struct RecordPacket
{
    qint64 firstEvent = 0;  // index in the record of its first event
    quint32 eventCount = 0; // events in it (all of one direction for data)
    quint32 length = 0;     // bytes in it (0 for a line event)
};
static_assert(sizeof(RecordPacket) == 16);

// Cuts the record's data events into packets: a packet ends where the line
// was idle for longer than the gap, where the direction changes, and at
// every other event (a line change, an open, an error report, a lost
// stretch), which stands as a packet of its own.
//
// The idle time before a chunk is estimated from the chunk times and, when
// the character time is known, from how long the bytes took on the line: a
// received chunk is timed when its last byte had arrived, so its first byte
// began length * characterNs earlier; a sent chunk is timed when it was handed
// to the device, where it waits behind the bytes handed over before it, so
// the line is idle only once those are out.
//
// Incremental: events are fed in record order and only the last packet ever
// changes.
class IdleGapSplitter
{
public:
    explicit IdleGapSplitter(qint64 gapNs = 0, qint64 characterNs = 0)
        : m_gapNs(gapNs)
        , m_characterNs(characterNs)
    {}

    qint64 gapNs() const { return m_gapNs; }
    qint64 characterNs() const { return m_characterNs; }
    // New settings; the packets are cut again from the record's start.
    void setTiming(qint64 gapNs, qint64 characterNs);
    void clear();

    // Feeds event `index` (the next one in record order). Returns true when it
    // started a new packet, false when it joined the last one.
    bool append(const RecordEvent &e, qint64 index);
    // Feeds the record's events from the first not yet fed up to its end.
    void update(const SessionRecord &record) { update(record, record.eventCount()); }
    // The same, up to event `end` (exclusive).
    void update(const SessionRecord &record, qint64 end);

    qint64 packetCount() const { return m_packets.size(); }
    RecordPacket packet(qint64 i) const { return m_packets[i]; }
    // Events fed so far.
    qint64 eventsFed() const { return m_fed; }
    // Whether the last packet can still grow when the next event comes at
    // `now` or later: false once the gap has passed since it ended.
    bool lastOpenAt(qint64 now) const;
    // The last packet is complete (it has been written out): the next event
    // starts a new one whatever its time.
    void closeLast() { m_lastIsData = false; }

private:
    bool joins(const RecordEvent &e) const;

    qint64 m_gapNs;
    qint64 m_characterNs;
    ChunkedArray<RecordPacket> m_packets;
    qint64 m_fed = 0;
    // The last data event fed, when it ends the last packet.
    bool m_lastIsData = false;
    quint8 m_lastKind = 0;
    qint64 m_lastTime = 0;
    // Sent bytes queue up in the device: the line is busy with them until
    // this time.
    qint64 m_lineBusyUntil = 0;
};
