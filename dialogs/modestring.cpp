#include "modestring.h"

#include "leadingnumber.h"

#include <algorithm>

QString ModeString = QStringLiteral("9600,N,8,1");
qint32 HandshakeMode = 0;
qint32 BaudIndex = 0;
qint32 ParityIndex = 0;
qint32 DataBitsIndex = 0;
qint32 StopBitsIndex = 0;

namespace {

// The part after the first comma; a text without a comma stays whole, so the
// later fields of a short string are read from what is left of it.
QStringView restAfterComma(QStringView text)
{
    const qsizetype comma = text.indexOf(u',');
    return comma < 0 ? text : text.mid(comma + 1);
}

QStringView trimSpaces(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

// The position of the entry whose value equals `value` exactly, or -1.
template<typename List, typename Value>
qint32 findValue(const List &list, Value value, double number)
{
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (double(list[i].*value) == number)
            return qint32(i);
    }
    return -1;
}

template<typename List>
const auto &clamped(const List &list, qint32 index)
{
    return list[std::size_t(std::clamp<qint32>(index, 0, qint32(list.size()) - 1))];
}

} // namespace

void ParseModeString(const QString &mode, qint32 &baudIndex, qint32 &parityIndex, qint32 &dataBitsIndex,
                     qint32 &stopBitsIndex)
{
    QStringView rest(mode);

    if (const qint32 i = findValue(BaudList, &BaudEntry::rate, LeadingNumber(rest)); i >= 0)
        baudIndex = i;

    rest = restAfterComma(rest);
    const QStringView parity = trimSpaces(rest);
    if (!parity.isEmpty()) {
        const QChar letter = parity.front().toUpper();
        for (std::size_t i = 0; i < ParityList.size(); ++i) {
            if (letter == QChar(ParityList[i].letter)) {
                parityIndex = qint32(i);
                break;
            }
        }
    }

    rest = restAfterComma(rest);
    if (const qint32 i = findValue(DataBitsList, &BitsEntry::value, LeadingNumber(rest)); i >= 0)
        dataBitsIndex = i;

    rest = restAfterComma(rest);
    if (const qint32 i = findValue(StopBitsList, &BitsEntry::value, LeadingNumber(rest)); i >= 0)
        stopBitsIndex = i;
}

QString BuildModeString(qint32 baud, qint32 parity, qint32 dataBits, qint32 stopBits)
{
    return QString::number(clamped(BaudList, baud).rate) + u',' + QChar(clamped(ParityList, parity).letter) + u','
           + QString::fromUtf16(clamped(DataBitsList, dataBits).text) + u','
           + QString::fromUtf16(clamped(StopBitsList, stopBits).text);
}
