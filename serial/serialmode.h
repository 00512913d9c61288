#pragma once

#include <QSerialPort>
#include <QString>

#include <optional>

// The line format a port is opened with, read from a mode string such as
// "9600,N,8,1". Kept apart from the settings dialog's own parser: that one is
// lenient on purpose (it only picks list entries), while a port must refuse a
// string it cannot honour instead of guessing.
struct SerialMode
{
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    // 1.5 stop bits has no termios setting of its own: it is opened with the
    // two-stop-bit setting, which a UART sends as 1.5 stop bits on 5-bit
    // characters. oneAndHalfStop remembers what was asked for.
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    bool oneAndHalfStop = false;

    // Reads "baud,parity,data,stop". Blanks around the fields are ignored, the
    // parity may be a letter or word in any case (N/None, O/Odd, E/Even,
    // M/Mark, S/Space), numbers may carry a zero fraction ("9600.0", "2.0").
    // Anything else, missing or extra fields included, gives nullopt and, when
    // `why` is given, a sentence saying which field is wrong.
    static std::optional<SerialMode> parse(const QString &mode, QString *why = nullptr);

    // The canonical text of this mode ("115200,E,7,1.5").
    QString toString() const;
};
