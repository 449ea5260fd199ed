#include "effects/ChromaSdkLoader.h"

#include "core/DiagnosticLog.h"
#include "effects/ChromaModule.h"

#include <QDebug>

#include <utility>

ChromaSdkLoader::ChromaSdkLoader()
    : ChromaSdkLoader(ChromaModule::defaultFolders())
{}

ChromaSdkLoader::ChromaSdkLoader(QStringList folders)
    : m_folders(std::move(folders))
{}

ChromaSdkLoader::~ChromaSdkLoader()
{
    unload();
}

ChromaSdkLoader::ChromaSdkLoader(ChromaSdkLoader&& other) noexcept = default;

ChromaSdkLoader& ChromaSdkLoader::operator=(ChromaSdkLoader&& other) noexcept
{
    if (this != &other) {
        unload();
        m_folders = std::move(other.m_folders);
        m_module = std::move(other.m_module);
    }
    return *this;
}

int ChromaSdkLoader::loadAndInit(ChromaAppGuid appId)
{
    if (m_module)
        return AlreadyInitialized;
    const int opened = ChromaModule::open(m_folders, &m_module);
    if (opened != Success)
        return opened;
    auto init = reinterpret_cast<ChromaInitFn>(m_module->resolve("Init"));
    if (!init) {
        qCDebug(lcPivotrix) << "chroma library has no Init";
        return InvalidFunction;
    }
    const int result = init(appId);
    if (result != 0) {
        qCDebug(lcPivotrix) << "chroma library Init failed" << result;
        return FunctionFailed;
    }
    return Success;
}

int ChromaSdkLoader::registerEvents(ChromaEventCallback callback)
{
    if (!m_module)
        return ModuleNotFound;
    auto registerFn =
        reinterpret_cast<ChromaRegisterEventNotificationFn>(m_module->resolve("RegisterEventNotification"));
    if (!registerFn)
        return ModuleNotFound;
    registerFn(callback);
    return Success;
}

void ChromaSdkLoader::unload()
{
    if (!m_module)
        return;
    auto uninit = reinterpret_cast<ChromaUnInitFn>(m_module->resolve("UnInit"));
    auto unregister = reinterpret_cast<ChromaUnRegisterEventNotificationFn>(
        m_module->resolve("UnRegisterEventNotification"));
    if (unregister)
        unregister();
    if (uninit)
        uninit();
    m_module.reset();
}
