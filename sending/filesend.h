#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class PacedWriter;

// Sends one file through the paced writer, reading it a block at a time as
// the line takes it, so a file of any size goes out without being held in
// memory and without stalling the window.
class FileSend : public QObject
{
    Q_OBJECT

public:
    // The most read ahead of what the line has taken.
    static constexpr qint64 ReadAhead = 64 * 1024;
    // How often progress is told while the send runs.
    static constexpr int ProgressInterval = 100; // ms

    explicit FileSend(PacedWriter *writer, QObject *parent = nullptr);
    ~FileSend() override;

    // Starts sending `path`; false when it cannot be read (or a send is
    // running), with the reason in *error.
    bool start(const QString &path, QString *error = nullptr);
    bool isRunning() const { return m_file.isOpen(); }

    // Stops at once: nothing more is read, and every byte not yet on the
    // line is dropped, so the line goes quiet.
    void cancel();

    QString fileName() const { return m_name; }
    qint64 total() const { return m_total; }
    // Bytes handed to the device so far.
    qint64 sent() const;
    qint64 elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }

signals:
    void progress(qint64 sent, qint64 total);
    // The send is over: completed when every byte went out, else `reason`
    // says why it stopped ("Cancelled", the port closed, a read error).
    void finished(bool completed, const QString &reason);

private:
    void feed();
    void finish(bool completed, const QString &reason);

    QPointer<PacedWriter> m_writer;
    QFile m_file;
    QString m_name;
    qint64 m_total = 0;
    qint64 m_fed = 0;
    bool m_feeding = false;
    qint64 m_sent = 0; // as last seen while the port was open
    qint64 m_pendingAtStart = 0;
    QElapsedTimer m_clock;
    QTimer m_tick;
};
