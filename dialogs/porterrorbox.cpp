#include "porterrorbox.h"

#include <QMessageBox>

void ShowPortNotAvailable(const QString &reason)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf16(PortErrorTitle), QString::fromUtf16(PortNotAvailableText),
                    QMessageBox::Ok);
    box.setObjectName(QStringLiteral("PortErrorBox"));
    if (!reason.isEmpty())
        box.setDetailedText(reason);
    box.exec();
}
