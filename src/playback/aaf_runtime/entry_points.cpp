// The runtime library's exported entry points. Two work; the others exist so
// that a loader resolving the whole set finds them, and report that they are
// not implemented. No exception crosses this boundary.
#include "playback/aaf_runtime/object_model.h"

#define KORVEL_AAF_EXPORT extern "C" __attribute__((visibility("default")))

using korvel::aafrt::Object;

KORVEL_AAF_EXPORT AAFRESULT AAFFileOpenNewModifyEx(const aafCharacter* fileName, const aafUID_t* fileKind,
                                                   aafUInt32 modeFlags, aafProductIdentification_t* identification,
                                                   IAAFFile** file) {
    try {
        if (!fileName || !fileKind || !identification || !file) return AAFRESULT_NULL_PARAM;
        *file = nullptr;
        if (!(*fileKind == kAAFFileKind_Aaf512Binary)) return AAFRESULT_NOT_IN_CURRENT_VERSION;
        if (modeFlags != 0) return AAFRESULT_INVALID_PARAM;
        std::u16string name;
        for (const aafCharacter* c = fileName; *c; ++c) name.push_back(*c);
        if (name.empty()) return AAFRESULT_INVALID_PARAM;
        Object* created = nullptr;
        const AAFRESULT r = korvel::aafrt::CreateNewFile(name, *identification, &created);
        if (r != AAFRESULT_SUCCESS) return r;
        *file = static_cast<IAAFFile*>(created);
        return AAFRESULT_SUCCESS;
    } catch (...) {
        return AAFRESULT_UNEXPECTED_EXCEPTION;
    }
}

KORVEL_AAF_EXPORT AAFRESULT AAFGetPluginManager(IAAFPluginManager** manager) {
    try {
        if (!manager) return AAFRESULT_NULL_PARAM;
        *manager = nullptr;
        Object* created = nullptr;
        const AAFRESULT r = korvel::aafrt::GetPluginManager(&created);
        if (r == AAFRESULT_SUCCESS) *manager = static_cast<IAAFPluginManager*>(created);
        return r;
    } catch (...) {
        return AAFRESULT_UNEXPECTED_EXCEPTION;
    }
}

#define KORVEL_AAF_UNIMPLEMENTED(name) \
    KORVEL_AAF_EXPORT AAFRESULT name() { return AAFRESULT_NOT_IMPLEMENTED; }
KORVEL_AAF_UNIMPLEMENTED(AAFFileOpenExistingRead)
KORVEL_AAF_UNIMPLEMENTED(AAFFileOpenExistingModify)
KORVEL_AAF_UNIMPLEMENTED(AAFFileOpenNewModify)
KORVEL_AAF_UNIMPLEMENTED(AAFFileOpenTransient)
KORVEL_AAF_UNIMPLEMENTED(AAFFileIsAAFFile)
KORVEL_AAF_UNIMPLEMENTED(AAFRawStorageIsAAFFile)
KORVEL_AAF_UNIMPLEMENTED(AAFFileIsAAFFileKind)
KORVEL_AAF_UNIMPLEMENTED(AAFRawStorageIsAAFFileKind)
KORVEL_AAF_UNIMPLEMENTED(AAFCreateRawStorageMemory)
KORVEL_AAF_UNIMPLEMENTED(AAFCreateRawStorageDisk)
KORVEL_AAF_UNIMPLEMENTED(AAFCreateRawStorageCachedDisk)
KORVEL_AAF_UNIMPLEMENTED(AAFCreateRawStorageCached)
KORVEL_AAF_UNIMPLEMENTED(AAFCreateRawStorageCached2)
KORVEL_AAF_UNIMPLEMENTED(AAFCreateAAFFileOnRawStorage)
KORVEL_AAF_UNIMPLEMENTED(AAFSetProgressCallback)
KORVEL_AAF_UNIMPLEMENTED(AAFGetFileEncodings)
KORVEL_AAF_UNIMPLEMENTED(AAFSetDiagnosticOutput)
KORVEL_AAF_UNIMPLEMENTED(AAFGetLibraryVersion)
KORVEL_AAF_UNIMPLEMENTED(AAFGetLibraryPathNameBufLen)
KORVEL_AAF_UNIMPLEMENTED(AAFGetLibraryPathName)
KORVEL_AAF_UNIMPLEMENTED(AAFResultToTextBufLen)
KORVEL_AAF_UNIMPLEMENTED(AAFResultToText)
#undef KORVEL_AAF_UNIMPLEMENTED
