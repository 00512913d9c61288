#include "panestorage.h"

#include "bytelineedit.h"

#include <QDir>
#include <QLabel>
#include <QStatusBar>

#include <utility>

namespace {
// Spilled bytes between two looks at the disk's free space.
constexpr qint64 CheckEveryBytes = qint64(16) << 20;
constexpr int AnnounceMs = 1000;

// The bound is for the whole program's growth, not the store's alone: the
// store keeps its chunks within all but a 32nd of it (8 MiB of 256), which
// leaves room for what else grows while data streams in (the session
// record's chunk being filled, read buffers, the heap's own slack).
qsizetype storeShare(qsizetype bound)
{
    return bound - bound / 32;
}
} // namespace

PaneStorage::PaneStorage(ByteLineEdit *pane, QStatusBar *status, const QString &folder, qsizetype memoryLimit)
    : QObject(pane)
    , m_pane(pane)
    , m_limit(memoryLimit)
{
    setObjectName(QStringLiteral("paneStorage"));
    if (!m_file.open(folder)) {
        m_openError = m_file.errorString();
        if (m_file.open(QDir::tempPath()))
            m_openError.clear();
    }
    if (status) {
        m_label = new QLabel(status);
        m_label->setObjectName(QStringLiteral("paneStorageProblem"));
        m_label->setStyleSheet(QStringLiteral("color: #b00000;"));
        m_label->hide();
        status->addPermanentWidget(m_label);
    }
    m_announceTimer.setSingleShot(true);
    m_announceTimer.setInterval(AnnounceMs);
    connect(&m_announceTimer, &QTimer::timeout, this, [this] {
        if (m_unannounced > 0)
            announce();
    });
    // Without a file the bound still holds: past it, what arrives is counted
    // as not kept rather than growing the program until the system kills it.
    m_pane->store().setSpill(&m_file, storeShare(m_limit));
    showProblem();
}

PaneStorage::~PaneStorage()
{
    if (m_unannounced > 0)
        announce();
    delete m_label;
}

void PaneStorage::setMemoryLimit(qsizetype bytes)
{
    m_limit = bytes;
    if (m_pane)
        m_pane->store().setSpill(&m_file, storeShare(m_limit));
}

qint64 PaneStorage::lostBytes() const
{
    return m_pane ? m_pane->bytes().lostBytes() : m_seenLost;
}

void PaneStorage::appended()
{
    if (!m_pane)
        return;
    const ByteStore &store = m_pane->bytes();
    bool changed = false;
    if (store.lostBytes() > m_seenLost) {
        m_unannounced += store.lostBytes() - m_seenLost;
        m_seenLost = store.lostBytes();
        m_lossReason = m_file.isOpen() ? store.spillError() : m_openError;
        if (!m_announceTimer.isActive())
            announce();
        changed = true;
    }
    if (store.spillFailing() != m_failing) {
        m_failing = store.spillFailing();
        changed = true;
    }
    if (changed || store.spilledBytes() - m_spilledAtCheck >= CheckEveryBytes
        || store.spilledBytes() < m_spilledAtCheck) {
        m_spilledAtCheck = store.spilledBytes();
        checkDisk();
        changed = true;
    }
    if (changed)
        showProblem();
}

void PaneStorage::announce()
{
    emit bytesNotKept(std::exchange(m_unannounced, 0), m_lossReason);
    m_announceTimer.start();
}

void PaneStorage::checkDisk()
{
    m_free = m_file.freeSpace();
    m_nearFull = m_free >= 0 && m_free < NearFullBytes;
}

void PaneStorage::showProblem()
{
    QString text;
    if (m_seenLost > 0 && m_failing)
        text = QStringLiteral("Input pane: cannot keep received bytes (%1); %2 bytes not kept")
                   .arg(m_lossReason)
                   .arg(m_seenLost);
    else if (m_seenLost > 0)
        text = QStringLiteral("Input pane: %1 received bytes were not kept (%2)").arg(m_seenLost).arg(m_lossReason);
    else if (!m_file.isOpen())
        text = QStringLiteral("Input pane: cannot keep old bytes on disk (%1); past %2 MiB, received bytes are "
                              "not kept")
                   .arg(m_openError)
                   .arg(m_limit >> 20);
    else if (m_nearFull)
        text
            = QStringLiteral("Input pane: disk nearly full (%1 MiB free in %2)").arg(m_free >> 20).arg(m_file.folder());
    if (text == m_problem)
        return;
    m_problem = text;
    if (m_label) {
        m_label->setText(text);
        m_label->setVisible(!text.isEmpty());
    }
}
