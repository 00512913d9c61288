#include "socatpair.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Lets the thread's event loop run while a helper waits for the device, so a
// control on the same thread keeps moving data; a thread without an event
// loop simply waits on the descriptor.
void waitForDevice(int fd, QSocketNotifier::Type type, QDeadlineTimer deadline)
{
    const int slice = int(qBound(qint64(1), deadline.remainingTime(), qint64(100)));
    if (QThread::currentThread()->eventDispatcher()) {
        QEventLoop loop;
        QSocketNotifier notifier(fd, type);
        QObject::connect(&notifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
        QTimer::singleShot(slice, &loop, &QEventLoop::quit);
        loop.exec();
    } else {
        pollfd p{fd, short(type == QSocketNotifier::Read ? POLLIN : POLLOUT), 0};
        ::poll(&p, 1, slice);
    }
}

} // namespace

SocatPair::SocatPair() = default;

SocatPair::~SocatPair()
{
    if (m_socat.state() != QProcess::NotRunning) {
        m_socat.terminate();
        if (!m_socat.waitForFinished(3000)) {
            m_socat.kill();
            m_socat.waitForFinished(3000);
        }
    }
}

bool SocatPair::available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty();
}

bool SocatPair::start(int timeoutMs)
{
    return start(QString(), QString(), timeoutMs);
}

bool SocatPair::start(const QString &pathA, const QString &pathB, int timeoutMs)
{
    m_error.clear();
    if (!available()) {
        m_error = QStringLiteral("socat is not installed");
        return false;
    }
    // Keeps socat's log, and the links unless they are placed elsewhere.
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("cannot make a temporary directory: ") + m_dir->errorString();
        return false;
    }
    m_pathA = pathA.isEmpty() ? m_dir->filePath(QStringLiteral("a")) : pathA;
    m_pathB = pathB.isEmpty() ? m_dir->filePath(QStringLiteral("b")) : pathB;
    m_socat.setStandardOutputFile(QProcess::nullDevice());
    m_socat.setStandardErrorFile(m_dir->filePath(QStringLiteral("socat.log")));
    m_socat.start(QStringLiteral("socat"),
                  {QStringLiteral("-d"), QStringLiteral("-d"), QStringLiteral("pty,raw,echo=0,link=") + m_pathA,
                   QStringLiteral("pty,raw,echo=0,link=") + m_pathB});
    if (!m_socat.waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("socat did not start: ") + m_socat.errorString();
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    while (!(QFileInfo::exists(m_pathA) && QFileInfo::exists(m_pathB))) {
        if (m_socat.state() == QProcess::NotRunning || deadline.hasExpired()) {
            QFile log(m_dir->filePath(QStringLiteral("socat.log")));
            m_error = QStringLiteral("socat did not make the pseudo-terminals");
            if (log.open(QIODevice::ReadOnly))
                m_error += QStringLiteral(": ") + QString::fromLocal8Bit(log.readAll().trimmed());
            return false;
        }
        QThread::msleep(5);
    }
    return true;
}

bool SocatPair::isRunning() const
{
    return m_socat.state() == QProcess::Running;
}

QString SocatPair::deviceA() const
{
    return QFileInfo(m_pathA).canonicalFilePath();
}

QString SocatPair::deviceB() const
{
    return QFileInfo(m_pathB).canonicalFilePath();
}

void SocatPair::kill()
{
    if (m_socat.state() == QProcess::NotRunning)
        return;
    m_socat.kill();
    m_socat.waitForFinished(5000);
}

RawTty::~RawTty()
{
    close();
}

bool RawTty::open(const QString &path)
{
    close();
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        m_error = path + QStringLiteral(": ") + systemError(errno);
        return false;
    }
    termios tio;
    if (::tcgetattr(m_fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cc[VMIN] = 1; // so that an empty non-blocking read says EAGAIN, and 0 means hang-up
        tio.c_cc[VTIME] = 0;
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    return true;
}

void RawTty::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool RawTty::writeAll(const QByteArray &bytes, int timeoutMs)
{
    if (m_fd < 0) {
        m_error = QStringLiteral("not open");
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            m_error = systemError(errno);
            return false;
        }
        if (deadline.hasExpired()) {
            m_error = QStringLiteral("timed out after %1 of %2 bytes").arg(done).arg(bytes.size());
            return false;
        }
        waitForDevice(m_fd, QSocketNotifier::Write, deadline);
    }
    return true;
}

QByteArray RawTty::readExactly(qint64 count, int timeoutMs)
{
    QByteArray result;
    if (m_fd < 0)
        return result;
    result.reserve(count);
    const QDeadlineTimer deadline(timeoutMs);
    char buffer[65536];
    while (result.size() < count) {
        const ssize_t n = ::read(m_fd, buffer, size_t(qMin<qint64>(sizeof buffer, count - result.size())));
        if (n > 0) {
            result.append(buffer, n);
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            m_error = n == 0 ? QStringLiteral("end of file") : systemError(errno);
            break;
        }
        if (deadline.hasExpired())
            break;
        waitForDevice(m_fd, QSocketNotifier::Read, deadline);
    }
    return result;
}

QByteArray RawTty::readAvailable()
{
    QByteArray result;
    if (m_fd < 0)
        return result;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        result.append(buffer, n);
    }
    return result;
}
