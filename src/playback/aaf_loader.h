#pragma once
// The client side of the AAF runtime library: the loaded library and its
// entry points, the process-wide instance, and the forwarders the AAF writer
// calls under the exports' own names.
#include "playback/aaf_api.h"

namespace korvel {

class AAFDLL {
public:
    AAFDLL() = default;
    virtual ~AAFDLL();
    AAFDLL(const AAFDLL&) = delete;
    AAFDLL& operator=(const AAFDLL&) = delete;

    void* handle = nullptr;  // null when nothing is loaded
    void* AAFFileOpenExistingRead = nullptr;
    void* AAFFileOpenExistingModify = nullptr;
    void* AAFFileOpenNewModify = nullptr;
    AAFFileOpenNewModifyEx_t AAFFileOpenNewModifyEx = nullptr;
    void* AAFFileOpenTransient = nullptr;
    void* AAFFileIsAAFFile = nullptr;
    void* AAFRawStorageIsAAFFile = nullptr;
    void* AAFFileIsAAFFileKind = nullptr;
    void* AAFRawStorageIsAAFFileKind = nullptr;
    AAFGetPluginManager_t AAFGetPluginManager = nullptr;
    void* AAFCreateRawStorageMemory = nullptr;
    void* AAFCreateRawStorageDisk = nullptr;
    void* AAFCreateRawStorageCachedDisk = nullptr;
    void* AAFCreateRawStorageCached = nullptr;
    void* AAFCreateRawStorageCached2 = nullptr;
    void* AAFCreateAAFFileOnRawStorage = nullptr;
    void* AAFSetProgressCallback = nullptr;
    void* AAFGetFileEncodings = nullptr;
    void* AAFSetDiagnosticOutput = nullptr;
    void* AAFGetLibraryVersion = nullptr;
    void* AAFGetLibraryPathNameBufLen = nullptr;
    void* AAFGetLibraryPathName = nullptr;
    void* AAFResultToTextBufLen = nullptr;
    void* AAFResultToText = nullptr;
};

// The one loaded runtime, null when none is loaded. Used by the export
// thread during an export and by the main thread at exit; no lock: the exit
// waits for a running export to finish first.
extern AAFDLL* AAFDLLInstance;

// The runtime's file name; looked for first beside the running executable.
inline constexpr const char* kAAFLibraryName = "libAAFCOAPI.so";

AAFRESULT LoadAAFLibrary(const char* fileName, void** handle);
AAFRESULT FindAAFSymbol(void* handle, const char* name, void** entryPoint);
AAFRESULT FreeAAFLibrary(void* handle);
// Loads `libraryName` (the default when null) into `dll` and resolves its
// entry points; a missing required one ends the load with its result.
AAFRESULT LoadAAFDLL(AAFDLL* dll, const char* libraryName);
AAFRESULT AAFLoad(const char* libraryName);
AAFRESULT GetAAFDLL(AAFDLL** out);
AAFRESULT UnloadAAFDLL();

// Forwarders to the loaded library's exports of the same names.
AAFRESULT AAFFileOpenNewModifyEx(const aafCharacter* fileName, const aafUID_t* fileKind, aafUInt32 modeFlags,
                                 aafProductIdentification_t* identification, IAAFFile** file);
AAFRESULT AAFGetPluginManager(IAAFPluginManager** manager);

}  // namespace korvel
