// The compound-file and AAF stored-object readers the tests check written
// files with, on arbitrary bytes: they must report damage, never crash.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../support/aaf_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const korvel::test::aafr::File f = korvel::test::aafr::Read(bytes);
    if (!f.ok && f.error.empty()) std::abort();
    if (f.ok) {
        for (const korvel::test::aafr::Property& p : f.root.properties) {
            for (const std::string& key : p.keys) korvel::test::aafr::ResolveWeak(f, p.tag, p.keyPid, key);
        }
    }
    return 0;
}
