#include "sendfileprogress.h"

#include "filesend.h"

#include <QGridLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>

SendFileProgress::SendFileProgress(FileSend *send, QWidget *parent)
    : QDialog(parent)
    , m_send(send)
{
    setObjectName(QStringLiteral("SendFileProgress"));
    setWindowTitle(QStringLiteral("Send File"));
    setModal(false);

    m_file = new QLabel(this);
    m_file->setObjectName(QStringLiteral("lblFile"));
    bar = new QProgressBar(this);
    bar->setObjectName(QStringLiteral("barProgress"));
    bar->setRange(0, 1000); // per mille, so files beyond 2 GiB fit
    bar->setTextVisible(true);
    lblBytes = new QLabel(this);
    lblBytes->setObjectName(QStringLiteral("lblBytes"));
    lblRate = new QLabel(this);
    lblRate->setObjectName(QStringLiteral("lblRate"));
    lblLeft = new QLabel(this);
    lblLeft->setObjectName(QStringLiteral("lblLeft"));
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(m_file, 0, 0, 1, 3);
    grid->addWidget(bar, 1, 0, 1, 3);
    grid->addWidget(lblBytes, 2, 0);
    grid->addWidget(lblRate, 2, 1, Qt::AlignCenter);
    grid->addWidget(lblLeft, 2, 2, Qt::AlignRight);
    grid->addWidget(cmdCancel, 3, 2, Qt::AlignRight);
    setMinimumWidth(420);

    connect(cmdCancel, &QPushButton::clicked, send, &FileSend::cancel);
    connect(send, &FileSend::progress, this, &SendFileProgress::showProgress);
    m_file->setText(QStringLiteral("Sending %1").arg(send->fileName()));
    showProgress(send->sent(), send->total());
}

void SendFileProgress::showProgress(qint64 sent, qint64 total)
{
    if (m_send)
        m_file->setText(QStringLiteral("Sending %1").arg(m_send->fileName()));
    bar->setValue(total > 0 ? int(sent * 1000 / total) : 1000);
    bar->setFormat(total > 0 ? QStringLiteral("%1 %").arg(sent * 100 / total) : QStringLiteral("100 %"));
    const qint64 elapsed = m_send ? m_send->elapsedMs() : 0;
    lblBytes->setText(bytesText(sent, total));
    lblRate->setText(rateText(sent, elapsed));
    lblLeft->setText(timeLeftText(sent, total, elapsed));
}

QString SendFileProgress::bytesText(qint64 sent, qint64 total)
{
    const QLocale c(QLocale::English);
    return QStringLiteral("%1 of %2 bytes").arg(c.toString(sent), c.toString(total));
}

QString SendFileProgress::rateText(qint64 sent, qint64 elapsedMs)
{
    if (elapsedMs <= 0)
        return QStringLiteral("-");
    const double perSecond = double(sent) * 1000.0 / double(elapsedMs);
    if (perSecond >= 1024.0 * 1024.0)
        return QStringLiteral("%1 MiB/s").arg(perSecond / (1024.0 * 1024.0), 0, 'f', 1);
    if (perSecond >= 1024.0)
        return QStringLiteral("%1 KiB/s").arg(perSecond / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 bytes/s").arg(qRound64(perSecond));
}

QString SendFileProgress::timeLeftText(qint64 sent, qint64 total, qint64 elapsedMs)
{
    if (sent >= total)
        return QStringLiteral("0:00 left");
    if (sent <= 0 || elapsedMs <= 0)
        return QStringLiteral("time left unknown");
    const qint64 seconds = qint64(double(total - sent) * double(elapsedMs) / double(sent) / 1000.0 + 0.5);
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3 left")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2 left").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
