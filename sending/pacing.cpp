#include "pacing.h"

#include <QSettings>

bool Pacing::endsLine(const QByteArray &bytes, qsizetype index)
{
    const char c = bytes.at(index);
    if (c == '\n')
        return true;
    return c == '\r' && (index + 1 == bytes.size() || bytes.at(index + 1) != '\n');
}

int Pacing::delayAfter(const QByteArray &bytes, qsizetype index) const
{
    return byteDelay + (lineDelay > 0 && endsLine(bytes, index) ? lineDelay : 0);
}

qint64 Pacing::totalDelay(const QByteArray &bytes) const
{
    qint64 total = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i)
        total += delayAfter(bytes, i);
    return total;
}

namespace {

int readDelay(const QSettings &settings, const QString &key)
{
    bool ok = false;
    const int value = settings.value(QLatin1String(Pacing::SettingsGroup) + u'/' + key).toString().toInt(&ok);
    return ok && value >= 0 && value <= Pacing::MaxDelay ? value : 0;
}

} // namespace

Pacing Pacing::read(const QSettings &settings)
{
    Pacing p;
    p.byteDelay = readDelay(settings, QStringLiteral("ByteDelay"));
    p.lineDelay = readDelay(settings, QStringLiteral("LineDelay"));
    return p;
}

void Pacing::write(QSettings &settings) const
{
    const QString group = QLatin1String(SettingsGroup);
    settings.setValue(group + QStringLiteral("/ByteDelay"), QString::number(byteDelay));
    settings.setValue(group + QStringLiteral("/LineDelay"), QString::number(lineDelay));
}
