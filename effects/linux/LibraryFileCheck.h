#pragma once

#include <QString>
#include <QStringList>

// Decides whether a shared library file may be loaded into this process: an absolute path directly in
// one of the accepted folders, a regular file owned by root or by us and writable by nobody else, in a
// directory that nobody else can write to or rename.
class LibraryFileCheck
{
public:
    // Empty when the file may be loaded, otherwise the reason it may not.
    static QString reject(const QString& path, const QStringList& acceptedFolders);
};
