#pragma once

#include <QByteArray>
#include <QtGlobal>

class QSettings;

// How slowly bytes go out for a device that cannot take them at line speed:
// a delay after each byte and a further one after each line end.
struct Pacing
{
    static constexpr int MaxDelay = 10000; // ms

    int byteDelay = 0; // ms after each byte
    int lineDelay = 0; // ms after each line end, on top of byteDelay

    bool isPaced() const { return byteDelay > 0 || lineDelay > 0; }

    // Whether the byte at `index` ends a line: a LF, or a CR not followed by
    // a LF (a CR LF pair is one line end, at its LF). A CR that is the last
    // byte known counts, since what follows is not known yet.
    static bool endsLine(const QByteArray &bytes, qsizetype index);

    // The pause after the byte at `index` has gone out.
    int delayAfter(const QByteArray &bytes, qsizetype index) const;

    // The time the delays alone add to sending `bytes`, in ms.
    qint64 totalDelay(const QByteArray &bytes) const;

    // Kept in the settings section "Sending" (ByteDelay, LineDelay); a value
    // that is missing or outside 0..MaxDelay reads as 0.
    static Pacing read(const QSettings &settings);
    void write(QSettings &settings) const;
    static inline const char *const SettingsGroup = "Sending";
};
