#include "displaysetup.h"

#include <QByteArray>
#include <QtGlobal>

void DisplaySetup::Prepare()
{
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", QByteArrayLiteral("1"));
}
