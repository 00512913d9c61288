#include "portstate.h"

namespace {

// The control's message names the device (or the COM number) first and may
// end with the system's own words in parentheses; the status line already
// names the port and wants the reason alone.
QString shortProblem(QString problem, const QString &device, int comNumber)
{
    // Lines after the first (who holds the device, how to free it) belong in
    // the error box's details, not on one status line.
    const qsizetype newline = problem.indexOf(u'\n');
    if (newline >= 0)
        problem.truncate(newline);
    for (const QString &prefix : {device + QStringLiteral(": "), QStringLiteral("COM%1: ").arg(comNumber)}) {
        if (prefix.size() > 2 && problem.startsWith(prefix)) {
            problem.remove(0, prefix.size());
            break;
        }
    }
    if (problem.endsWith(u')')) {
        const qsizetype open = problem.lastIndexOf(QStringLiteral(" ("));
        if (open > 0)
            problem.truncate(open);
    }
    if (problem.startsWith(QLatin1String("the port is ")))
        problem.remove(0, 12);
    return problem.trimmed();
}

// How long the device was gone, as a technician reads it off the status bar.
QString goneText(qint64 ms)
{
    if (ms < 1000)
        return QStringLiteral("%1 ms").arg(ms);
    if (ms < 60000)
        return QStringLiteral("%1 s").arg(QString::number(double(ms) / 1000.0, 'f', 1));
    const qint64 s = ms / 1000;
    if (s < 3600)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    return QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s / 60 % 60);
}

} // namespace

QString PortStateText(const PortState &state)
{
    QString text;
    if (state.comNumber <= 0) {
        text = QStringLiteral("No port open");
    } else if (state.open) {
        text = QStringLiteral("COM%1 open: %2 at %3").arg(state.comNumber).arg(state.device, state.mode);
        if (state.backAfterMs >= 0)
            text += QStringLiteral(" (back after %1)").arg(goneText(state.backAfterMs));
    } else if (state.waiting) {
        text = QStringLiteral("COM%1 waiting for %2 to come back").arg(state.comNumber).arg(state.device);
    } else {
        text = QStringLiteral("COM%1 closed").arg(state.comNumber);
        const QString why = shortProblem(state.problem, state.device, state.comNumber);
        if (!why.isEmpty())
            text += QStringLiteral(": ") + why;
    }
    if (state.nothingSent && !state.open)
        text += QStringLiteral("; nothing was sent");
    return text;
}
