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

} // namespace

QString PortStateText(const PortState &state)
{
    QString text;
    if (state.comNumber <= 0) {
        text = QStringLiteral("No port open");
    } else if (state.open) {
        text = QStringLiteral("COM%1 open: %2 at %3").arg(state.comNumber).arg(state.device, state.mode);
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
