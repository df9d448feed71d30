// SPDX-License-Identifier: GPL-3.0-or-later
// Loading and saving the main window's settings file.

#include "app/TForm1.h"
#include "base/WireText.h"
#include "platform/WindowFrame.h"
#include "session/TlsVerification.h"
#include "settings/PasswordScrambler.h"
#include "settings/ProfileFile.h"
#include "settings/SettingsPlace.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QSslCertificate>

#include <algorithm>
#include <utility>

namespace {

const QByteArray kWindows = QByteArrayLiteral("Windows");
const QByteArray kDefault = QByteArrayLiteral("Default");
const QByteArray kServers = QByteArrayLiteral("Servers");
const QByteArray kTls = QByteArrayLiteral("TLS");

QByteArray bytes(const QString &text)
{
    return encodeWireText(text);
}

// A stored outer width or height as a client extent: at least the minimum,
// and no larger than any screen could show, whatever number the file holds.
int storedExtent(int stored, int frame, int minimum)
{
    constexpr qint64 Largest = 16384;
    const qint64 extent = qint64(stored) - frame;
    return int(std::clamp<qint64>(extent, minimum, std::max<qint64>(minimum, Largest)));
}

}  // namespace

const QStringList &TForm1::BuiltInServers()
{
    static const QStringList servers{
        QStringLiteral("pop.gmail.com"),
        QStringLiteral("outlook.office365.com"),
        QStringLiteral("pop.mail.yahoo.com"),
        QStringLiteral("pop.gmx.com"),
    };
    return servers;
}

QString TForm1::SettingsFolder() const
{
    return SettingsPlace::folderFor(AppDir, SettingsPlace::userConfigFolder());
}

QString TForm1::SettingsPath() const
{
    return SettingsFolder() + SettingsPlace::settingsFileName();
}

QList<QSslCertificate> TForm1::TrustFileCertificates()
{
    QString ignored;
    const QList<QSslCertificate> certificates =
        TlsVerification::loadTrustedCertificates(SettingsFolder() + TlsVerification::trustFileName(), &ignored);
    if (!ignored.isEmpty())
        AppendConsole(ignored);
    return certificates;
}

void TForm1::LoadSettings()
{
    const ProfileFile ini(SettingsPath());

    // Stored sizes are the window's outer size, frame included.
    const QSize frame = platform::windowFrameSize(this);
    const bool maximize = ini.readBool(kWindows, "Maximize", false);
    if (!maximize)
        CenterOnScreen();
    const int height = ini.readInteger(kWindows, "Height", minimumHeight() + frame.height());
    resize(width(), storedExtent(height, frame.height(), minimumHeight()));
    const int width = ini.readInteger(kWindows, "Width", minimumWidth() + frame.width());
    resize(storedExtent(width, frame.width(), minimumWidth()), this->height());
    // Under X11 the window manager frames the window only after it is mapped,
    // so at first show nothing could be taken off; the frame comes off when it
    // is known (noteWindowFrame). Else every start would add a frame's size.
    unframedStoredSize = frame.isNull() ? QSize(width, height) : QSize();
    if (maximize)
        setWindowState(windowState() | Qt::WindowMaximized);

    txtServer->clear();
    for (const QByteArray &name : ini.keyNames(kServers))
        txtServer->addItem(decodeWireText(name));
    if (txtServer->count() == 0)
        txtServer->addItems(BuiltInServers());

    txtUID->setText(decodeWireText(ini.readString(kDefault, "UserID", QByteArray())));
    const QByteArray stored = ini.readString(kDefault, "Password", QByteArray());
    txtPWD->setText(decodeWireText(UnscramblePassword(stored, UserKey(bytes(txtUID->text())))));
    txtServer->setEditText(decodeWireText(ini.readString(kDefault, "Server", QByteArray())));
    txtPort->setText(decodeWireText(ini.readString(kDefault, "Port", QByteArrayLiteral("110"))));
    // 0 for a server that lists PIPELINING and cannot keep to it.
    session->setPipelining(ini.readBool(kDefault, "Pipelining", true));
    DecodeHeaders1->setChecked(ini.readBool(kDefault, "DecodeHeaders", false));
    DecodeText = ini.readBool(kDefault, "DecodeText", false);
    requireTls = ini.readBool(kDefault, "RequireTls", false);
    tlsServers.clear();
    for (const QByteArray &server : ini.keyNames(kTls))
        tlsServers.insert(server.toLower());
    AutoHeaders1->setChecked(ini.readBool(kDefault, "AutoHeaders", false));
}

void TForm1::noteWindowFrame()
{
    const QSize frame = platform::windowFrameSize(this);
    if (frame.isNull())
        return;
    knownFrame = frame;
    if (!unframedStoredSize.isValid())
        return;
    const QSize stored = std::exchange(unframedStoredSize, QSize());
    // The size now may still be one the load passed through (its height set
    // before its width), so it is not compared. A maximised window keeps
    // its restore size.
    if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    resize(storedExtent(stored.width(), frame.width(), minimumWidth()),
           storedExtent(stored.height(), frame.height(), minimumHeight()));
}

QSize TForm1::OuterSize() const
{
    // A window that was closed may have been unframed already: its last
    // frame then still counts.
    const QSize frame = platform::windowFrameSize(this);
    return size() + (frame.isNull() ? knownFrame : frame);
}

QString TForm1::SaveSettings()
{
    const QString folder = SettingsFolder();
    const QString path = folder + SettingsPlace::settingsFileName();
    const QString unableToWrite = QStringLiteral("Unable to write to %1").arg(QDir::toNativeSeparators(path));
    // The config folder of an installed copy is made on its first save.
    if (folder != AppDir && !SettingsPlace::makePrivateFolder(folder))
        return unableToWrite;
    ProfileFile ini(path);
    const bool maximized = isMaximized();
    ini.writeBool(kWindows, "Maximize", maximized);
    const QSize outer = OuterSize();
    ini.writeInteger(kWindows, "Height", outer.height());
    ini.writeInteger(kWindows, "Width", outer.width());
    ini.writeString(kDefault, "UserID", bytes(txtUID->text()));
    ini.writeString(kDefault, "Password", ScramblePassword(bytes(txtPWD->text()), UserKey(bytes(txtUID->text()))));
    ini.writeString(kDefault, "Server", bytes(txtServer->currentText()));
    ini.writeString(kDefault, "Port", bytes(txtPort->text()));
    ini.writeBool(kDefault, "Pipelining", session->pipelining());
    ini.writeBool(kDefault, "DecodeHeaders", DecodeHeaders1->isChecked());
    ini.writeBool(kDefault, "DecodeText", DecodeText);
    ini.writeBool(kDefault, "RequireTls", requireTls);
    ini.writeBool(kDefault, "AutoHeaders", AutoHeaders1->isChecked());
    QList<QByteArray> servers = tlsServers.values();
    std::sort(servers.begin(), servers.end());
    for (const QByteArray &server : std::as_const(servers))
        ini.writeString(kTls, server, QByteArrayLiteral("STLS"));
    // A name that cannot be a key (an "=" in it, a line break) is not stored;
    // it could never be read back as the same server.
    for (int i = 0; i < txtServer->count(); ++i)
        ini.writeString(kServers, bytes(txtServer->itemText(i)), QByteArrayLiteral("110"));
    return ini.save() ? QString() : unableToWrite;
}
