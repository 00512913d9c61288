#include "terminalfixture.h"

#include "binarytextbox.h"
#include "bytelineedit.h"
#include "bytetext.h"
#include "fakeserialportcontrol.h"
#include "realserialportcontrol.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QSettings>

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QString iniValue(const QString &path, const QString &key)
{
    QSettings s(path, QSettings::IniFormat);
    return s.value(key).toString();
}

// ---- TerminalFixture ----------------------------------------------------------

TerminalFixture::ControlFactory TerminalFixture::FakeControl()
{
    return [](const ComPortMap *) -> SerialPortControl * { return new FakeSerialPortControl; };
}

TerminalFixture::ControlFactory TerminalFixture::RealControl()
{
    return [](const ComPortMap *map) -> SerialPortControl * { return new RealSerialPortControl(map); };
}

TerminalFixture::TerminalFixture(ControlFactory factory, const QByteArray &ini, const QString &settingsPath)
    : TerminalFixture(std::move(factory), NoWindowYet, settingsPath)
{
    if (!ini.isNull())
        writeFile(m_path, ini);
    build();
}

TerminalFixture::TerminalFixture(ControlFactory factory, NotBuilt, const QString &settingsPath)
    : m_factory(std::move(factory))
    , m_path(settingsPath.isEmpty() ? dir.filePath(QStringLiteral("NerovaPortlark.ini")) : settingsPath)
{}

TerminalFixture::~TerminalFixture()
{
    // The window goes before the store it saves into.
    form.reset();
}

void TerminalFixture::build()
{
    form.reset();
    store.reset();
    store = std::make_unique<SettingsStore>(m_path);
    m_control = m_factory(&ports);
    form = std::make_unique<MainForm>(m_control, store.get(), &ports);
    rebuilt();
}

void TerminalFixture::restart()
{
    build();
}

void TerminalFixture::restart(const QByteArray &ini)
{
    form.reset();
    store.reset();
    writeFile(m_path, ini);
    build();
}

QByteArray TerminalFixture::input() const
{
    return BinaryTextBox::GetPaneBytes(form->Text1->hWnd());
}

QByteArray TerminalFixture::output() const
{
    return BinaryTextBox::GetPaneBytes(form->Text2->hWnd());
}

void TerminalFixture::setOutput(const QByteArray &bytes)
{
    BinaryTextBox::SetPaneBytes(form->Text2->hWnd(), bytes);
}

QString TerminalFixture::saved(const QString &key) const
{
    return iniValue(m_path, QStringLiteral("Settings/") + key);
}

QByteArray TerminalFixture::MappedPortIni(int com, const QString &device, const QString &mode)
{
    QByteArray ini("[Settings]\n");
    if (!mode.isEmpty())
        ini += "COMModeString=\"" + mode.toUtf8() + "\"\n";
    ini += "CommPort=" + QByteArray::number(com) + "\n";
    ini += "[" + ComPortMap::SettingsGroup.toUtf8() + "]\n";
    ini += "COM" + QByteArray::number(com) + "=" + QFile::encodeName(device) + "\n";
    return ini;
}

FakeTerminal::FakeTerminal(const QByteArray &ini, const QString &settingsPath)
    : TerminalOver(FakeControl(), ini, settingsPath)
{}

RealPortTerminal::RealPortTerminal(const QByteArray &ini, const QString &settingsPath)
    : TerminalOver(RealControl(), ini, settingsPath)
{}

RealPortTerminal::RealPortTerminal(NotBuilt notBuilt, const QString &settingsPath)
    : TerminalOver(RealControl(), notBuilt, settingsPath)
{}
