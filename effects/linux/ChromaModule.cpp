#include "effects/ChromaModule.h"

#include "core/DiagnosticLog.h"
#include "effects/ChromaSdkLoader.h"
#include "effects/linux/LibraryFileCheck.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>
#include <sys/stat.h>

ChromaModule::ChromaModule(void* handle)
    : m_handle(handle)
{}

ChromaModule::~ChromaModule()
{
    ::dlclose(m_handle);
}

QString ChromaModule::fileName()
{
    return QStringLiteral(PIVOTRIX_CHROMA_LIBRARY_FILE);
}

QStringList ChromaModule::defaultFolders()
{
    QStringList folders{QStringLiteral(PIVOTRIX_CHROMA_INSTALL_LIBDIR)};
    const QString system = QStringLiteral(PIVOTRIX_CHROMA_SYSTEM_LIBDIR);
    if (!folders.contains(system))
        folders << system;
    // A program run from the build tree uses the library built beside it; an installed one never
    // looks there. Whoever can write the build tree could replace the program itself.
    const QString buildDir = QStringLiteral(PIVOTRIX_CHROMA_BUILD_DIR) + QLatin1Char('/');
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (self.startsWith(buildDir))
        folders << QStringLiteral(PIVOTRIX_CHROMA_BUILD_LIBDIR);
    return folders;
}

int ChromaModule::open(const QStringList& folders, std::unique_ptr<ChromaModule>* module)
{
    for (const QString& folder : folders) {
        const QString path = folder + QLatin1Char('/') + fileName();
        struct stat st = {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        const QString reason = LibraryFileCheck::reject(path, folders);
        if (!reason.isEmpty()) {
            qCDebug(lcPivotrix) << "chroma library rejected" << path << reason;
            return ChromaSdkLoader::InvalidLibrary;
        }
        // The checked absolute path, so the dynamic loader's own search never comes into play.
        void* handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            qCDebug(lcPivotrix) << "chroma library failed to load" << path << ::dlerror();
            return ChromaSdkLoader::FileNotFound;
        }
        module->reset(new ChromaModule(handle));
        return ChromaSdkLoader::Success;
    }
    qCDebug(lcPivotrix) << "chroma library not found in" << folders;
    return ChromaSdkLoader::FileNotFound;
}

void* ChromaModule::resolve(const char* name) const
{
    return ::dlsym(m_handle, name);
}
