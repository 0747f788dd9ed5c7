// Project, recipe and chain files are read by the lenient parser; no file
// may make it crash, hang, recurse without bound or read past its text.
#include "project/json.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

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

    // Whatever string was read, the writer's form of it reads back the same.
    if (value.type == korvel::JsonType::String) {
        korvel::JsonWriter writer;
        korvel::WriteJsonString(writer, value.string);
        if (korvel::ParseJson(writer.stream.text).string != value.string) std::abort();
    }
    return 0;
}
