#pragma once

#include "effects/ChromaBroadcastApi.h"

#include <QStringList>

#include <memory>

class ChromaModule;

// Loads the Chroma broadcast library and calls its entry points. Results are Windows system error codes.
class ChromaSdkLoader
{
public:
    enum Result : int
    {
        Success = 0,
        InvalidFunction = 1,
        FileNotFound = 2,
        ModuleNotFound = 126,
        InvalidLibrary = 1154,
        AlreadyInitialized = 1247,
        FunctionFailed = 1627,
    };

    // Searches the platform's accepted folders.
    ChromaSdkLoader();
    // Searches these folders instead; the file checks stay the same.
    explicit ChromaSdkLoader(QStringList folders);
    ~ChromaSdkLoader();
    ChromaSdkLoader(ChromaSdkLoader&& other) noexcept;
    ChromaSdkLoader& operator=(ChromaSdkLoader&& other) noexcept;

    int loadAndInit(ChromaAppGuid appId);
    int registerEvents(ChromaEventCallback callback);
    // Unregisters, uninitialises and frees the library, if one is loaded.
    void unload();

    bool isLoaded() const { return bool(m_module); }
    QStringList folders() const { return m_folders; }

private:
    QStringList m_folders;
    std::unique_ptr<ChromaModule> m_module;
};
