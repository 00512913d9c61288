#include "idlegapsplitter.h"

#include <QStringList>

#include <cmath>

double bitsPerCharacter(const QString &mode)
{
    const QStringList f = mode.split(QLatin1Char(','));
    if (f.size() != 4)
        return 0;
    bool ok = false;
    const int data = f[2].trimmed().toInt(&ok);
    if (!ok || data < 5 || data > 8)
        return 0;
    const QString parity = f[1].trimmed().toUpper();
    if (parity.size() != 1 || !QStringLiteral("NOEMS").contains(parity))
        return 0;
    const double stop = f[3].trimmed().toDouble(&ok);
    if (!ok || (stop != 1.0 && stop != 1.5 && stop != 2.0))
        return 0;
    return 1 + data + (parity == QLatin1String("N") ? 0 : 1) + stop;
}

qint64 characterTimeNs(const QString &mode)
{
    bool ok = false;
    const qint64 baud = mode.section(QLatin1Char(','), 0, 0).trimmed().toLongLong(&ok);
    const double bits = bitsPerCharacter(mode);
    if (!ok || baud <= 0 || bits == 0)
        return 0;
    return qint64(std::llround(bits * 1e9 / double(baud)));
}

qint64 idleGapNs(const QString &mode, double characters)
{
    return qint64(std::llround(double(characterTimeNs(mode)) * characters));
}

void IdleGapSplitter::setTiming(qint64 gapNs, qint64 characterNs)
{
    m_gapNs = gapNs;
    m_characterNs = characterNs;
    clear();
}

void IdleGapSplitter::clear()
{
    m_packets.clear();
    m_fed = 0;
    m_lastIsData = false;
}

bool IdleGapSplitter::joins(const RecordEvent &e) const
{
    if (!m_lastIsData || e.kind != m_lastKind)
        return false;
    if (quint64(m_packets.last().length) + e.length > 0xFFFFFFFFu)
        return false;
    const qint64 idle = e.kind == RecordEvent::Received ? e.time - qint64(e.length) * m_characterNs - m_lastTime
                                                        : e.time - m_lineBusyUntil;
    return idle <= m_gapNs;
}

bool IdleGapSplitter::append(const RecordEvent &e, qint64 index)
{
    m_fed = index + 1;
    const bool data = e.isData() && !(e.flags & RecordEvent::FlagLost);
    if (data && joins(e)) {
        RecordPacket &p = m_packets.last();
        ++p.eventCount;
        p.length += e.length;
        m_lastTime = e.time;
        m_lineBusyUntil = qMax(m_lineBusyUntil, e.time) + qint64(e.length) * m_characterNs;
        return false;
    }
    m_packets.append(RecordPacket{index, 1, data ? e.length : 0});
    m_lastIsData = data;
    m_lastKind = e.kind;
    m_lastTime = e.time;
    m_lineBusyUntil = e.time + qint64(e.length) * m_characterNs;
    return true;
}

void IdleGapSplitter::update(const SessionRecord &record, qint64 end)
{
    for (qint64 i = m_fed; i < end; ++i)
        append(record.event(i), i);
}

bool IdleGapSplitter::lastOpenAt(qint64 now) const
{
    if (!m_lastIsData)
        return false;
    const qint64 end = m_lastKind == RecordEvent::Sent ? m_lineBusyUntil : m_lastTime;
    return now - end <= m_gapNs;
}
