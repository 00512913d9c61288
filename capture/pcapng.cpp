#include "pcapng.h"

#include <QtEndian>

#include <cstring>

namespace Pcapng {

namespace {

constexpr quint32 SectionHeaderType = 0x0A0D0D0A;
constexpr quint32 InterfaceType = 0x00000001;
constexpr quint32 EnhancedPacketType = 0x00000006;
constexpr quint32 ByteOrderMagic = 0x1A2B3C4D;
constexpr quint16 OptEnd = 0;
constexpr quint16 OptComment = 1;
constexpr quint16 ShbUserAppl = 4;
constexpr quint16 IfTsResol = 9;

qint64 padded(qint64 n)
{
    return (n + 3) & ~qint64(3);
}

void put32(char *at, quint32 v)
{
    qToLittleEndian(v, at);
}

void put16(char *at, quint16 v)
{
    qToLittleEndian(v, at);
}

void appendU32(QByteArray &out, quint32 v)
{
    char b[4];
    put32(b, v);
    out.append(b, 4);
}

void appendU16(QByteArray &out, quint16 v)
{
    char b[2];
    put16(b, v);
    out.append(b, 2);
}

void appendOption(QByteArray &out, quint16 code, const QByteArray &value)
{
    // An option's length field is 16 bits; a longer text is cut.
    const QByteArray v = value.left(0xFFFC);
    appendU16(out, code);
    appendU16(out, quint16(v.size()));
    out.append(v);
    out.append(QByteArray(padded(v.size()) - v.size(), '\0'));
}

// Wraps a block body (everything after the length field) into a block.
QByteArray block(quint32 type, const QByteArray &body)
{
    QByteArray out;
    const quint32 total = quint32(12 + body.size());
    appendU32(out, type);
    appendU32(out, total);
    out.append(body);
    appendU32(out, total);
    return out;
}

qint64 optionsSize(const QByteArray &comment)
{
    return comment.isEmpty() ? 0 : 4 + padded(qMin<qint64>(comment.size(), 0xFFFC)) + 4;
}

} // namespace

QByteArray fileHeader(const QString &comment)
{
    QByteArray shb;
    appendU32(shb, ByteOrderMagic);
    appendU16(shb, 1);
    appendU16(shb, 0);
    appendU32(shb, 0xFFFFFFFF); // section length not known
    appendU32(shb, 0xFFFFFFFF);
    if (!comment.isEmpty())
        appendOption(shb, OptComment, comment.toUtf8());
    appendOption(shb, ShbUserAppl, QByteArrayLiteral("Portlark"));
    appendU16(shb, OptEnd);
    appendU16(shb, 0);

    QByteArray idb;
    appendU16(idb, LinkTypeRtacSerial);
    appendU16(idb, 0);
    appendU32(idb, 0); // no snapshot limit
    appendOption(idb, IfTsResol, QByteArray(1, char(9)));
    appendU16(idb, OptEnd);
    appendU16(idb, 0);

    return block(SectionHeaderType, shb) + block(InterfaceType, idb);
}

qint64 packetBlockSize(qint64 payloadLength, const QString &comment)
{
    const QByteArray c = comment.toUtf8();
    return PacketDataOffset + padded(RtacHeaderSize + payloadLength) + optionsSize(c) + 4;
}

void appendPacket(QByteArray &out, qint64 wallNs, quint8 eventType, quint8 lines, const char *payload, qint64 length,
                  const QString &comment)
{
    const QByteArray c = comment.isEmpty() ? QByteArray() : comment.toUtf8();
    const qint64 dataLength = RtacHeaderSize + length;
    const qint64 total = PacketDataOffset + padded(dataLength) + optionsSize(c) + 4;
    const qint64 start = out.size();
    out.resize(start + total);
    char *p = out.data() + start;
    std::memset(p, 0, size_t(total));

    const quint64 ts = quint64(wallNs);
    put32(p, EnhancedPacketType);
    put32(p + 4, quint32(total));
    put32(p + 8, 0); // interface 0
    put32(p + 12, quint32(ts >> 32));
    put32(p + 16, quint32(ts & 0xFFFFFFFF));
    put32(p + 20, quint32(dataLength));
    put32(p + 24, quint32(dataLength));

    char *h = p + PacketDataOffset;
    const qint64 secs = wallNs / 1000000000;
    const qint64 micros = (wallNs % 1000000000) / 1000;
    qToBigEndian(quint32(secs), h);
    qToBigEndian(quint32(micros), h + 4);
    h[8] = char(eventType);
    h[9] = char(lines);
    // h[10..11]: footer, reserved, zero
    if (length > 0)
        std::memcpy(h + RtacHeaderSize, payload, size_t(length));

    char *o = p + PacketDataOffset + padded(dataLength);
    if (!c.isEmpty()) {
        const qint64 n = qMin<qint64>(c.size(), 0xFFFC);
        put16(o, OptComment);
        put16(o + 2, quint16(n));
        std::memcpy(o + 4, c.constData(), size_t(n));
        o += 4 + padded(n);
        put16(o, OptEnd);
        put16(o + 2, 0);
        o += 4;
    }
    put32(o, quint32(total));
}

QString packetComment(const QByteArray &block)
{
    if (block.size() < PacketDataOffset + 4)
        return QString();
    const auto *p = reinterpret_cast<const uchar *>(block.constData());
    const qint64 total = qFromLittleEndian<quint32>(p + 4);
    const qint64 dataLength = qFromLittleEndian<quint32>(p + 20);
    if (total != block.size())
        return QString();
    qint64 at = PacketDataOffset + padded(dataLength);
    while (at + 4 <= total - 4) {
        const quint16 code = qFromLittleEndian<quint16>(p + at);
        const quint16 len = qFromLittleEndian<quint16>(p + at + 2);
        if (code == OptEnd || at + 4 + len > total - 4)
            break;
        if (code == OptComment)
            return QString::fromUtf8(block.constData() + at + 4, len);
        at += 4 + padded(len);
    }
    return QString();
}

} // namespace Pcapng
