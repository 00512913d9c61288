#pragma once

#include <QDialog>
#include <QPointer>

class FileSend;
class QLabel;
class QProgressBar;
class QPushButton;

// The window beside the terminal that follows a file send: how much went out,
// at what rate, how long is left, and a Cancel that stops it at once. It
// leaves the terminal usable meanwhile (not modal).
class SendFileProgress : public QDialog
{
    Q_OBJECT

public:
    SendFileProgress(FileSend *send, QWidget *parent = nullptr);

    // "12,288 of 1,048,576 bytes", "11.5 KiB/s", "1:25 left": the texts
    // shown for a send `sent` bytes into `total` after `elapsedMs`.
    static QString bytesText(qint64 sent, qint64 total);
    static QString rateText(qint64 sent, qint64 elapsedMs);
    static QString timeLeftText(qint64 sent, qint64 total, qint64 elapsedMs);

    QProgressBar *bar = nullptr;
    QLabel *lblBytes = nullptr;
    QLabel *lblRate = nullptr;
    QLabel *lblLeft = nullptr;
    QPushButton *cmdCancel = nullptr;

private:
    void showProgress(qint64 sent, qint64 total);

    QPointer<FileSend> m_send;
    QLabel *m_file = nullptr;
};
