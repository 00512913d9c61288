#include "serialmode.h"

#include <QStringList>

#include <cmath>

namespace {

// A decimal number with an optional fraction; no sign, no exponent, no
// grouping, so "9 600" or "1e4" are not mistaken for rates.
std::optional<double> readPlainNumber(const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    int dots = 0;
    int digits = 0;
    for (const QChar c : text) {
        if (c == u'.') {
            if (++dots > 1)
                return std::nullopt;
        } else if (c >= u'0' && c <= u'9') {
            ++digits;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0)
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

std::optional<QSerialPort::Parity> readParity(const QString &text)
{
    struct Name
    {
        const char *letter;
        const char *word;
        QSerialPort::Parity parity;
    };
    static const Name names[] = {
        {"N", "NONE", QSerialPort::NoParity},     {"O", "ODD", QSerialPort::OddParity},
        {"E", "EVEN", QSerialPort::EvenParity},   {"M", "MARK", QSerialPort::MarkParity},
        {"S", "SPACE", QSerialPort::SpaceParity},
    };
    const QString upper = text.toUpper();
    for (const Name &n : names) {
        if (upper == QLatin1String(n.letter) || upper == QLatin1String(n.word))
            return n.parity;
    }
    return std::nullopt;
}

bool fail(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return false;
}

} // namespace

std::optional<SerialMode> SerialMode::parse(const QString &mode, QString *why)
{
    const QStringList fields = mode.split(u',');
    if (fields.size() != 4) {
        fail(why, QStringLiteral("the mode \"%1\" does not have the four fields baud rate, parity, "
                                 "data bits and stop bits (such as \"9600,N,8,1\")")
                      .arg(mode));
        return std::nullopt;
    }
    const QString baudText = fields[0].trimmed();
    const QString parityText = fields[1].trimmed();
    const QString dataText = fields[2].trimmed();
    const QString stopText = fields[3].trimmed();

    SerialMode result;

    const auto baud = readPlainNumber(baudText);
    if (!baud || *baud < 1 || *baud > 2147483647.0 || std::floor(*baud) != *baud) {
        fail(why, QStringLiteral("the baud rate \"%1\" is not a positive whole number").arg(baudText));
        return std::nullopt;
    }
    result.baudRate = qint32(*baud);

    const auto parity = readParity(parityText);
    if (!parity) {
        fail(why, QStringLiteral("the parity \"%1\" is not one of N, O, E, M, S").arg(parityText));
        return std::nullopt;
    }
    result.parity = *parity;

    const auto data = readPlainNumber(dataText);
    if (!data || (*data != 5 && *data != 6 && *data != 7 && *data != 8)) {
        fail(why, QStringLiteral("the data bits \"%1\" are not 5, 6, 7 or 8").arg(dataText));
        return std::nullopt;
    }
    result.dataBits = QSerialPort::DataBits(int(*data));

    const auto stop = readPlainNumber(stopText);
    if (!stop || (*stop != 1 && *stop != 1.5 && *stop != 2)) {
        fail(why, QStringLiteral("the stop bits \"%1\" are not 1, 1.5 or 2").arg(stopText));
        return std::nullopt;
    }
    if (*stop == 1.5) {
        result.stopBits = QSerialPort::TwoStop;
        result.oneAndHalfStop = true;
    } else {
        result.stopBits = *stop == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop;
    }

    if (why)
        why->clear();
    return result;
}

QString SerialMode::toString() const
{
    QChar letter = u'N';
    switch (parity) {
    case QSerialPort::OddParity:
        letter = u'O';
        break;
    case QSerialPort::EvenParity:
        letter = u'E';
        break;
    case QSerialPort::MarkParity:
        letter = u'M';
        break;
    case QSerialPort::SpaceParity:
        letter = u'S';
        break;
    default:
        break;
    }
    const QString stop = oneAndHalfStop                     ? QStringLiteral("1.5")
                         : stopBits == QSerialPort::TwoStop ? QStringLiteral("2")
                                                            : QStringLiteral("1");
    return QStringLiteral("%1,%2,%3,%4").arg(baudRate).arg(letter).arg(int(dataBits)).arg(stop);
}
