#include "timelinemodel.h"

#include "cp437.h"
#include "recordbytes.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>

namespace {

constexpr int kShownCacheRows = 512;

QColor rowColour(quint8 kind)
{
    switch (kind) {
    case RecordEvent::Received:
        return QColor(0xFF, 0xFF, 0xFF);
    case RecordEvent::Sent:
        return QColor(0xE4, 0xEE, 0xFF);
    case RecordEvent::OutputLines:
    case RecordEvent::InputLines:
        return QColor(0xFF, 0xF6, 0xC8);
    case RecordEvent::Opened:
    case RecordEvent::Reopened:
    case RecordEvent::Closed:
        return QColor(0xDD, 0xF4, 0xDD);
    case RecordEvent::BreakSent:
        return QColor(0xFF, 0xE4, 0xC4);
    case RecordEvent::NoErrorCounters:
        return QColor(0xEC, 0xEC, 0xEC);
    case RecordEvent::PortLost:
    case RecordEvent::Errors:
    case RecordEvent::NotKept:
        return QColor(0xFF, 0xD6, 0xD6);
    default:
        return QColor(0xFF, 0xFF, 0xFF);
    }
}

QString kindText(quint8 kind)
{
    switch (kind) {
    case RecordEvent::Received:
        return QStringLiteral("RX");
    case RecordEvent::Sent:
        return QStringLiteral("TX");
    case RecordEvent::OutputLines:
        return QStringLiteral("DTR/RTS");
    case RecordEvent::InputLines:
        return QStringLiteral("Inputs");
    case RecordEvent::Opened:
        return QStringLiteral("Open");
    case RecordEvent::Reopened:
        return QStringLiteral("Reopen");
    case RecordEvent::Closed:
        return QStringLiteral("Close");
    case RecordEvent::PortLost:
        return QStringLiteral("Lost");
    case RecordEvent::Errors:
        return QStringLiteral("Errors");
    case RecordEvent::NoErrorCounters:
        return QStringLiteral("Counters");
    case RecordEvent::BreakSent:
        return QStringLiteral("Break");
    case RecordEvent::NotKept:
        return QStringLiteral("Not kept");
    default:
        return QStringLiteral("?");
    }
}

} // namespace

TimelineModel::TimelineModel(QObject *parent)
    : QAbstractTableModel(parent)
{}

QString TimelineModel::durationText(qint64 ns)
{
    if (ns < 0)
        ns = 0;
    if (ns < 1000000)
        return QStringLiteral("%1 µs").arg(double(ns) / 1e3, 0, 'f', 1);
    if (ns < 1000000000)
        return QStringLiteral("%1 ms").arg(double(ns) / 1e6, 0, 'f', 3);
    return QStringLiteral("%1 s").arg(double(ns) / 1e9, 0, 'f', 6);
}

void TimelineModel::setRecord(const SessionRecord *record)
{
    beginResetModel();
    m_record = record;
    m_splitter.clear();
    m_shown.clear();
    m_rows = 0;
    if (m_record) {
        m_splitter.update(*m_record, m_record->committedCount());
        m_rows = int(m_splitter.packetCount());
    }
    endResetModel();
}

void TimelineModel::setTiming(qint64 gapNs, qint64 characterNs)
{
    if (gapNs == m_splitter.gapNs() && characterNs == m_splitter.characterNs())
        return;
    m_splitter.setTiming(gapNs, characterNs);
    setRecord(m_record);
}

void TimelineModel::update()
{
    if (!m_record)
        return;
    const qint64 end = m_record->committedCount();
    if (end <= m_splitter.eventsFed())
        return;
    const quint32 lastEvents = m_rows > 0 ? m_splitter.packet(m_rows - 1).eventCount : 0;
    m_splitter.update(*m_record, end);
    if (m_rows > 0 && m_splitter.packet(m_rows - 1).eventCount != lastEvents) {
        m_shown.remove(m_rows - 1);
        emit dataChanged(index(m_rows - 1, 0), index(m_rows - 1, ColumnCount - 1));
    }
    const int rows = int(m_splitter.packetCount());
    if (rows > m_rows) {
        beginInsertRows(QModelIndex(), m_rows, rows - 1);
        m_rows = rows;
        endInsertRows();
    }
}

int TimelineModel::rowOfEvent(qint64 event) const
{
    if (event < 0 || m_rows == 0)
        return -1;
    int lo = 0, hi = m_rows - 1;
    while (lo < hi) {
        const int mid = lo + (hi - lo + 1) / 2;
        if (m_splitter.packet(mid).firstEvent <= event)
            lo = mid;
        else
            hi = mid - 1;
    }
    const RecordPacket p = m_splitter.packet(lo);
    return event < p.firstEvent + qint64(p.eventCount) ? lo : -1;
}

