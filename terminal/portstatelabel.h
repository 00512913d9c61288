#pragma once

#include "portstate.h"

#include <QLabel>

// The permanent part of the status bar that says what state the port is in.
// Passing messages (menu hints, other tools' notes) are shown beside it and
// never replace it.
class PortStateLabel : public QLabel
{
    Q_OBJECT

public:
    explicit PortStateLabel(QWidget *parent = nullptr);

    // Shows `state` as PortStateText gives it; the tool tip carries the
    // control's whole message when there is one.
    void setState(const PortState &state);
    const PortState &state() const { return m_state; }

private:
    PortState m_state;
};
