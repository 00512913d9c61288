#pragma once

#include <QByteArray>
#include <QString>

// Writes `ini` as the settings file the program reads when XDG_CONFIG_HOME is
// `configHome`, making its folder; gives the file's path, empty on failure.
QString writeUserSettings(const QString &configHome, const QByteArray &ini);
