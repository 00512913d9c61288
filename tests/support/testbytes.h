#pragma once

#include <QByteArray>
#include <QtGlobal>

// `size` bytes from a random generator seeded with `seed`: the same bytes
// for the same seed on every run, so a failure can be repeated.
QByteArray randomBytes(qsizetype size, quint32 seed);

// Every byte value 00..FF in order, `repeat` times over.
QByteArray allByteValues(int repeat = 1);
