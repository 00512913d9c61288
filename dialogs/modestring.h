#pragma once

#include <QString>
#include <QtGlobal>

#include <array>

// The serial mode string ("9600,N,8,1": baud rate, parity letter, data bits,
// stop bits), its value lists and the conversions between a mode string and
// positions in those lists.

// The line settings of the run. ModeString and HandshakeMode are loaded from
// and saved to the settings by the terminal window; the four list positions
// live only for the run and remember the last parsed or confirmed choice.
extern QString ModeString;
extern qint32 HandshakeMode;
extern qint32 BaudIndex;
extern qint32 ParityIndex;
extern qint32 DataBitsIndex;
extern qint32 StopBitsIndex;

struct BaudEntry
{
    const char16_t *text;
    qint32 rate;
};

struct ParityEntry
{
    const char16_t *text;
    char16_t letter;
};

struct BitsEntry
{
    const char16_t *text; // the display text is also the text in the mode string
    double value;
};

struct FlowEntry
{
    const char16_t *text;
    qint32 mode; // the HandshakeMode number, equal to the entry's position
};

inline constexpr std::array<BaudEntry, 11> BaudList{{
    {u"110", 110},
    {u"300", 300},
    {u"600", 600},
    {u"1200", 1200},
    {u"2400", 2400},
    {u"4800", 4800},
    {u"9600", 9600},
    {u"19200", 19200},
    {u"38400", 38400},
    {u"57600", 57600},
    {u"115200", 115200},
}};

inline constexpr std::array<ParityEntry, 5> ParityList{{
    {u"None", u'N'},
    {u"Odd", u'O'},
    {u"Even", u'E'},
    {u"Mark", u'M'},
    {u"Space", u'S'},
}};

inline constexpr std::array<BitsEntry, 4> DataBitsList{{
    {u"5", 5.0},
    {u"6", 6.0},
    {u"7", 7.0},
    {u"8", 8.0},
}};

inline constexpr std::array<BitsEntry, 3> StopBitsList{{
    {u"1", 1.0},
    {u"1.5", 1.5},
    {u"2", 2.0},
}};

inline constexpr std::array<FlowEntry, 3> FlowControlList{{
    {u"None", 0},
    {u"Xon / Xoff", 1},
    {u"Hardware", 2},
}};

// Sets each index whose field the mode string holds a listed value for and
// leaves the others as they were. Accepts a loose form: blanks anywhere in the
// numbers, parity by its first letter in either case ("even"), numbers such as
// "9600.0" that equal a listed value; anything after the fourth field is
// ignored. A field that is missing or not in its list changes nothing.
void ParseModeString(const QString &mode, qint32 &baudIndex, qint32 &parityIndex, qint32 &dataBitsIndex,
                     qint32 &stopBitsIndex);

// The canonical mode string of four list positions, such as "115200,E,7,1.5".
// An index outside its list (which the dialog never produces) is clamped to
// the nearest end of the list, so the result is always a well-formed string.
QString BuildModeString(qint32 baud, qint32 parity, qint32 dataBits, qint32 stopBits);
