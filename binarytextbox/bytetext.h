#pragma once

#include <QByteArray>

// The text a pane shows for a byte string: same length, each NUL as a space,
// every other byte unchanged, so positions in both stay equal.
QByteArray DisplayText(const QByteArray &bytes);
