#pragma once

#include <QStringList>

#include <memory>

// The broadcast library, opened from an accepted folder only after the file itself has been checked.
class ChromaModule
{
public:
    ~ChromaModule();
    ChromaModule(const ChromaModule&) = delete;
    ChromaModule& operator=(const ChromaModule&) = delete;

    // Looks for the library in the folders in order. Returns 0 with *module set, 2 when no folder
    // holds a library that loads, or 1154 when the file found is not one we may load.
    static int open(const QStringList& folders, std::unique_ptr<ChromaModule>* module);
    // The two folders the library may be installed in (plus the build tree for a program run from it).
    static QStringList defaultFolders();
    static QString fileName();

    void* resolve(const char* name) const;

private:
    explicit ChromaModule(void* handle);

    void* m_handle;
};
