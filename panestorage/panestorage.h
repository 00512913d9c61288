#pragma once

#include "spillfile.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class ByteLineEdit;
class QLabel;
class QStatusBar;

// Keeps a pane's memory under a fixed bound however many bytes it receives:
// the pane's store writes its oldest chunks to a scratch file (see SpillFile)
// and reads them back when they are shown, copied or edited. When the file's
// disk nears full, a permanent line in the status bar says so; bytes the disk
// could not take are counted there and announced through bytesNotKept(), so
// that whoever keeps the session's record can mark them. None go silently.
class PaneStorage : public QObject
{
    Q_OBJECT

public:
    // How much the program may grow by what the pane receives; the pane's
    // store holds all but a 32nd of it in memory, the rest is left for what
    // grows beside it.
    static constexpr qsizetype DefaultMemoryLimit = qsizetype(256) << 20;
    // Free space below which the status line warns, before the file refuses
    // to grow (at SpillFile::DefaultReserve).
    static constexpr qint64 NearFullBytes = qint64(512) << 20;

    // Spills `pane`'s store to a file in `folder` (made when missing; the
    // system's temporary folder when it cannot be used). The status line
    // goes into `status` when there is one. The object is the pane's child:
    // the store uses its file for as long as the pane lives.
    PaneStorage(ByteLineEdit *pane, QStatusBar *status, const QString &folder,
                qsizetype memoryLimit = DefaultMemoryLimit);
    ~PaneStorage() override;

    // Call after bytes were appended to the pane: notes what the store could
    // not keep and how full the disk is.
    void appended();

    void setMemoryLimit(qsizetype bytes);
    qsizetype memoryLimit() const { return m_limit; }
    // Received bytes the pane could not keep, in all.
    qint64 lostBytes() const;
    // What the status line says ("" when all is well).
    QString problem() const { return m_problem; }
    SpillFile &file() { return m_file; }

signals:
    // `bytes` more bytes were not kept, for `reason`. The first loss is
    // announced at once, later ones at most once a second: every lost byte
    // is in exactly one announcement, made within a second of its loss.
    void bytesNotKept(qint64 bytes, const QString &reason);

private:
    void announce();
    void checkDisk();
    void showProblem();

    QPointer<ByteLineEdit> m_pane;
    SpillFile m_file;
    qsizetype m_limit = DefaultMemoryLimit;
    QString m_openError;
    QPointer<QLabel> m_label;
    QString m_problem;

    qint64 m_seenLost = 0;    // the store's lost count at the last look
    qint64 m_unannounced = 0; // lost bytes not yet in an announcement
    QString m_lossReason;
    QTimer m_announceTimer;
    bool m_failing = false;      // the file refused the store's last spill
    qint64 m_spilledAtCheck = 0; // spilled bytes at the last free-space look
    qint64 m_free = -1;          // free space on the file's disk at that look
    bool m_nearFull = false;
};
