#pragma once

#include <QString>

// The one error the terminal reports: a port that cannot be opened. A modal
// box with a single OK button and no icon; `reason` (the device and the
// system's error) goes into the box's detail text. Returns when dismissed.
void ShowPortNotAvailable(const QString &reason);

// The box's texts, for tests.
inline constexpr char16_t PortNotAvailableText[] = u"The selected serial port is not available.";
inline constexpr char16_t PortErrorTitle[] = u"Portlark Error";
