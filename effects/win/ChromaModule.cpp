#include "effects/ChromaModule.h"

#include "core/DiagnosticLog.h"
#include "effects/ChromaSdkLoader.h"

#include <QDebug>

#include <windows.h>

#include <psapi.h>
#include <shlwapi.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {
const wchar_t kLibraryFile[] = L"RzChromaConnectAPI64.dll";

std::wstring environment(const wchar_t* name)
{
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return std::wstring();
    std::wstring value(size, L'\0');
    const DWORD written = GetEnvironmentVariableW(name, &value[0], size);
    if (written == 0 || written >= size)
        return std::wstring();
    value.resize(written);
    return value;
}

std::wstring toWide(const QString& text)
{
    return std::wstring(reinterpret_cast<const wchar_t*>(text.utf16()), size_t(text.size()));
}

bool signerIsRazer(const wchar_t* path)
{
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    PCMSG_SIGNER_INFO signer = nullptr;
    PCCERT_CONTEXT certificate = nullptr;
    bool result = false;
    DWORD encoding = 0, contentType = 0, formatType = 0;
    if (CryptQueryObject(CERT_QUERY_OBJECT_FILE, path, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                         CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &formatType, &store,
                         &message, nullptr)) {
        DWORD signerSize = 0;
        if (CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &signerSize) && signerSize > 0) {
            signer = static_cast<PCMSG_SIGNER_INFO>(LocalAlloc(LPTR, signerSize));
            if (signer && CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, signer, &signerSize)) {
                CERT_INFO info = {};
                info.Issuer = signer->Issuer;
                info.SerialNumber = signer->SerialNumber;
                certificate = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                         CERT_FIND_SUBJECT_CERT, &info, nullptr);
            }
        }
    }
    if (certificate) {
        const DWORD size =
            CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
        if (size > 1) {
            std::vector<wchar_t> name(size, L'\0');
            if (CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(),
                                   size) > 1)
                result = _wcsicmp(name.data(), L"Razer USA Ltd.") == 0;
        }
        CertFreeCertificateContext(certificate);
    }
    if (signer)
        LocalFree(signer);
    if (message)
        CryptMsgClose(message);
    if (store)
        CertCloseStore(store, 0);
    return result;
}

bool signatureTrusted(const wchar_t* path)
{
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return status == 0 && signerIsRazer(path);
}

// The library's path must be one of the two install locations, and its signature Razer's.
bool verifyPath(const wchar_t* path)
{
    std::wstring copy(path);
    PathStripPathW(&copy[0]);
    const std::wstring file(copy.c_str());
    bool inSystem = false;
    const std::wstring systemRoot = environment(L"SystemRoot");
    if (!systemRoot.empty())
        inSystem = _wcsicmp((systemRoot + L"\\System32\\" + file).c_str(), path) == 0;
    const std::wstring programFiles = environment(L"ProgramFiles");
    if (programFiles.empty()) {
        if (!inSystem)
            return false;
    } else if (!inSystem &&
               _wcsicmp((programFiles + L"\\Razer\\ChromaBroadcast\\bin\\" + file).c_str(), path) != 0) {
        return false;
    }
    return signatureTrusted(path);
}

// The loaded module's own path, checked again once the file is mapped.
bool verifyModule(HMODULE handle)
{
    wchar_t path[MAX_PATH] = {};
    if (K32GetModuleFileNameExW(GetCurrentProcess(), handle, path, MAX_PATH) == 0)
        return false;
    return verifyPath(path);
}
} // namespace

ChromaModule::ChromaModule(void* handle)
    : m_handle(handle)
{}

ChromaModule::~ChromaModule()
{
    FreeLibrary(static_cast<HMODULE>(m_handle));
}

QString ChromaModule::fileName()
{
    return QString::fromWCharArray(kLibraryFile);
}

QStringList ChromaModule::defaultFolders()
{
    QStringList folders;
    const std::wstring programFiles = environment(L"ProgramFiles");
    if (!programFiles.empty())
        folders << QString::fromStdWString(programFiles + L"\\Razer\\ChromaBroadcast\\bin");
    const std::wstring systemRoot = environment(L"SystemRoot");
    if (!systemRoot.empty())
        folders << QString::fromStdWString(systemRoot + L"\\System32");
    return folders;
}

int ChromaModule::open(const QStringList& folders, std::unique_ptr<ChromaModule>* module)
{
    for (const QString& folder : folders) {
        const std::wstring path = toWide(folder) + L"\\" + kLibraryFile;
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        // Held open without write or delete sharing, so the file checked is the file mapped.
        HANDLE pin = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (pin == INVALID_HANDLE_VALUE)
            return ChromaSdkLoader::FileNotFound;
        if (!verifyPath(path.c_str())) {
            CloseHandle(pin);
            qCDebug(lcPivotrix) << "chroma library rejected" << folder;
            return ChromaSdkLoader::InvalidLibrary;
        }
        // By full path; its own dependencies come from its folder and System32 only.
        HMODULE handle = LoadLibraryExW(path.c_str(), nullptr,
                                        LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
        CloseHandle(pin);
        if (!handle)
            return ChromaSdkLoader::FileNotFound;
        if (!verifyModule(handle)) {
            FreeLibrary(handle);
            qCDebug(lcPivotrix) << "chroma library rejected after loading" << folder;
            return ChromaSdkLoader::InvalidLibrary;
        }
        module->reset(new ChromaModule(handle));
        return ChromaSdkLoader::Success;
    }
    return ChromaSdkLoader::FileNotFound;
}

void* ChromaModule::resolve(const char* name) const
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
}
