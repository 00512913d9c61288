#include "filesend.h"

#include "pacedwriter.h"

#include <QFileInfo>

#include <algorithm>

FileSend::FileSend(PacedWriter *writer, QObject *parent)
    : QObject(parent)
    , m_writer(writer)
{
    m_tick.setInterval(ProgressInterval);
    connect(&m_tick, &QTimer::timeout, this, &FileSend::feed);
    connect(writer, &PacedWriter::pendingChanged, this, [this](qint64 bytes) {
        // Read on as soon as the line has room, not only at the next tick.
        if (isRunning() && !m_feeding && bytes < ReadAhead)
            feed();
    });
}

FileSend::~FileSend()
{
    if (isRunning())
        cancel();
}

bool FileSend::start(const QString &path, QString *error)
{
    if (isRunning()) {
        if (error)
            *error = QStringLiteral("A file is being sent already.");
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, m_file.errorString());
        return false;
    }
    m_name = QFileInfo(path).fileName();
    m_total = m_file.size();
    m_fed = 0;
    m_sent = 0;
    // Bytes already waiting (from Send) are not part of the file.
    m_pendingAtStart = m_writer ? m_writer->pending() : 0;
    m_clock.start();
    m_tick.start();
    feed();
    return true;
}

qint64 FileSend::sent() const
{
    const qint64 pending = m_writer ? std::max<qint64>(0, m_writer->pending() - m_pendingAtStart) : 0;
    return std::clamp<qint64>(m_fed - pending, 0, m_total);
}

void FileSend::cancel()
{
    if (!isRunning())
        return;
    const qint64 done = sent();
    m_sent = done;
    m_file.close(); // before the drop, whose news would otherwise read on
    if (m_writer)
        m_writer->drop();
    finish(false, QStringLiteral("Cancelled after %1 of %2 bytes").arg(done).arg(m_total));
}

void FileSend::feed()
{
    if (!isRunning())
        return;
    if (!m_writer || !m_writer->portOpen()) {
        // Bytes the port held when it closed never reached the line.
        finish(false, QStringLiteral("The port closed after %1 of %2 bytes").arg(m_sent).arg(m_total));
        return;
    }
    // What was waiting before the file drains first and is not the file's.
    m_pendingAtStart = std::min(m_pendingAtStart, m_writer->pending());
    while (m_fed < m_total && m_writer->pending() < ReadAhead) {
        const QByteArray block = m_file.read(ReadAhead);
        if (block.isEmpty()) {
            m_sent = sent();
            const QString why = m_file.errorString();
            m_file.close();
            m_writer->drop();
            finish(false, QStringLiteral("%1: %2 after %3 of %4 bytes").arg(m_name, why).arg(m_sent).arg(m_total));
            return;
        }
        m_fed += block.size();
        m_feeding = true; // the writer's news of this block must not read on inside it
        m_writer->write(block);
        m_feeding = false;
    }
    m_sent = sent();
    emit progress(m_sent, m_total);
    if (m_fed >= m_total && m_writer->pending() <= m_pendingAtStart)
        finish(true, QString());
}

void FileSend::finish(bool completed, const QString &reason)
{
    m_tick.stop();
    m_file.close();
    if (completed)
        m_sent = m_total;
    emit progress(m_sent, m_total);
    emit finished(completed, reason);
}
