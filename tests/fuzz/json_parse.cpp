// Project, recipe and chain files are read by the lenient parser; no file
// may make it crash, hang, recurse without bound or read past its text.
#include "project/json.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// Walks the tree through the readers' accessors, as the file readers do.
void Visit(const korvel::JsonValue& value, int depth) {
    if (depth > korvel::kJsonMaxDepth + 1) std::abort();
    (void)value.AsInt(0);
    (void)value.AsFloat(0.0f);
    (void)value.Get("format").AsBool(false);
    (void)value.At(0);
    for (const auto& element : value.array) Visit(element, depth + 1);
    for (const auto& member : value.members) Visit(member.value, depth + 1);
}

bool Same(const korvel::JsonValue& a, const korvel::JsonValue& b) {
    if (a.type != b.type || a.boolean != b.boolean || a.string != b.string) return false;
    if (!(a.number == b.number) && !(a.number != a.number && b.number != b.number)) return false;
    if (a.array.size() != b.array.size() || a.members.size() != b.members.size()) return false;
    for (size_t i = 0; i < a.array.size(); ++i)
        if (!Same(a.array[i], b.array[i])) return false;
    for (size_t i = 0; i < a.members.size(); ++i)
        if (a.members[i].key != b.members[i].key || !Same(a.members[i].value, b.members[i].value)) return false;
    return true;
}

// The project reader takes its events and layers element by element: they
// must be exactly the elements the whole tree holds.
void CheckDeferredArrays(const std::string& text) {
    korvel::JsonDamage wholeDamage, deferredDamage;
    const korvel::JsonValue whole = korvel::ParseJson(text, wholeDamage);
    korvel::JsonDeferredArray deferred[2] = {{.key = "events"}, {.key = "results"}};
    const korvel::JsonValue root = korvel::ParseJsonDeferring(text, deferred, deferredDamage);
    if (wholeDamage.endedEarly != deferredDamage.endedEarly || wholeDamage.tooDeep != deferredDamage.tooDeep) std::abort();
    for (const korvel::JsonDeferredArray& array : deferred) {
        const korvel::JsonValue& expected = whole.Get(array.key);
        if (array.start == nullptr) {
            if (!Same(root.Get(array.key), expected)) std::abort();
            continue;
        }
        size_t i = 0;
        korvel::ForEachJsonElement(array, [&](korvel::JsonValue& element) {
            if (i >= expected.array.size() || !Same(element, expected.array[i])) std::abort();
            ++i;
        });
        if (i != expected.array.size() || array.count != i) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size heap copy with its terminating zero lets the address
    // sanitizer catch a read of the first byte past the end.
    std::unique_ptr<char[]> text(new char[size + 1]);
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>(data[i]);
    text[size] = '\0';

    const char* cursor = text.get();
    korvel::JsonValue value = korvel::ParseJsonValue(cursor);
    if (cursor < text.get() || cursor > text.get() + size) std::abort();
    Visit(value, 1);

    CheckDeferredArrays(std::string(text.get(), size));

    // Whatever string was read, the writer's form of it reads back the same.
    if (value.type == korvel::JsonType::String) {
        korvel::JsonWriter writer;
        korvel::WriteJsonString(writer, value.string);
        if (korvel::ParseJson(writer.stream.text).string != value.string) std::abort();
    }
    return 0;
}
