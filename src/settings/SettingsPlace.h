// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where the settings file and the trust file live. A copy of the program in a
// folder of its own (a build tree, a portable copy on a stick) keeps them next
// to the executable. An installed copy cannot: its folder (/usr/bin) belongs to
// the system, so it keeps them in the user's config folder instead.
namespace SettingsPlace {

enum class Place { ProgramFolder, ConfigFolder };

// The rule, on facts found beforehand: a settings file already next to the
// program is always used; otherwise the program's folder when it takes new
// files and is not the folder the program is installed into (root can write
// /usr/bin, but a password file does not belong there).
Place choose(bool fileInProgramFolder, bool programFolderTakesFiles, bool isInstallFolder);

// The folder, with its trailing separator, for a program in programFolder
// (which has its trailing separator too).
QString folderFor(const QString &programFolder, const QString &configFolder);

// The user's config folder for the program, with its trailing separator
// (on Linux ~/.config/Tarnbeck/, or $XDG_CONFIG_HOME/Tarnbeck/).
QString userConfigFolder();

// Whether a new file can be made in folder: tried, not read from permission
// bits, which root, read-only mounts and access lists make unreliable.
bool takesNewFiles(const QString &folder);

// Creates folder and any missing folder above it, each readable and writable
// by its owner only. True when the folder exists afterwards.
bool makePrivateFolder(const QString &folder);

QString settingsFileName();  // "Tarnbeck.ini"

}  // namespace SettingsPlace
