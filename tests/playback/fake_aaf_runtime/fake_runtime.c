/* Stand-ins for the AAF runtime library that lack chosen entry points, so
   the loader's handling of each gap can be tested. FAKE_NO_OPEN_EX drops the
   optional open call, FAKE_NO_PLUGIN_MANAGER a required one,
   FAKE_MEMORY_WITHOUT_DISK exports the memory storage call alone and
   FAKE_MEMORY_WITH_DISK exports it with its two companions. */
#include <stdint.h>

#define EXPORT __attribute__((visibility("default")))
#define STUB(name) EXPORT int32_t name(void) { return 0; }

STUB(AAFFileOpenExistingRead)
STUB(AAFFileOpenExistingModify)
STUB(AAFFileOpenNewModify)
STUB(AAFFileOpenTransient)
STUB(AAFFileIsAAFFile)

#ifndef FAKE_NO_OPEN_EX
/* Answers a recognisable failure so a test can tell it was called. */
EXPORT int32_t AAFFileOpenNewModifyEx(const void* a, const void* b, uint32_t c, void* d, void** e) {
    (void)a; (void)b; (void)c; (void)d;
    if (e) *e = 0;
    return (int32_t)0x8012ABCDu;
}
#endif

#ifndef FAKE_NO_PLUGIN_MANAGER
EXPORT int32_t AAFGetPluginManager(void** manager) {
    if (manager) *manager = 0;
    return (int32_t)0x8012ABCEu;
}
#endif

#if defined(FAKE_MEMORY_WITHOUT_DISK) || defined(FAKE_MEMORY_WITH_DISK)
STUB(AAFCreateRawStorageMemory)
#endif
#ifdef FAKE_MEMORY_WITH_DISK
STUB(AAFCreateRawStorageDisk)
STUB(AAFCreateAAFFileOnRawStorage)
#endif
