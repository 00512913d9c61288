#pragma once

#include <QChar>

// Code page 437 glyphs, the character-cell set in which every byte value,
// control codes included, has a picture of its own.
char16_t Cp437Glyph(unsigned char byte);
