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
    // Whoever may write the folder may swap the file between this check and the load.
    if (dir.st_uid != 0 && dir.st_uid != ::geteuid())
        return QStringLiteral("folder owned by another user");
    if (dir.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("folder writable by group or others");
    // The same holds one level up for anyone who can rename the folder; a sticky folder such as /tmp
    // lets nobody rename what is not theirs.
    for (QString up = QFileInfo(folder).path();; up = QFileInfo(up).path()) {
        struct stat parent = {};
        if (::stat(QFile::encodeName(up).constData(), &parent) != 0)
            return QStringLiteral("folder missing");
        if ((parent.st_uid != 0 && parent.st_uid != ::geteuid()) ||
            ((parent.st_mode & (S_IWGRP | S_IWOTH)) && !(parent.st_mode & S_ISVTX)))
            return QStringLiteral("folder inside one that others may change");
        if (up == QLatin1String("/"))
            break;
    }
    return QString();
}
