#pragma once
// The strict JSON parser for text that arrives from the network: it checks
// the grammar, bounds the nesting depth and never reads past the received
// bytes. Project files use the lenient parser instead.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

struct StrictJsonMember;

struct StrictJsonValue {
    int32_t tag = 0;  // 0 null, 1 boolean, 2 number, 3 string, 4 array, 5 object
    bool boolean = false;
    double number = 0.0;
    std::string string;                     // UTF-8
    std::vector<StrictJsonValue> array;     // text order
    std::vector<StrictJsonMember> members;  // text order, duplicates kept

    // The first member whose key has the same bytes; null for non-objects.
    const StrictJsonValue* Find(std::string_view key) const;
};

struct StrictJsonMember {
    std::string key;
    StrictJsonValue value;
};

// Values may nest this deep; the top-level value is at depth 1.
inline constexpr int32_t kStrictJsonMaxDepth = 32;

// Parse state of one document. Set `cursor` and `end` to the received bytes
// and `depth` to 0, then call ParseValue. Every routine returns false at the
// first error; the caller then discards the partly built value.
struct StrictJsonParser {
    const char* cursor = nullptr;
    const char* end = nullptr;  // one past the last byte; never read
    int32_t depth = 0;          // values being parsed, including the current one

    bool ParseValue(StrictJsonValue& out);
    bool ParseObject(StrictJsonValue& out);  // cursor on '{'
    bool ParseArray(StrictJsonValue& out);   // cursor on '['
    bool ParseString(std::string& out);      // cursor on '"'

private:
    void SkipBlanks();
    bool ParseNumber(StrictJsonValue& out);
};

// Parses one value from the start of `text`; what follows it is not examined.
bool ParseStrictJson(std::string_view text, StrictJsonValue& out);

}  // namespace korvel
