#include "usersettings.h"

#include <QDir>
#include <QFile>

QString writeUserSettings(const QString &configHome, const QByteArray &ini)
{
    const QString folder = configHome + QStringLiteral("/NerovaPortlark");
    const QString path = folder + QStringLiteral("/NerovaPortlark.ini");
    QFile f(path);
    if (!QDir().mkpath(folder) || !f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(ini) != ini.size())
        return QString();
    return path;
}
