// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace platform {

// Whether someone besides the running user (and the system's administrator)
// could change what a file holds: by writing to it, or by replacing it in its
// folder.
enum class OthersCanWrite { No, File, Folder };

// For an existing file (symbolic links followed to the real file and its real
// folder). Checks the POSIX owner and permission bits (group or others may
// write; owned by another user); access lists are not read. On systems
// without POSIX permissions (Windows) the answer is always No.
OthersCanWrite othersCanWrite(const QString &path);

}  // namespace platform
