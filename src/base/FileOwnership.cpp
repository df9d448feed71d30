// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/FileOwnership.h"

#include <QFileInfo>
#include <QtGlobal>

// ---- POSIX only --------------------------------------------------------------
// Owners and permission bits as stat() reports them. Windows has neither (its
// access lists are a different model), so there the check below says No.
#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writableByOthers(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return true;  // cannot tell: not trusted
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return true;
    return info.st_uid != ::geteuid() && info.st_uid != 0;
}

}  // namespace

namespace platform {

OthersCanWrite othersCanWrite(const QString &path)
{
    const QString real = QFileInfo(path).canonicalFilePath();
    if (real.isEmpty())
        return OthersCanWrite::No;  // no such file
    if (writableByOthers(real))
        return OthersCanWrite::File;
    if (writableByOthers(QFileInfo(real).path()))
        return OthersCanWrite::Folder;
    return OthersCanWrite::No;
}

}  // namespace platform
// ---- end of POSIX only -------------------------------------------------------
#else

namespace platform {

OthersCanWrite othersCanWrite(const QString &)
{
    return OthersCanWrite::No;
}

}  // namespace platform
#endif
