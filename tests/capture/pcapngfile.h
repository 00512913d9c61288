#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Reads a pcapng file written for one RTAC serial interface back into its
// packets, checking every block's framing on the way, so that tests compare
// what a reader of the file would see.
struct PcapngPacket
{
    quint64 timestamp = 0; // in the interface's units (nanoseconds here)
    quint32 headerSeconds = 0;
    quint32 headerMicros = 0;
    quint8 eventType = 0;
    quint8 lines = 0;
    quint16 footer = 0;
    QByteArray payload;
    QString comment;
};

struct PcapngFile
{
    bool ok = false;
    QString error; // what was wrong, when not ok
    quint16 linkType = 0;
    int tsResolution = 6;
    QString sectionComment;
    QList<PcapngPacket> packets;
};

PcapngFile readPcapng(const QByteArray &bytes);
PcapngFile readPcapngFile(const QString &path);

// The lines tshark prints for `args`; one line saying why when it fails.
QStringList tshark(const QStringList &args);
