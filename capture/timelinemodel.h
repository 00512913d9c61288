#pragma once

#include "idlegapsplitter.h"
#include "sessionrecord.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QPointer>

// The session record as table rows: one row per idle-gap packet, a line
// event or an error standing as a row of its own. Nothing is kept per row but
// the splitter's packet; every cell is worked out when the view asks for it,
// so a record of millions of packets costs a few bytes a packet.
class TimelineModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Time, Relative, Gap, Direction, Length, Hex, Text, ColumnCount };
    // Bytes shown in a row's hex and text cells; longer packets end in "…".
    static constexpr int ShownBytes = 48;

    explicit TimelineModel(QObject *parent = nullptr);

    // Shows `record` (may be null), cut at `gapNs` idle gaps.
    void setRecord(const SessionRecord *record);
    const SessionRecord *record() const { return m_record; }
    // New timing: the packets are cut again from the start.
    void setTiming(qint64 gapNs, qint64 characterNs);
    const IdleGapSplitter &packets() const { return m_splitter; }

    // Takes in the record's events that have reached the spool since the
    // last call: new rows are inserted and a last packet that grew changes.
    void update();

    // The row of the packet holding event `index`, or -1.
    int rowOfEvent(qint64 index) const;
    // The bytes of rows (in the order given); line-event rows give none.
    QList<QByteArray> rowBytes(const QList<int> &rows) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // How a packet's time and gap read in the table.
    static QString durationText(qint64 ns);

private:
    QByteArray shownBytes(int row) const;
    QString cellText(int row, int column) const;

    QPointer<const SessionRecord> m_record;
    IdleGapSplitter m_splitter;
    int m_rows = 0;
    // The first bytes of recently shown rows, so painting a screenful reads
    // the spool once per row; bounded, cleared when full.
    mutable QHash<int, QByteArray> m_shown;
};
