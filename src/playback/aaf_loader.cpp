// Loading the AAF runtime library with dlopen/dlsym/dlclose, keeping the
// result codes a Windows loader would give (HRESULT_FROM_WIN32 of its error).
#include "playback/aaf_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <string>

namespace korvel {

AAFDLL* AAFDLLInstance = nullptr;

namespace {

// The platform errors the loader reports: module and procedure not found,
// and a general failure for an unload that fails.
constexpr long kErrorModNotFound = 126;
constexpr long kErrorProcNotFound = 127;
constexpr long kErrorGenFailure = 31;

AAFRESULT FromPlatformError(long e) {
    if (e <= 0) return static_cast<AAFRESULT>(e);
    return static_cast<AAFRESULT>(0x80070000u + (static_cast<unsigned long>(e) & 0xFFFFu));
}

// The folder of the running executable, with its trailing slash.
std::string ExecutableFolder() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    std::string path(buffer, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string{} : path.substr(0, slash + 1);
}

// Whether the unload at exit is registered. Export thread, as AAFLoad.
bool unloadRegistered = false;

void UnloadAtExit() { UnloadAAFDLL(); }

}  // namespace

AAFDLL::~AAFDLL() {
    if (AAFDLLInstance == this) AAFDLLInstance = nullptr;
}

AAFRESULT LoadAAFLibrary(const char* fileName, void** handle) {
    if (!fileName || !handle) return AAFRESULT_NULL_PARAM;
    void* h = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (!h) return FromPlatformError(kErrorModNotFound);
    *handle = h;
    return AAFRESULT_SUCCESS;
}

AAFRESULT FindAAFSymbol(void* handle, const char* name, void** entryPoint) {
    if (!handle || !name || !entryPoint) return AAFRESULT_NULL_PARAM;
    dlerror();
    void* p = dlsym(handle, name);
    if (!p) return FromPlatformError(kErrorProcNotFound);
    *entryPoint = p;
    return AAFRESULT_SUCCESS;
}

AAFRESULT FreeAAFLibrary(void* handle) {
    if (!handle) return AAFRESULT_NULL_PARAM;
    return dlclose(handle) == 0 ? AAFRESULT_SUCCESS : FromPlatformError(kErrorGenFailure);
}

AAFRESULT LoadAAFDLL(AAFDLL* dll, const char* libraryName) {
    if (!dll) return AAFRESULT_NULL_PARAM;
    AAFRESULT r = AAFRESULT_SUCCESS;
    if (libraryName) {
        r = LoadAAFLibrary(libraryName, &dll->handle);
    } else {
        // The default name: beside the executable first, then by the
        // loader's own search rules.
        const std::string beside = ExecutableFolder() + kAAFLibraryName;
        r = LoadAAFLibrary(beside.c_str(), &dll->handle);
        if (r != AAFRESULT_SUCCESS) r = LoadAAFLibrary(kAAFLibraryName, &dll->handle);
    }
    if (r != AAFRESULT_SUCCESS) return r;

    auto find = [&](const char* name, void** slot) { return FindAAFSymbol(dll->handle, name, slot); };
    auto required = [&](const char* name, void** slot) {
        r = find(name, slot);
        return r >= 0;
    };
    auto optional = [&](const char* name, void** slot) { find(name, slot); };
    void* openEx = nullptr;
    void* pluginManager = nullptr;
    if (!required("AAFFileOpenExistingRead", &dll->AAFFileOpenExistingRead)) return r;
    if (!required("AAFFileOpenExistingModify", &dll->AAFFileOpenExistingModify)) return r;
    if (!required("AAFFileOpenNewModify", &dll->AAFFileOpenNewModify)) return r;
    optional("AAFFileOpenNewModifyEx", &openEx);
    dll->AAFFileOpenNewModifyEx = reinterpret_cast<AAFFileOpenNewModifyEx_t>(openEx);
    if (!required("AAFFileOpenTransient", &dll->AAFFileOpenTransient)) return r;
    if (!required("AAFFileIsAAFFile", &dll->AAFFileIsAAFFile)) return r;
    optional("AAFRawStorageIsAAFFile", &dll->AAFRawStorageIsAAFFile);
    if (!required("AAFGetPluginManager", &pluginManager)) return r;
    dll->AAFGetPluginManager = reinterpret_cast<AAFGetPluginManager_t>(pluginManager);
    optional("AAFCreateRawStorageMemory", &dll->AAFCreateRawStorageMemory);
    if (dll->AAFCreateRawStorageMemory) {
        if (!required("AAFCreateRawStorageDisk", &dll->AAFCreateRawStorageDisk)) return r;
        if (!required("AAFCreateAAFFileOnRawStorage", &dll->AAFCreateAAFFileOnRawStorage)) return r;
    }
    optional("AAFSetProgressCallback", &dll->AAFSetProgressCallback);
    optional("AAFCreateRawStorageCachedDisk", &dll->AAFCreateRawStorageCachedDisk);
    optional("AAFCreateRawStorageCached", &dll->AAFCreateRawStorageCached);
    optional("AAFCreateRawStorageCached2", &dll->AAFCreateRawStorageCached2);
    optional("AAFGetFileEncodings", &dll->AAFGetFileEncodings);
    optional("AAFFileIsAAFFileKind", &dll->AAFFileIsAAFFileKind);
    optional("AAFRawStorageIsAAFFileKind", &dll->AAFRawStorageIsAAFFileKind);
    optional("AAFSetDiagnosticOutput", &dll->AAFSetDiagnosticOutput);
    optional("AAFGetLibraryVersion", &dll->AAFGetLibraryVersion);
    optional("AAFGetLibraryPathNameBufLen", &dll->AAFGetLibraryPathNameBufLen);
    optional("AAFGetLibraryPathName", &dll->AAFGetLibraryPathName);
    optional("AAFResultToTextBufLen", &dll->AAFResultToTextBufLen);
    optional("AAFResultToText", &dll->AAFResultToText);
    return AAFRESULT_SUCCESS;
}

AAFRESULT AAFLoad(const char* libraryName) {
    if (AAFDLLInstance) return AAFRESULT_ALREADY_INITIALIZED;
    AAFDLLInstance = new (std::nothrow) AAFDLL();
    if (!AAFDLLInstance) return AAFRESULT_NOMEMORY;
    if (!unloadRegistered) {
        unloadRegistered = true;
        std::atexit(UnloadAtExit);
    }
    const AAFRESULT r = LoadAAFDLL(AAFDLLInstance, libraryName);
    if (r != AAFRESULT_SUCCESS) UnloadAAFDLL();
    return r;
}

AAFRESULT GetAAFDLL(AAFDLL** out) {
    if (!out) return AAFRESULT_NULL_PARAM;
    AAFRESULT r = AAFRESULT_SUCCESS;
    if (!AAFDLLInstance) r = AAFLoad(nullptr);
    *out = AAFDLLInstance;
    return r;
}

AAFRESULT UnloadAAFDLL() {
    AAFDLL* dll = AAFDLLInstance;
    if (!dll) return AAFRESULT_SUCCESS;
    if (dll->handle) {
        const AAFRESULT r = FreeAAFLibrary(dll->handle);
        if (r != AAFRESULT_SUCCESS) return r;
    }
    delete dll;  // clears AAFDLLInstance
    return AAFRESULT_SUCCESS;
}

AAFRESULT AAFFileOpenNewModifyEx(const aafCharacter* fileName, const aafUID_t* fileKind, aafUInt32 modeFlags,
                                 aafProductIdentification_t* identification, IAAFFile** file) {
    AAFDLL* dll = nullptr;
    const AAFRESULT r = GetAAFDLL(&dll);
    if (r < 0) return r;
    if (!dll || !dll->AAFFileOpenNewModifyEx) return AAFRESULT_DLL_SYMBOL_NOT_FOUND;
    try {
        return dll->AAFFileOpenNewModifyEx(fileName, fileKind, modeFlags, identification, file);
    } catch (...) {
        return AAFRESULT_UNEXPECTED_EXCEPTION;
    }
}

AAFRESULT AAFGetPluginManager(IAAFPluginManager** manager) {
    AAFDLL* dll = nullptr;
    const AAFRESULT r = GetAAFDLL(&dll);
    if (r < 0) return r;
    if (!dll || !dll->AAFGetPluginManager) return AAFRESULT_DLL_SYMBOL_NOT_FOUND;
    try {
        return dll->AAFGetPluginManager(manager);
    } catch (...) {
        return AAFRESULT_UNEXPECTED_EXCEPTION;
    }
}

}  // namespace korvel
