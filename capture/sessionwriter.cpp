#include "sessionwriter.h"

#include "byteexport.h"
#include "pcapng.h"

#include <QDateTime>

namespace {

constexpr qsizetype BufferBytes = 1 << 20;

const char *tagOf(quint8 kind)
{
    switch (kind) {
    case RecordEvent::Received:
        return "RX";
    case RecordEvent::Sent:
        return "TX";
    case RecordEvent::OutputLines:
    case RecordEvent::InputLines:
        return "LINE";
    case RecordEvent::Errors:
    case RecordEvent::NoErrorCounters:
        return "ERRORS";
    case RecordEvent::BreakSent:
        return "BREAK";
    case RecordEvent::NotKept:
        return "NOTKEPT";
    default:
        return "PORT";
    }
}

} // namespace

QByteArray isoTimeMicros(qint64 wallNs)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(wallNs / 1000000);
    const int offset = t.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    // Qt gives milliseconds; the microseconds are added by hand.
    return (t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
            + QStringLiteral("%1%2%3:%4")
                  .arg((wallNs / 1000) % 1000, 3, 10, QLatin1Char('0'))
                  .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                  .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                  .arg(minutes % 60, 2, 10, QLatin1Char('0')))
        .toLatin1();
}

QByteArray escapeBytes(const QByteArray &bytes)
{
    QByteArray out;
    out.reserve(bytes.size() * 2);
    ByteExport::AppendEscaped(out, bytes, true);
    return out;
}

QByteArray textLogLine(const SessionRecord &record, qint64 i)
{
    const RecordEvent e = record.event(i);
    const qint64 wall = record.wallTimeNs(e.time);
    QByteArray line = isoTimeMicros(wall);
    line += ' ';
    line += tagOf(e.kind);
    line += ' ';
    if (e.isData()) {
        line += QByteArray::number(e.length);
        if (e.flags & RecordEvent::FlagLost) {
            line += " (not kept: disk full)";
            return line;
        }
        const QByteArray bytes = record.payload(i);
        line += ' ';
        line += bytes.toHex(' ');
        line += " \"";
        line += escapeBytes(bytes);
        line += '"';
    } else {
        line += record.describe(i).toUtf8();
    }
    return line;
}

SessionWriter::SessionWriter(const SessionRecord &record, QIODevice *out, const Options &options)
    : m_record(record)
    , m_out(out)
    , m_options(options)
    , m_splitter(options.gapNs, options.characterNs)
{}

bool SessionWriter::begin(qint64 first)
{
    m_next = first;
    if (m_options.format == SessionFormat::Pcapng)
        m_buffer += Pcapng::fileHeader(m_record.headerComment());
    return flushBuffer(true);
}

bool SessionWriter::write(qint64 end)
{
    end = qMin(end, m_record.committedCount());
    for (; m_next < end; ++m_next) {
        const RecordEvent e = m_record.event(m_next);
        switch (m_options.format) {
        case SessionFormat::Raw:
            if (e.kind == m_options.rawKind && e.length && !(e.flags & RecordEvent::FlagLost))
                m_buffer += m_record.payload(m_next);
            break;
        case SessionFormat::TextLog:
            m_buffer += textLogLine(m_record, m_next);
            m_buffer += '\n';
            break;
        case SessionFormat::Pcapng:
            if (m_splitter.append(e, m_next) && !writePackets(m_splitter.packetCount() - 1))
                return false;
            break;
        }
        if (m_buffer.size() >= BufferBytes && !flushBuffer(false))
            return false;
    }
    return flushBuffer(false);
}

bool SessionWriter::writePackets(qint64 upTo)
{
    for (; m_packetsWritten < upTo; ++m_packetsWritten) {
        const RecordPacket p = m_splitter.packet(m_packetsWritten);
        const RecordEvent first = m_record.event(p.firstEvent);
        if (first.flags & RecordEvent::FlagLost)
            continue; // nothing of it reached the spool; its marker did
        if (!first.isData()) {
            m_buffer += m_record.spoolBlock(p.firstEvent);
        } else {
            QByteArray bytes;
            bytes.reserve(p.length);
            for (qint64 i = p.firstEvent; i < p.firstEvent + p.eventCount; ++i)
                bytes += m_record.payload(i);
            // A packet longer than a reader takes goes out in pieces, each
            // stamped where its first byte is on the wire.
            const quint8 type = first.kind == RecordEvent::Received ? Pcapng::DataRxStart : Pcapng::DataTxStart;
            for (qsizetype at = 0; at < bytes.size(); at += Pcapng::MaxPayload)
                Pcapng::appendPacket(m_buffer, m_record.wallTimeNs(first.time) + at * m_options.characterNs, type,
                                     first.lines, bytes.constData() + at,
                                     qMin<qsizetype>(Pcapng::MaxPayload, bytes.size() - at));
        }
        if (m_buffer.size() >= BufferBytes && !flushBuffer(false))
            return false;
    }
    return true;
}

bool SessionWriter::settle(qint64 now)
{
    if (m_options.format != SessionFormat::Pcapng)
        return true;
    if (m_splitter.lastOpenAt(now))
        return true;
    // A long received chunk may yet be estimated to have begun before `now`:
    // what is written stays written, so the splitter must not extend it.
    m_splitter.closeLast();
    return writePackets(m_splitter.packetCount()) && flushBuffer(false);
}

bool SessionWriter::finish()
{
    if (m_options.format == SessionFormat::Pcapng && !writePackets(m_splitter.packetCount()))
        return false;
    return flushBuffer(true);
}

bool SessionWriter::flushBuffer(bool force)
{
    if (!m_error.isEmpty())
        return false;
    if (m_buffer.isEmpty() && !force)
        return true;
    if (!m_buffer.isEmpty() && m_out->write(m_buffer) != m_buffer.size()) {
        m_error = m_out->errorString();
        return false;
    }
    m_buffer.clear();
    return true;
}
