#include "settingsstore.h"

#include "leadingnumber.h"

#include <QFile>
#include <QStandardPaths>
#include <QStringList>

#include <cmath>

namespace {

// The text after "key=" on the key's line in the file, as written there; a
// null string when the line is not found. The last line for the key counts,
// as it does for the settings reader.
QString rawIniValue(const QString &path, const QString &section, const QString &key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QString header = u'[' + section + u']';
    QString value;
    bool inSection = false;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &bytes : lines) {
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (line.startsWith(u'[')) {
            inSection = line == header;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (inSection && eq > 0 && QStringView(line).left(eq).trimmed() == key)
            value = line.mid(eq + 1).trimmed();
    }
    return value;
}

// An unquoted value with commas reads back as a list with the blanks around
// each comma gone. The program stores text, so the text is taken from the
// file as written, provided it is the same list; otherwise the list is
// joined again.
QString listAsWritten(const QStringList &list, const QString &path, const QString &section, const QString &key)
{
    const QString raw = rawIniValue(path, section, key);
    QStringList parts = raw.split(u',');
    for (QString &part : parts)
        part = part.trimmed();
    return !raw.isNull() && parts == list ? raw : list.join(u',');
}

} // namespace

QString SettingsStore::DefaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/NerovaPortlark/NerovaPortlark.ini");
}

SettingsStore::SettingsStore(const QString &path)
    : m_settings(path, QSettings::IniFormat)
{}

QString SettingsStore::GetSetting(const QString &section, const QString &key, const QString &defaultValue) const
{
    const QVariant value = m_settings.value(section + u'/' + key);
    if (!value.isValid())
        return defaultValue;
    if (value.typeId() == QMetaType::QStringList)
        return listAsWritten(value.toStringList(), m_settings.fileName(), section, key);
    return value.toString();
}

void SettingsStore::SaveSetting(const QString &section, const QString &key, const QString &value)
{
    keepListsAsWritten();
    m_settings.setValue(section + u'/' + key, value);
}

void SettingsStore::keepListsAsWritten()
{
    // A save rewrites the whole file, and a value still held as a list would
    // go back joined with ", ", no longer the text that was read. Held as the
    // text it was read as, it is written quoted and reads back unchanged.
    if (m_listsKept)
        return;
    m_listsKept = true;
    const QStringList keys = m_settings.allKeys();
    for (const QString &full : keys) {
        const QVariant value = m_settings.value(full);
        if (value.typeId() != QMetaType::QStringList)
            continue;
        const qsizetype slash = full.indexOf(u'/');
        const QString section = slash < 0 ? QStringLiteral("General") : full.left(slash);
        const QString key = slash < 0 ? full : full.mid(slash + 1);
        m_settings.setValue(full, listAsWritten(value.toStringList(), m_settings.fileName(), section, key));
    }
}

QMap<QString, QString> SettingsStore::GetAllSettings(const QString &section) const
{
    QMap<QString, QString> all;
    m_settings.beginGroup(section);
    const QStringList keys = m_settings.childKeys();
    m_settings.endGroup();
    for (const QString &key : keys)
        all.insert(key, GetSetting(section, key, QString()));
    return all;
}

bool SettingsStore::Flush()
{
    m_settings.sync();
    return m_settings.status() != QSettings::AccessError;
}

qint32 ReadStoredNumber(const QString &text, qint32 minimum, qint32 maximum, qint32 fallback)
{
    const double value = std::nearbyint(LeadingNumber(text));
    if (!(value >= double(minimum) && value <= double(maximum)))
        return fallback;
    return static_cast<qint32>(value);
}
