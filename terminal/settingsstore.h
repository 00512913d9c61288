#pragma once

#include <QMap>
#include <QSettings>
#include <QString>

// The per-user settings store: an INI file with one text value per key,
// grouped in sections. Reading never fails (a missing key gives the default),
// and a file that cannot be parsed, read or written never stops the program:
// what could be read is used, and saving keeps every key and section that was
// read, whether the program knows it or not.
class SettingsStore
{
public:
    // The file the program uses: NerovaPortlark/NerovaPortlark.ini under the
    // user's configuration directory ($XDG_CONFIG_HOME, default ~/.config).
    static QString DefaultPath();

    explicit SettingsStore(const QString &path = DefaultPath());

    QString GetSetting(const QString &section, const QString &key, const QString &defaultValue) const;
    void SaveSetting(const QString &section, const QString &key, const QString &value);

    // Every key of a section with its text.
    QMap<QString, QString> GetAllSettings(const QString &section) const;

    // Writes pending changes to the file; false when the file could not be
    // written (the values stay in memory).
    bool Flush();

    QString path() const { return m_settings.fileName(); }

    // The underlying store, for components that keep a section of their own.
    QSettings &settings() { return m_settings; }

private:
    void keepListsAsWritten();

    mutable QSettings m_settings;
    bool m_listsKept = false;
};

// A stored number as the program reads it: the leading number of the text,
// rounded halves-to-even, used when it lies in [minimum, maximum]; any other
// value (out of range, beyond the integer width) gives the fallback.
qint32 ReadStoredNumber(const QString &text, qint32 minimum, qint32 maximum, qint32 fallback);
