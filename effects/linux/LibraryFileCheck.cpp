#include "effects/linux/LibraryFileCheck.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

QString LibraryFileCheck::reject(const QString& path, const QStringList& acceptedFolders)
{
    if (!QDir::isAbsolutePath(path))
        return QStringLiteral("not an absolute path");
    // "/accepted/../elsewhere" must not pass as a file in /accepted.
    if (QDir::cleanPath(path) != path)
        return QStringLiteral("path not in canonical form");
    const QString folder = QFileInfo(path).path();
    bool accepted = false;
    for (const QString& candidate : acceptedFolders)
        accepted = accepted || (QDir::isAbsolutePath(candidate) && QDir::cleanPath(candidate) == folder);
    if (!accepted)
        return QStringLiteral("not in an accepted folder");

    const QByteArray file = QFile::encodeName(path);
    struct stat st = {};
    if (::lstat(file.constData(), &st) != 0)
        return QStringLiteral("missing");
    // lstat: a symbolic link is not a regular file, so it cannot point the loader elsewhere.
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("not a regular file");
    if (st.st_uid != 0 && st.st_uid != ::geteuid())
        return QStringLiteral("owned by another user");
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("writable by group or others");

    struct stat dir = {};
    if (::stat(QFile::encodeName(folder).constData(), &dir) != 0 || !S_ISDIR(dir.st_mode))
        return QStringLiteral("folder missing");
    if (dir.st_mode & S_IWOTH)
        return QStringLiteral("folder writable by others");
    return QString();
}
