#pragma once
// The program's own JSON: a value tree, the lenient parser every file reader
// uses, and the pretty-printing writer every file writer uses.
//
// Numbers are read and written in the C locale whatever the process locale.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace korvel {

// [SECTION] Values

enum class JsonType : std::int32_t { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

struct JsonMember;

// One node of the tree; owns its children by value, so copies are deep.
// Only the fields that belong to `type` are meaningful; the others stay empty.
struct JsonValue {
    // type and boolean share one 8-byte slot: a project holds millions of values.
    JsonType type = JsonType::Null;
    bool boolean = false;
    double number = 0.0;
    std::string string;              // bytes as read
    std::vector<JsonValue> array;    // file order
    std::vector<JsonMember> members; // file order, duplicate keys kept

    // The first member with exactly this key; a shared null when none (or
    // when this is not an object).
    const JsonValue& Get(std::string_view key) const;
    // Element `index`; a shared null when out of range or not an array.
    const JsonValue& At(std::int64_t index) const;
    bool Has(std::string_view key) const;

    bool AsBool(bool fallback) const;      // a number is not a boolean
    float AsFloat(float fallback) const;   // narrowed to single precision
    // Truncated toward zero; a number outside the 32-bit range (or NaN)
    // yields INT32_MIN.
    std::int32_t AsInt(std::int32_t fallback) const;
};

struct JsonMember {
    std::string key;
    JsonValue value;
};

// [SECTION] Lenient parser
// Never reports an error: what cannot be read becomes null, unterminated
// strings and containers end at the end of the text keeping what was read,
// and text after the first value is ignored. The text ends at its first zero
// byte. Containers nest at most kJsonMaxDepth deep; a bracket that would open
// a deeper one is read as the end of the text. A stray character where an
// element or member should start is skipped.

inline constexpr int kJsonMaxDepth = 256;

// What the lenient parser passed over in silence; the value it reads is the
// same either way. A file cut short or overwritten in part shows as one of
// these, where the lenient result alone would look like a smaller document.
struct JsonDamage {
    bool endedEarly = false;  // the text ended inside a container or a string
    bool zeroByte = false;    // a zero byte ended the text before its last byte
    bool tooDeep = false;     // a container passed the depth bound
    bool Any() const { return endedEarly || zeroByte || tooDeep; }
};

JsonValue ParseJson(const char* text);
JsonValue ParseJson(const std::string& text);
JsonValue ParseJson(const std::string& text, JsonDamage& damage);

// A large array member of the root object read one element at a time: the
// document's tree then never holds all its elements at once.
struct JsonDeferredArray {
    std::string_view key;
    // Set by ParseJsonDeferring for the first root member under `key`: whether
    // there is one, and where its array starts (null when its value is not
    // an array, which is then in the tree as usual).
    bool found = false;
    const char* start = nullptr;
    std::size_t count = 0;  // its elements
};

// ParseJson for a document whose root object has large array members: the
// first member under each key of `deferred` whose value is an array is in the
// tree as an empty array, its elements are read by ForEachJsonElement. Later
// members under the same key (which Get never returns) are passed over.
// `text` must outlive the deferred arrays.
JsonValue ParseJsonDeferring(const std::string& text, std::span<JsonDeferredArray> deferred, JsonDamage& damage);

// Reads a deferred array's elements in order, each exactly as ParseJson would
// have, handing each to `visit` and dropping it afterwards.
template <typename Visit>
void ForEachJsonElement(const JsonDeferredArray& array, Visit&& visit);

// One value at `cursor` (zero-terminated text); leaves `cursor` just after it.
JsonValue ParseJsonValue(const char*& cursor);
// The leaf scanners, also used for object keys. A string that does not start
// at a double quote is empty and consumes nothing.
std::string ParseJsonString(const char*& cursor);
// Moves over [-]digits[.digits][(e|E)[+|-]digits]; the value is what strtod
// reads from the same start (0 when it reads nothing).
double ParseJsonNumber(const char*& cursor);

namespace detail {
// The element loop behind ForEachJsonElement; `visit` is called with each
// element read.
void ForEachJsonElementImpl(const char* start, void (*visit)(void* context, JsonValue& element), void* context);
}  // namespace detail

template <typename Visit>
void ForEachJsonElement(const JsonDeferredArray& array, Visit&& visit) {
    if (array.start == nullptr) return;
    detail::ForEachJsonElementImpl(
        array.start,
        [](void* context, JsonValue& element) { (*static_cast<std::remove_reference_t<Visit>*>(context))(element); },
        &visit);
}

// [SECTION] Writer

// The writer's output: append-only text.
struct JsonTextStream {
    std::string text;

    JsonTextStream& operator<<(std::string_view s) {
        text.append(s);
        return *this;
    }
    JsonTextStream& operator<<(char c) {
        text.push_back(c);
        return *this;
    }
};

// Pretty-printer: two spaces per level; every key and every opening bracket
// starts a new line. Documents are opened by writing "{" to `stream` with
// `depth` set to 1, and closed with a line feed and "}".
struct JsonWriter {
    JsonTextStream stream;
    std::int32_t depth = 0;
    bool needsComma = false;  // a value was completed at this level

    // Starts a member line; the caller writes the value and sets needsComma.
    JsonTextStream& WriteKey(std::string_view name);
    void WriteBool(std::string_view name, bool value);
    void WriteFloat(std::string_view name, float value);  // "%.6g"
    void WriteInt(std::string_view name, std::int32_t value);
    void WriteString(std::string_view name, std::string_view value);
    // All points on the key's line, each "%.4g", separated by ",".
    void WriteCurve(std::string_view name, std::span<const float, 256> curve);
    void BeginObject();
    void BeginArray();
    void EndObject();
    void EndArray();
};

// Starts an element line inside an open array (one element per line) and
// returns the text to append the element to.
std::string& BeginJsonArrayItem(JsonWriter& writer);

// A quoted, escaped string; sets needsComma.
void WriteJsonString(JsonWriter& writer, std::string_view value);

// Appends `value` as "%.<precision>g" prints it in the C locale; a
// non-finite value is written as 0 so that every reader can take it back.
void AppendJsonNumber(std::string& out, double value, int precision);

}  // namespace korvel
