// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/SettingsPlace.h"

#include "TarnbeckConfig.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryFile>

namespace SettingsPlace {

namespace {

QString withSeparator(QString folder)
{
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

bool isInstallFolder(const QString &folder)
{
    const QString installed = QStringLiteral(TARNBECK_INSTALL_BINDIR);
    if (installed.isEmpty())
        return false;
    const QString canonical = QDir(folder).canonicalPath();
    return !canonical.isEmpty() && canonical == QDir(installed).canonicalPath();
}

}  // namespace

Place choose(bool fileInProgramFolder, bool programFolderTakesFiles, bool isInstallFolder)
{
    if (fileInProgramFolder)
        return Place::ProgramFolder;
    return programFolderTakesFiles && !isInstallFolder ? Place::ProgramFolder : Place::ConfigFolder;
}

QString folderFor(const QString &programFolder, const QString &configFolder)
{
    const bool fileThere = QFileInfo::exists(programFolder + settingsFileName());
    // Only looked at when needed: trying the folder makes a file there.
    const bool installed = !fileThere && isInstallFolder(programFolder);
    const bool takesFiles = !fileThere && !installed && takesNewFiles(programFolder);
    return choose(fileThere, takesFiles, installed) == Place::ProgramFolder ? programFolder : configFolder;
}

QString userConfigFolder()
{
    return withSeparator(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

bool takesNewFiles(const QString &folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(withSeparator(folder) + QStringLiteral(".Tarnbeck-probe-XXXXXX"));
    return probe.open();  // removed again when probe goes
}

bool makePrivateFolder(const QString &folder)
{
    const QString path = QDir::cleanPath(folder);
    if (QFileInfo(path).isDir())
        return true;
    // The missing folders, innermost first.
    QStringList missing;
    for (QString at = path; !at.isEmpty() && !QFileInfo::exists(at); at = QFileInfo(at).path()) {
        missing.prepend(at);
        if (QFileInfo(at).path() == at)
            break;
    }
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    for (const QString &at : std::as_const(missing)) {
        if (!QDir().mkdir(at, ownerOnly) && !QFileInfo(at).isDir())
            return false;
    }
    return QFileInfo(path).isDir();
}

QString settingsFileName()
{
    return QStringLiteral("Tarnbeck.ini");
}

}  // namespace SettingsPlace
