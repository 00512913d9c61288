#include "pcapngfile.h"

#include <QFile>
#include <QProcess>
#include <QtEndian>

namespace {

quint32 u32(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

quint16 u16(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}

// Options from `at` to `end`; returns false on malformed framing.
bool readOptions(const QByteArray &b, qsizetype at, qsizetype end, QString *comment, int *tsresol)
{
    while (at + 4 <= end) {
        const quint16 code = u16(b, at);
        const quint16 len = u16(b, at + 2);
        if (code == 0)
            return true;
        if (at + 4 + len > end)
            return false;
        if (code == 1 && comment)
            *comment = QString::fromUtf8(b.constData() + at + 4, len);
        if (code == 9 && tsresol && len == 1)
            *tsresol = quint8(b[at + 4]);
        at += 4 + ((len + 3) & ~3);
    }
    return at == end;
}

} // namespace

PcapngFile readPcapng(const QByteArray &b)
{
    PcapngFile f;
    qsizetype at = 0;
    bool sawSection = false;
    bool sawInterface = false;
    while (at < b.size()) {
        if (at + 12 > b.size()) {
            f.error = QStringLiteral("cut block at %1").arg(at);
            return f;
        }
        const quint32 type = u32(b, at);
        const quint32 total = u32(b, at + 4);
        if (total < 12 || total % 4 || at + total > b.size() || u32(b, at + total - 4) != total) {
            f.error = QStringLiteral("bad block length at %1").arg(at);
            return f;
        }
        if (type == 0x0A0D0D0A) {
            if (u32(b, at + 8) != 0x1A2B3C4D) {
                f.error = QStringLiteral("byte order magic");
                return f;
            }
            if (!readOptions(b, at + 24, at + total - 4, &f.sectionComment, nullptr)) {
                f.error = QStringLiteral("section options");
                return f;
            }
            sawSection = true;
        } else if (!sawSection) {
            f.error = QStringLiteral("no section header first");
            return f;
        } else if (type == 1) {
            f.linkType = u16(b, at + 8);
            if (!readOptions(b, at + 16, at + total - 4, nullptr, &f.tsResolution)) {
                f.error = QStringLiteral("interface options");
                return f;
            }
            sawInterface = true;
        } else if (type == 6) {
            if (!sawInterface) {
                f.error = QStringLiteral("packet before interface");
                return f;
            }
            PcapngPacket p;
            p.timestamp = (quint64(u32(b, at + 12)) << 32) | u32(b, at + 16);
            const quint32 caplen = u32(b, at + 20);
            if (caplen < 12 || 28 + caplen + 4 > total || u32(b, at + 24) != caplen) {
                f.error = QStringLiteral("bad packet lengths at %1").arg(at);
                return f;
            }
            const qsizetype d = at + 28;
            p.headerSeconds = qFromBigEndian<quint32>(b.constData() + d);
            p.headerMicros = qFromBigEndian<quint32>(b.constData() + d + 4);
            p.eventType = quint8(b[d + 8]);
            p.lines = quint8(b[d + 9]);
            p.footer = qFromBigEndian<quint16>(b.constData() + d + 10);
            p.payload = b.mid(d + 12, caplen - 12);
            if (!readOptions(b, d + ((caplen + 3) & ~3), at + total - 4, &p.comment, nullptr)) {
                f.error = QStringLiteral("packet options at %1").arg(at);
                return f;
            }
            f.packets.append(p);
        }
        at += total;
    }
    f.ok = sawSection && sawInterface;
    if (!f.ok)
        f.error = QStringLiteral("no section or interface");
    return f;
}

PcapngFile readPcapngFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        PcapngFile f;
        f.error = file.errorString();
        return f;
    }
    return readPcapng(file.readAll());
}

QStringList tshark(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("tshark"), args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {QStringLiteral("tshark failed: ") + QString::fromLocal8Bit(p.readAllStandardError())};
    return QString::fromLocal8Bit(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
