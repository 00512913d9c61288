#pragma once

#include <QComboBox>

// The port list: tells the window just before its list opens, so that newly
// plugged devices get their COM numbers and tooltips in time.
class PortComboBox : public QComboBox
{
    Q_OBJECT

public:
    using QComboBox::QComboBox;

    void showPopup() override;

signals:
    void aboutToShowPopup();
};