QList<QByteArray> TimelineModel::rowBytes(const QList<int> &rows) const
{
    QList<QByteArray> out;
    if (!m_record)
        return out;
    RecordBytes reader(*m_record);
    for (int row : rows) {
        QByteArray bytes;
        if (row >= 0 && row < m_rows) {
            const RecordPacket p = m_splitter.packet(row);
            bytes.reserve(qsizetype(p.length));
            reader.forEach(p.firstEvent, p.firstEvent + p.eventCount,
                           [&](qint64, const RecordEvent &, QByteArrayView b) {
                               bytes.append(b);
                               return true;
                           });
        }
        out.append(bytes);
    }
    return out;
}

QByteArray TimelineModel::shownBytes(int row) const
{
    const auto cached = m_shown.constFind(row);
    if (cached != m_shown.constEnd())
        return *cached;
    QByteArray bytes;
    const RecordPacket p = m_splitter.packet(row);
    for (qint64 i = p.firstEvent; i < p.firstEvent + p.eventCount && bytes.size() <= ShownBytes; ++i)
        bytes.append(m_record->payload(i));
    // One more than is shown tells that the row goes on.
    bytes.truncate(ShownBytes + 1);
    if (m_shown.size() >= kShownCacheRows)
        m_shown.clear();
    m_shown.insert(row, bytes);
    return bytes;
}

QString TimelineModel::cellText(int row, int column) const
{
    const RecordPacket p = m_splitter.packet(row);
    const RecordEvent first = m_record->event(p.firstEvent);
    const bool data = first.isData();
    switch (column) {
    case Time: {
        const qint64 wall = m_record->wallTimeNs(first.time);
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(wall / 1000000);
        return t.toString(QStringLiteral("HH:mm:ss.zzz"))
               + QStringLiteral("%1").arg((wall / 1000) % 1000, 3, 10, QLatin1Char('0'));
    }
    case Relative:
        return QStringLiteral("%1").arg(double(first.time - m_record->startMonotonic()) / 1e9, 0, 'f', 6);
    case Gap: {
        if (row == 0)
            return {};
        const RecordPacket prev = m_splitter.packet(row - 1);
        const RecordEvent last = m_record->event(prev.firstEvent + prev.eventCount - 1);
        return durationText(first.time - last.time);
    }
    case Direction:
        return kindText(first.kind);
    case Length:
        return data ? QString::number(p.length) : QString();
    case Hex: {
        if (!data)
            return m_record->describe(p.firstEvent);
        const QByteArray bytes = shownBytes(row);
        static constexpr char digits[] = "0123456789ABCDEF";
        QString out;
        const qsizetype n = std::min<qsizetype>(bytes.size(), ShownBytes);
        out.reserve(n * 3 + 1);
        for (qsizetype i = 0; i < n; ++i) {
            if (i > 0)
                out.append(u' ');
            out.append(QLatin1Char(digits[uchar(bytes[i]) >> 4]));
            out.append(QLatin1Char(digits[uchar(bytes[i]) & 0x0F]));
        }
        if (bytes.size() > ShownBytes)
            out.append(u" …");
        return out;
    }
    case Text: {
        if (!data)
            return {};
        const QByteArray bytes = shownBytes(row);
        QString out;
        const qsizetype n = std::min<qsizetype>(bytes.size(), ShownBytes);
        out.reserve(n + 1);
        for (qsizetype i = 0; i < n; ++i)
            out.append(QChar(Cp437Glyph(uchar(bytes[i]))));
        if (bytes.size() > ShownBytes)
            out.append(u'…');
        return out;
    }
    default:
        return {};
    }
}

QVariant TimelineModel::data(const QModelIndex &index, int role) const
{
    if (!m_record || !index.isValid() || index.row() >= m_rows)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return cellText(index.row(), index.column());
    case Qt::BackgroundRole:
        return QBrush(rowColour(m_record->event(m_splitter.packet(index.row()).firstEvent).kind));
    case Qt::ForegroundRole:
        return QBrush(Qt::black);
    case Qt::TextAlignmentRole:
        if (index.column() == Relative || index.column() == Gap || index.column() == Length)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::ToolTipRole:
        if (index.column() == Time) {
            const RecordEvent e = m_record->event(m_splitter.packet(index.row()).firstEvent);
            return QDateTime::fromMSecsSinceEpoch(m_record->wallTimeNs(e.time) / 1000000).toString(Qt::ISODateWithMs);
        }
        return {};
    default:
        return {};
    }
}

int TimelineModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int TimelineModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TimelineModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Time:
        return QStringLiteral("Time");
    case Relative:
        return QStringLiteral("Since start (s)");
    case Gap:
        return QStringLiteral("Gap before");
    case Direction:
        return QStringLiteral("Event");
    case Length:
        return QStringLiteral("Bytes");
    case Hex:
        return QStringLiteral("Hex");
    case Text:
        return QStringLiteral("Text");
    default:
        return {};
    }
}
