#pragma once

#include <QMainWindow>
#include <QPointer>
#include <array>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

class ByteLineEdit;
class ComPortMap;
class LightWidget;
class PaneStorage;
class PortComboBox;
class PortSetup;
class SendingTools;
class PortStateLabel;
class ReplugWiring;
struct PortOpening;
struct PortState;
class SerialPortControl;
class SettingsStore;

// The terminal window: one port, its input and output panes, the line
// controls and the status lights. It wires the controls to the serial port
// control, the pane module and the dialogs; the work itself lives there.
class MainForm : public QMainWindow
{
    Q_OBJECT

public:
    // Takes ownership of `comm` (the port closes when the window is destroyed).
    MainForm(SerialPortControl *comm, SettingsStore *store, ComPortMap *ports, QWidget *parent = nullptr);
    ~MainForm() override;

    // Start-up: attaches the panes, reads the settings, selects the stored
    // port last. Runs once, before the window is first shown.
    void Form_Load();
    // Shutdown: detaches the panes, unloads the settings dialog, saves the
    // settings. Runs once, when the window is closed.
    void Form_Unload();
    void Form_Resize();

    void setmodemlites();

    // The status bar's permanent line about the port ("COM1 open: ...",
    // "COM1 closed: the device was disconnected"). Whatever opens, closes or
    // loses the port says so here.
    void setPortState(const PortState &state);

    // Handlers, public so that tests drive them as a click would.
    void Combo2_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void chkDTR_Click();
    void chkRTS_Click();
    void Comm1_SerialEvent();
    void mnuSettings_Click();
    void mnuExit_Click();
    void mnuASCIIChart_Click();
    void mnuIndex_Click();
    void mnuAbout_Click();
    void mnuPorts_Click();

    // The sending tools (pacing, file send, break, pulses) behind Send and
    // the session menu.
    SendingTools *sending() const { return m_sending; }
    // Keeps the input pane's older bytes on disk, within a memory bound.
    PaneStorage *paneStorage() const { return m_paneStorage; }
    // Waiting for a lost device and reopening it when it is back.
    ReplugWiring *replug() const { return m_replug; }

    // Controls, named as on the form.
    SerialPortControl *Comm1 = nullptr;
    std::array<QLabel *, 3> Label1{};
    PortComboBox *Combo2 = nullptr;
    QPushButton *Command3 = nullptr;
    std::array<LightWidget *, 3> Shape1{};
    std::array<QLabel *, 3> Label2{};
    QCheckBox *chkDTR = nullptr;
    QCheckBox *chkRTS = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *Text3 = nullptr;
    ByteLineEdit *Text1 = nullptr;
    QPushButton *Command1 = nullptr;
    ByteLineEdit *Text2 = nullptr;
    QPushButton *Command2 = nullptr;

    QMenu *mnuFile = nullptr;
    QAction *mnuSettings = nullptr;
    QAction *mnuSeperator1 = nullptr;
    QAction *mnuExit = nullptr;
    QMenu *mnuTools = nullptr;
    QAction *mnuASCIIChart = nullptr;
    // The session's own tools (record, capture, port life); not on the
    // original form, so it stands apart from the form's menus.
    QMenu *mnuSession = nullptr;
    QAction *mnuPorts = nullptr;
    QMenu *mnuHelp = nullptr;
    QAction *mnuIndex = nullptr;
    QAction *mnuSeperator2 = nullptr;
    QAction *mnuAbout = nullptr;

    PortStateLabel *portState = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void connectHandlers();
    void showPortSetup();
    void refreshPortTooltips();
    void reportLostPort();
    // backAfterMs: the port came back by itself after its device was gone so long.
    void showSelectedPortState(bool open, qint64 backAfterMs = -1);
    // The selected port with the mode, handshake and lines the window holds now.
    PortOpening selectedOpening() const;
    void showReopened(qint64 goneMs);
    void onPortIndexChanged();
    void onPortActivated();
    void showReceivedCount();

    SettingsStore *m_store = nullptr;
    ComPortMap *m_ports = nullptr;
    QPointer<PortSetup> m_portSetup;
    SendingTools *m_sending = nullptr;
    PaneStorage *m_paneStorage = nullptr;
    ReplugWiring *m_replug = nullptr;
    bool m_loaded = false;
    bool m_unloaded = false;
    bool m_centred = false;
    // A user's choice raises both "index changed" and "activated"; the
    // handler must run once for it, and once more when the user picks the
    // entry that is already selected.
    bool m_skipNextActivation = false;
};
