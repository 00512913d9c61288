#pragma once

#include <QIcon>
#include <QPixmap>

// The program icon: a serial connector on a blue tile, drawn in code at
// 16 x 16 and 32 x 32 for the terminal window, the About box and the help.
QIcon PortlarkIcon();
QPixmap PortlarkIconPixmap(int size = 32);
