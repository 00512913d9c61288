#pragma once

#include "comportmap.h"
#include "dialogwatch.h"
#include "mainform.h"
#include "settingsstore.h"

#include <QByteArray>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

class FakeSerialPortControl;
class RealSerialPortControl;
class SerialPortControl;

// The whole file `path` replaced by `bytes`; false when it could not be written.
bool writeFile(const QString &path, const QByteArray &bytes);
// The text stored under `key` ("Group/Key") in the INI file `path`, empty when absent.
QString iniValue(const QString &path, const QString &key);

// The terminal window as the program builds it at start-up: a settings store
// on a file of its own (in a temporary directory unless a path is given), a
// COM port map and the window over a serial control. Start-up itself
// (Form_Load) is left to the test, since tests differ in what they do first.
class TerminalFixture
{
public:
    // Makes the window's serial control; the window takes ownership. The
    // real control needs the fixture's map to find its devices.
    using ControlFactory = std::function<SerialPortControl *(const ComPortMap *)>;
    static ControlFactory FakeControl();
    static ControlFactory RealControl();

    // Asks for a window that is built later, by restart().
    enum NotBuilt { NoWindowYet };

    // Builds the window at once; `ini`, when not null, is written to the
    // settings file first.
    explicit TerminalFixture(ControlFactory factory, const QByteArray &ini = QByteArray(),
                             const QString &settingsPath = QString());
    TerminalFixture(ControlFactory factory, NotBuilt, const QString &settingsPath = QString());
    virtual ~TerminalFixture();
    TerminalFixture(const TerminalFixture &) = delete;
    TerminalFixture &operator=(const TerminalFixture &) = delete;

    // A fresh store and window on the same file, as the program's next start
    // has: the old window and store go first. With `ini` the file is
    // replaced before.
    void restart();
    void restart(const QByteArray &ini);

    QString path() const { return m_path; }
    SerialPortControl *control() const { return m_control; }

    // The bytes the input and output panes hold.
    QByteArray input() const;
    QByteArray output() const;
    // Puts `bytes` in the output pane, its text and its store.
    void setOutput(const QByteArray &bytes);
    // Settings/<key> as the file holds it now.
    QString saved(const QString &key) const;

    // A settings file with COM `com` mapped to `device` and selected, and the
    // mode string `mode` when one is given.
    static QByteArray MappedPortIni(int com, const QString &device, const QString &mode = QString());

    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store;
    ComPortMap ports;
    std::unique_ptr<MainForm> form;

protected:
    // Called after every build, so a typed view of the control can follow.
    virtual void rebuilt() {}

private:
    void build();

    ControlFactory m_factory;
    QString m_path;
    SerialPortControl *m_control = nullptr;
};

// The fixture with its control reachable by its own type as `comm`.
template<class Control>
class TerminalOver : public TerminalFixture
{
public:
    explicit TerminalOver(ControlFactory factory, const QByteArray &ini = QByteArray(),
                          const QString &settingsPath = QString())
        : TerminalFixture(std::move(factory), ini, settingsPath)
    {
        rebuilt();
    }
    TerminalOver(ControlFactory factory, NotBuilt notBuilt, const QString &settingsPath = QString())
        : TerminalFixture(std::move(factory), notBuilt, settingsPath)
    {}

    Control *comm = nullptr;

protected:
    void rebuilt() override { comm = static_cast<Control *>(control()); }
};

// The window over the scriptable fake control.
class FakeTerminal : public TerminalOver<FakeSerialPortControl>
{
public:
    explicit FakeTerminal(const QByteArray &ini = QByteArray(), const QString &settingsPath = QString());
};

// The window over the real serial control.
class RealPortTerminal : public TerminalOver<RealSerialPortControl>
{
public:
    explicit RealPortTerminal(const QByteArray &ini = QByteArray(), const QString &settingsPath = QString());
    explicit RealPortTerminal(NotBuilt notBuilt, const QString &settingsPath = QString());
};
