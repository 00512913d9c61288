#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Building blocks of a pcapng file with one interface of link type 250
// (RTAC serial): every packet starts with a 12-byte header (arrival time in
// seconds and microseconds, big-endian; event type; control-line bits; a
// reserved footer), then the line's bytes. Blocks are written little-endian;
// the section header's byte-order magic tells readers so.
namespace Pcapng {

inline constexpr quint16 LinkTypeRtacSerial = 250;

// Event types of the RTAC serial header.
enum EventType : quint8 {
    StatusChange = 0x00,
    DataTxStart = 0x01,
    DataRxStart = 0x02,
    DataTxEnd = 0x03,
    DataRxEnd = 0x04,
    CaptureDataLost = 0x05,
    CaptureComplete = 0x06,
    FramingError = 0x07,
    ParityError = 0x08,
    SerialBreak = 0x09,
    SerialOverflow = 0x0A,
};

inline constexpr int RtacHeaderSize = 12;
// From the start of an enhanced packet block to its packet data.
inline constexpr int PacketDataOffset = 28;
// From the start of an enhanced packet block to the line's bytes.
inline constexpr int PayloadOffset = PacketDataOffset + RtacHeaderSize;

// The most line bytes one packet carries. Wireshark refuses a file with a
// packet above 256 KiB as damaged, so longer chunks and packets are cut into
// pieces of this size.
inline constexpr qsizetype MaxPayload = 65536;

// Section header (with the writing application and an optional comment)
// followed by the one interface description (nanosecond timestamps).
QByteArray fileHeader(const QString &comment = QString());

// Appends an enhanced packet block: `wallNs` is the arrival time in
// nanoseconds since the epoch, `payload` the line's bytes, `comment` (may be
// empty) goes into the block's opt_comment.
void appendPacket(QByteArray &out, qint64 wallNs, quint8 eventType, quint8 lines, const char *payload, qint64 length,
                  const QString &comment = QString());

// The size of the block appendPacket writes.
qint64 packetBlockSize(qint64 payloadLength, const QString &comment = QString());

// The comment of the enhanced packet block `block` (its whole bytes), or an
// empty string when it has none or the block is malformed.
QString packetComment(const QByteArray &block);

} // namespace Pcapng
