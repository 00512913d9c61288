#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A virtual null-modem cable: two pseudo-terminals joined by socat, reached
// through the links pathA() and pathB(). What is written to one end arrives
// at the other. kill() pulls the cable out (both ends hang up), the
// destructor stops socat and removes the links.
class SocatPair
{
public:
    SocatPair();
    ~SocatPair();
    SocatPair(const SocatPair &) = delete;
    SocatPair &operator=(const SocatPair &) = delete;

    // Whether socat can be run at all.
    static bool available();

    // Starts socat and waits until both ends exist. On failure returns false
    // and errorString() says why.
    bool start(int timeoutMs = 10000);
    // The same with the links at the paths given, so that a pair made again
    // after kill() (a new SocatPair) is found where the old one was.
    bool start(const QString &pathA, const QString &pathB, int timeoutMs = 10000);
    bool isRunning() const;

    // The links to the two ends, and the pseudo-terminals they point to.
    QString pathA() const { return m_pathA; }
    QString pathB() const { return m_pathB; }
    QString deviceA() const;
    QString deviceB() const;

    // Ends socat at once (SIGKILL), as when a cable is pulled or the far end
    // of a pseudo-terminal vanishes; waits until it has gone.
    void kill();

    QString errorString() const { return m_error; }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_socat;
    QString m_pathA;
    QString m_pathB;
    QString m_error;
};

// One end of a terminal device opened raw and non-blocking, as the program on
// the far side of the cable. The reading and writing helpers keep the calling
// thread's event loop running while they wait, so a serial control living on
// the same thread goes on moving data.
class RawTty
{
public:
    RawTty() = default;
    explicit RawTty(const QString &path) { open(path); }
    ~RawTty();
    RawTty(const RawTty &) = delete;
    RawTty &operator=(const RawTty &) = delete;

    bool open(const QString &path);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    int handle() const { return m_fd; }
    QString errorString() const { return m_error; }

    // Writes every byte, waiting while the device is full; false on an error
    // or when timeoutMs passes first.
    bool writeAll(const QByteArray &bytes, int timeoutMs = 60000);
    // Reads until `count` bytes have come or timeoutMs has passed; returns
    // what came (compare its size to see whether all did).
    QByteArray readExactly(qint64 count, int timeoutMs = 60000);
    // What can be read now, without waiting.
    QByteArray readAvailable();

private:
    int m_fd = -1;
    QString m_error;
};
