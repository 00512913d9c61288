#pragma once

#include <QString>
#include <QtGlobal>

// A scratch file for the bytes a store keeps out of memory. It is removed from
// its folder as soon as it is made, so whatever way the program ends nothing
// stays behind on the disk; the space comes back when the file is closed.
// Freed ranges are handed back to the file system at once (a hole), so an
// edited or cleared store does not keep growing the file.
class SpillFile
{
public:
    // How much room a write must leave on the disk: below this the disk is
    // treated as full, so that the rest of the system keeps some.
    static constexpr qint64 DefaultReserve = 64 * 1024 * 1024;

    SpillFile() = default;
    ~SpillFile();
    SpillFile(const SpillFile &) = delete;
    SpillFile &operator=(const SpillFile &) = delete;

    // Makes the file in `folder` (created when missing). False, with
    // errorString(), when it cannot.
    bool open(const QString &folder);
    bool isOpen() const { return m_fd >= 0; }
    QString folder() const { return m_folder; }

    // Writes the bytes at the file's end and gives their offset, or -1 with
    // errorString() when the disk is full (or nearly: less than the reserve
    // would be left) or the write fails.
    qint64 write(const char *bytes, qsizetype length);
    bool read(qint64 offset, qsizetype length, char *out);
    void release(qint64 offset, qsizetype length);

    void setReserve(qint64 bytes) { m_reserve = bytes; }
    QString errorString() const { return m_error; }

    // Free space on the file's disk, -1 when unknown.
    qint64 freeSpace() const;

private:
    int m_fd = -1;
    qint64 m_end = 0;
    qint64 m_reserve = DefaultReserve;
    QString m_folder;
    QString m_error;
};
