#pragma once

#include <QChar>
#include <QString>

// Code page 437 glyphs, the character-cell set in which every byte value,
// control codes included, has a picture of its own.
char16_t Cp437Glyph(unsigned char byte);

// The glyphs of a byte string, one QChar per byte.
QString Cp437String(const char *bytes, qsizetype count);
