#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class SerialPortControl;

// The modal "Serial Port Settings" dialog: shows ModeString and HandshakeMode
// as five lists and, on OK, writes them back and reconfigures the port at once
// if it is open. Made fresh for every opening (on the stack, no parent), so
// each opening starts with empty lists that Form_Load fills.
class PortSetup : public QDialog
{
    Q_OBJECT

public:
    // `terminalWindow` places the dialog (it is not its parent); `comm` is the
    // terminal's serial port control, used only when OK is pressed.
    PortSetup(SerialPortControl &comm, QWidget *terminalWindow);
    ~PortSetup() override;

    QLabel *Label1[5] = {};
    QComboBox *BaudCombo = nullptr;
    QComboBox *ParityCombo = nullptr;
    QComboBox *DataBitsCombo = nullptr;
    QComboBox *StopBitsCombo = nullptr;
    QComboBox *FlowCtrlCombo = nullptr;
    QPushButton *OK_Button = nullptr;
    QPushButton *Cancel_Button = nullptr;
    QPushButton *HelpButton = nullptr;

    // Runs once, when the dialog is made: places it and fills the lists.
    void Form_Load();
    void OK_Button_Click();
    void Cancel_Button_Click();
    void HelpButton_Click();

    // Key-down hooks: the key code (virtual-key numbering, F1 = 0x70) and the
    // shift state (1 Shift, 2 Ctrl, 4 Alt). F1 acts as the Help button; a hook
    // that acts sets KeyCode to 0 so the key goes no further.
    void BaudCombo_KeyDown(qint16 &KeyCode, qint16 Shift);
    void ParityCombo_KeyDown(qint16 &KeyCode, qint16 Shift);
    void DataBitsCombo_KeyDown(qint16 &KeyCode, qint16 Shift);
    void StopBitsCombo_KeyDown(qint16 &KeyCode, qint16 Shift);
    void FlowCtrlCombo_KeyDown(qint16 &KeyCode, qint16 Shift);
    void OK_Button_KeyDown(qint16 &KeyCode, qint16 Shift);
    void HelpButton_KeyDown(qint16 &KeyCode, qint16 Shift);

    // Escape and the close box end the dialog as Cancel does.
    void reject() override;

signals:
    // OK found the port closed after reopening it with the new settings. The
    // dialog has closed and the error box has been dismissed; the terminal
    // refreshes its status lights.
    void portReopenFailed();
    // OK reopened the port with the new settings.
    void portReopened();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void helpKey(qint16 &keyCode);

    SerialPortControl &m_comm;
    QWidget *m_terminalWindow = nullptr;
};
