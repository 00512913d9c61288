#pragma once

#include <QByteArray>
#include <QtGlobal>

// `size` bytes from a random generator seeded with `seed`: the same bytes
// for the same seed on every run, so a failure can be repeated.
QByteArray randomBytes(qsizetype size, quint32 seed);
