#include "settingsstore.h"

#include "leadingnumber.h"

#include <QStandardPaths>
#include <QStringList>

#include <cmath>

QString SettingsStore::DefaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/NerovaPortlark/NerovaPortlark.ini");
}

SettingsStore::SettingsStore(const QString &path)
    : m_settings(path, QSettings::IniFormat)
{
}

QString SettingsStore::GetSetting(const QString &section, const QString &key, const QString &defaultValue) const
{
    const QVariant value = m_settings.value(section + u'/' + key);
    if (!value.isValid())
        return defaultValue;
    // An unquoted value with commas (a hand-edited mode string) reads back as
    // a list; the program stores text, so join it again.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(u',');
    return value.toString();
}

void SettingsStore::SaveSetting(const QString &section, const QString &key, const QString &value)
{
    m_settings.setValue(section + u'/' + key, value);
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
