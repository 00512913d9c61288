#include "portstatelabel.h"

PortStateLabel::PortStateLabel(QWidget *parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("portState"));
    // A long reason must not widen the window: the label gives way and the
    // tool tip keeps the whole text.
    setMinimumWidth(1);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setState(PortState());
}

void PortStateLabel::setState(const PortState &state)
{
    m_state = state;
    const QString text = PortStateText(state);
    setText(text);
    setToolTip(state.problem.isEmpty() ? text : state.problem);
}
