#include "project/strict_json.h"

#include <locale.h>

#include <cstdlib>
#include <cstring>

#include "project/c_locale.h"

namespace korvel {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// strtod skips the C locale's white space before a number, which includes
// vertical tab and form feed that are not JSON blanks.
bool IsNumberSpace(char c) { return IsBlank(c) || c == '\v' || c == '\f'; }

// Every byte strtod can take into a number: signs, digits, the decimal point,
// exponents, hexadecimal forms, "inf"/"infinity" and "nan(chars)".
bool IsNumberByte(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '+' ||
           c == '-' || c == '.' || c == '_' || c == '(' || c == ')';
}

void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

const StrictJsonValue* StrictJsonValue::Find(std::string_view key) const {
    if (tag != 5) return nullptr;
    for (const StrictJsonMember& member : members) {
        if (member.key == key) return &member.value;
    }
    return nullptr;
}

void StrictJsonParser::SkipBlanks() {
    while (cursor < end && IsBlank(*cursor)) ++cursor;
}

bool StrictJsonParser::ParseValue(StrictJsonValue& out) {
    // The counter is not restored on this failure: the whole parse is over.
    if (++depth > kStrictJsonMaxDepth) return false;
    bool ok = false;
    SkipBlanks();
    const std::size_t remaining = static_cast<std::size_t>(end - cursor);
    if (cursor >= end) {
        ok = false;
    } else if (*cursor == '{') {
        ok = ParseObject(out);
    } else if (*cursor == '[') {
        ok = ParseArray(out);
    } else if (*cursor == '"') {
        out.tag = 3;
        ok = ParseString(out.string);
    } else if (remaining >= 4 && std::memcmp(cursor, "true", 4) == 0) {
        out.tag = 1;
        out.boolean = true;
        cursor += 4;
        ok = true;
    } else if (remaining >= 5 && std::memcmp(cursor, "false", 5) == 0) {
        out.tag = 1;
        out.boolean = false;
        cursor += 5;
        ok = true;
    } else if (remaining >= 4 && std::memcmp(cursor, "null", 4) == 0) {
        out.tag = 0;
        cursor += 4;
        ok = true;
    } else {
        ok = ParseNumber(out);
    }
    --depth;
    return ok;
}

bool StrictJsonParser::ParseNumber(StrictJsonValue& out) {
    // The received bytes need not be terminated, so strtod reads a copy of
    // the longest run it could possibly consume. It stops inside that run
    // exactly where it would stop on the original text.
    const char* stop = cursor;
    while (stop < end && IsNumberSpace(*stop)) ++stop;
    while (stop < end && IsNumberByte(*stop)) ++stop;
    if (stop == cursor) return false;
    const std::string text(cursor, stop);
    char* parsed = nullptr;
    const double value = strtod_l(text.c_str(), &parsed, CLocale());
    const std::size_t used = static_cast<std::size_t>(parsed - text.c_str());
    if (used == 0) return false;
    out.tag = 2;
    out.number = value;
    cursor += used;
    return true;
}

bool StrictJsonParser::ParseObject(StrictJsonValue& out) {
    out.tag = 5;
    ++cursor;
    SkipBlanks();
    if (cursor < end && *cursor == '}') {
        ++cursor;
        return true;
    }
    for (;;) {
        SkipBlanks();
        StrictJsonMember member;
        if (!ParseString(member.key)) return false;
        if (cursor >= end) return false;
        SkipBlanks();
        if (cursor >= end || *cursor != ':') return false;
        ++cursor;
        if (!ParseValue(member.value)) return false;
        out.members.push_back(std::move(member));
        if (cursor >= end) return false;
        SkipBlanks();
        if (cursor >= end) return false;
        if (*cursor == ',') {
            ++cursor;
            continue;
        }
        if (*cursor == '}') {
            ++cursor;
            return true;
        }
        return false;
    }
}

bool StrictJsonParser::ParseArray(StrictJsonValue& out) {
    out.tag = 4;
    ++cursor;
    SkipBlanks();
    if (cursor < end && *cursor == ']') {
        ++cursor;
        return true;
    }
    for (;;) {
        StrictJsonValue element;
        if (!ParseValue(element)) return false;
        out.array.push_back(std::move(element));
        SkipBlanks();
        if (cursor >= end) return false;
        if (*cursor == ',') {
            ++cursor;
            continue;
        }
        if (*cursor == ']') {
            ++cursor;
            return true;
        }
        return false;
    }
}

bool StrictJsonParser::ParseString(std::string& out) {
    if (cursor >= end || *cursor != '"') return false;
    ++cursor;
    out.clear();
    while (cursor < end) {
        const char c = *cursor;
        if (c == '"') {
            ++cursor;
            return true;
        }
        if (c != '\\' || end - cursor < 2) {
            out += c;
            ++cursor;
            continue;
        }
        const char escaped = cursor[1];
        cursor += 2;
        switch (escaped) {
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                if (end - cursor < 4) return false;
                unsigned code = 0;
                for (int i = 0; i < 4; ++i) {
                    const int digit = HexDigit(cursor[i]);
                    if (digit < 0) return false;
                    code = code * 16 + static_cast<unsigned>(digit);
                }
                cursor += 4;
                // Surrogate halves are not paired up; each stands as "?".
                if (code >= 0xD800 && code <= 0xDFFF) {
                    out += '?';
                } else {
                    AppendUtf8(out, code);
                }
                break;
            }
            default: out += escaped; break;
        }
    }
    return false;
}

bool ParseStrictJson(std::string_view text, StrictJsonValue& out) {
    StrictJsonParser parser;
    parser.cursor = text.data();
    parser.end = text.data() + text.size();
    parser.depth = 0;
    return parser.ParseValue(out);
}

}  // namespace korvel
