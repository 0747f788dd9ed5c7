#include "project/json.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>

#include <locale.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <mutex>

#include "project/c_locale.h"

namespace korvel {

// Index of this file:
// [SECTION] Values
// [SECTION] Number conversion
// [SECTION] Lenient parser
// [SECTION] Writer

// [SECTION] Values

namespace {

// The shared results of a missing member and of an element out of range.
// Immutable; any thread may read them.
const JsonValue kMissingMember;
const JsonValue kMissingElement;

}  // namespace

const JsonValue& JsonValue::Get(std::string_view key) const {
    for (const auto& member : members) {
        if (member.key == key) return member.value;
    }
    return kMissingMember;
}

const JsonValue& JsonValue::At(std::int64_t index) const {
    if (index < 0 || static_cast<std::uint64_t>(index) >= array.size()) return kMissingElement;
    return array[static_cast<std::size_t>(index)];
}

bool JsonValue::Has(std::string_view key) const {
    for (const auto& member : members) {
        if (member.key == key) return true;
    }
    return false;
}

bool JsonValue::AsBool(bool fallback) const { return type == JsonType::Bool ? boolean : fallback; }

float JsonValue::AsFloat(float fallback) const {
    return type == JsonType::Number ? static_cast<float>(number) : fallback;
}

std::int32_t JsonValue::AsInt(std::int32_t fallback) const {
    if (type != JsonType::Number) return fallback;
    // The cast is only defined for values that truncate into range; NaN
    // fails both comparisons.
    if (number > -2147483649.0 && number < 2147483648.0) return static_cast<std::int32_t>(number);
    return std::numeric_limits<std::int32_t>::min();
}

// [SECTION] Number conversion

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Powers of ten that a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace

namespace {

// What a number's digits say: value = mantissa * 10^power.
struct NumberParts {
    std::uint64_t mantissa = 0;  // up to 19 significant digits
    int power = 0;               // of ten, applied to the mantissa
    bool anyDigits = false;
    bool exact = true;           // no significant digit was dropped
};

// Digits and fraction of any length: leading zeros are dropped, and digits
// past the 19 a mantissa holds mark the result inexact.
const char* ScanLongNumber(const char* p, NumberParts& parts) {
    int significant = 0;
    int scale = 0;
    auto takeDigit = [&](char c) {
        parts.anyDigits = true;
        if (parts.mantissa == 0 && c == '0') return;
        if (significant == 19) {
            parts.exact = false;
            return;
        }
        parts.mantissa = parts.mantissa * 10 + static_cast<std::uint64_t>(c - '0');
        ++significant;
    };
    for (; IsDigit(*p); ++p) takeDigit(*p);
    if (*p == '.') {
        for (++p; IsDigit(*p); ++p) {
            takeDigit(*p);
            ++scale;
        }
    }
    parts.power = -scale;
    return p;
}

}  // namespace

double ParseJsonNumber(const char*& cursor) {
    const char* start = cursor;
    const char* p = cursor;
    const bool negative = *p == '-';
    if (negative) ++p;

    // Nearly every number the program writes has a few digits: they are
    // taken in one pass, leading zeros and all. Past 19 digits the mantissa
    // could overflow, and the careful scan reads them again.
    NumberParts parts;
    const char* digits = p;
    std::uint64_t mantissa = 0;
    for (; IsDigit(*p); ++p) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    std::ptrdiff_t digitCount = p - digits;
    int scale = 0;
    if (*p == '.') {
        const char* fraction = ++p;
        for (; IsDigit(*p); ++p) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
        scale = static_cast<int>(p - fraction);
        digitCount += scale;
    }
    if (digitCount <= 19) {
        parts.mantissa = mantissa;
        parts.power = -scale;
        parts.anyDigits = digitCount > 0;
    } else {
        p = ScanLongNumber(digits, parts);
    }

    if (*p == 'e' || *p == 'E') {
        const char* e = p + 1;
        bool exponentNegative = false;
        if (*e == '+' || *e == '-') exponentNegative = *e++ == '-';
        // With no digits strtod stops before the 'e'; the span still covers it.
        int exponent = 0;
        for (; IsDigit(*e); ++e) {
            if (exponent < 100000) exponent = exponent * 10 + (*e - '0');
        }
        parts.power += exponentNegative ? -exponent : exponent;
        p = e;
    }
    cursor = p;

    // Plain decimals whose digits and power of ten are both exact in a
    // double need a single rounding, which is exactly what strtod returns.
    // Everything else (no digits, "0x" hex, inf, nan, long or extreme
    // numbers) is left to strtod itself.
    if (parts.exact && parts.anyDigits && *p != 'x' && *p != 'X') {
        if (parts.mantissa == 0) return negative ? -0.0 : 0.0;
        if (parts.mantissa <= (std::uint64_t{1} << 53) && parts.power >= -22 && parts.power <= 22) {
            double value = static_cast<double>(parts.mantissa);
            value = parts.power >= 0 ? value * kExactPowersOfTen[parts.power] : value / kExactPowersOfTen[-parts.power];
            return negative ? -value : value;
        }
    }
    return strtod_l(start, nullptr, CLocale());
}

namespace {

constexpr std::uint64_t kIntegerPowersOfTen[] = {1,         10,         100,         1000,       10000,
                                                 100000,    1000000,    10000000,    100000000,  1000000000};

// "%.<precision>g" of a positive, finite `value` for precisions up to 9,
// without printf's exact big-number arithmetic: the value is scaled to
// `precision` digits with one exactly rounded operation, so the digits are
// certain unless the scaled value lies within the operation's error of a
// rounding tie. Returns nullptr for those and for magnitudes outside exact
// powers of ten; the caller then takes the exact route.
char* FormatGeneralFast(char* p, double value, int precision) {
    if (precision < 1 || precision > 9 || value == 0.0) return nullptr;
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const int biasedExponent = static_cast<int>((bits >> 52) & 0x7FF);
    if (biasedExponent == 0) return nullptr;  // subnormal

    // value lies in [2^(e2-1), 2^e2); this estimate of floor(log10(value))
    // is at most one too low.
    const int e2 = biasedExponent - 1022;
    int exponent = static_cast<int>(std::floor((e2 - 1) * 0.30102999566398120));
    const double low = static_cast<double>(kIntegerPowersOfTen[precision - 1]);
    const double high = static_cast<double>(kIntegerPowersOfTen[precision]);
    double scaled = 0;
    for (int tries = 0;; ++tries) {
        if (tries == 3) return nullptr;
        const int k = precision - 1 - exponent;
        if (k > 22 || k < -22) return nullptr;
        scaled = k >= 0 ? value * kExactPowersOfTen[k] : value / kExactPowersOfTen[-k];
        if (scaled < low) {
            --exponent;
        } else if (scaled >= high) {
            ++exponent;
        } else {
            break;
        }
    }
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    // scaled < 1e9 carries an error below 2e-7: closer than that to a tie,
    // only the exact value can say which way to round.
    if (std::fabs(fraction - 0.5) < 1e-6) return nullptr;
    auto digits = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
    if (digits == kIntegerPowersOfTen[precision]) {
        digits /= 10;
        ++exponent;
    }

    char text[9];
    for (int i = precision - 1; i >= 0; --i) {
        text[i] = static_cast<char>('0' + digits % 10);
        digits /= 10;
    }
    int last = precision - 1;  // trailing zeros are not printed
    while (last > 0 && text[last] == '0') --last;

    if (exponent < -4 || exponent >= precision) {
        *p++ = text[0];
        if (last > 0) {
            *p++ = '.';
            for (int i = 1; i <= last; ++i) *p++ = text[i];
        }
        *p++ = 'e';
        *p++ = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude >= 100) *p++ = static_cast<char>('0' + magnitude / 100);
        *p++ = static_cast<char>('0' + magnitude / 10 % 10);
        *p++ = static_cast<char>('0' + magnitude % 10);
    } else if (exponent >= 0) {
        for (int i = 0; i <= exponent; ++i) *p++ = text[i];
        if (last > exponent) {
            *p++ = '.';
            for (int i = exponent + 1; i <= last; ++i) *p++ = text[i];
        }
    } else {
        *p++ = '0';
        *p++ = '.';
        for (int i = exponent + 1; i < 0; ++i) *p++ = '0';
        for (int i = 0; i <= last; ++i) *p++ = text[i];
    }
    return p;
}

}  // namespace

void AppendJsonNumber(std::string& out, double value, int precision) {
    if (!std::isfinite(value)) {
        out.push_back('0');
        return;
    }
    char buffer[40];
    char* start = buffer;
    if (std::signbit(value)) *start++ = '-';
    char* end = FormatGeneralFast(start, std::fabs(value), precision);
    if (!end) {
        // General format with a precision prints exactly what
        // "%.<precision>g" prints in the C locale.
        end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision).ptr;
    }
    out.append(buffer, end);
}

// [SECTION] Lenient parser

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

void AppendUtf8(std::string& out, unsigned codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// Appends the string at `cursor` to `out`, so keys and values are read
// straight into the tree; see ParseJsonString. False when the text ended
// inside the string.
bool ReadString(const char*& cursor, std::string& out) {
    const char* p = cursor;
    if (*p != '"') return true;
    ++p;
    bool closed = false;
    for (;;) {
        // Copy runs of plain bytes at once.
        const char* run = p;
        while (*p != '"' && *p != '\\' && *p != '\0') ++p;
        out.append(run, p);
        if (*p == '\0') break;
        if (*p == '"') {
            ++p;
            closed = true;
            break;
        }
        ++p;  // the backslash
        const char escaped = *p;
        if (escaped == '\0') break;
        ++p;
        switch (escaped) {
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'u': {
                unsigned codePoint = 0;
                for (int i = 0; i < 4 && *p != '\0'; ++i, ++p) {
                    codePoint = (codePoint << 4) + static_cast<unsigned>(HexValue(*p));
                }
                AppendUtf8(out, codePoint);
                break;
            }
            default: out.push_back(escaped); break;  // '"', '\\', '/' and any other stand for themselves
        }
    }
    cursor = p;
    return closed;
}

// Every container is built in one allocation of exactly its size. Arrays of
// numbers only collect their numbers first; other containers read their
// elements (or members) into a scratch list kept for their depth, reused by
// every container at that depth during one parse, and moved out when they
// close. Growing the tree's own vectors by doubling would touch up to twice
// the memory (a project holds millions of values) and move each value
// several times.
class LenientParser {
public:
    explicit LenientParser(const char* text) : cursor_(text) {}

    const char* cursor() const { return cursor_; }
    const JsonDamage& damage() const { return damage_; }
    void Defer(std::span<JsonDeferredArray> deferred) { deferred_ = deferred; }

    // Reads the array at the cursor (a '[') as the member of a root object,
    // handing each element to `visit` instead of keeping it. The elements
    // are read as ParseArray would read them: its run of leading numbers is
    // the general loop's too.
    //
    // With `Skip` the elements are only passed over (`visit` is called with
    // a null value for each): the cursor, the damage and the count come out
    // as reading them would give, without building anything.
    template <bool Skip = false, typename Visit>
    void VisitRootMemberArray(Visit&& visit) {
        depth_ = 1;
        ++cursor_;
        ++depth_;
        SkipBlanks();
        if (AtEnd()) {
            NoteEnd();
        } else if (*cursor_ == ']') {
            ++cursor_;
        } else {
            do {
                SkipBlanks();
                const char* start = cursor_;
                JsonValue element;
                if constexpr (Skip) SkipValue();
                else ParseValue(element);
                if (IsStray(start, ']')) {
                    ++cursor_;
                    continue;
                }
                visit(element);
                SkipBlanks();
                if (*cursor_ == ',') ++cursor_;
            } while (!AtEnd() && *cursor_ != ']');
            if (AtEnd()) NoteEnd();
            else ++cursor_;
        }
        --depth_;
    }

    // ParseValue's twin that builds nothing. It must move the cursor and
    // note damage exactly as ParseValue does (the fuzz target compares them):
    // an array's run of numbers reads as its general loop does, so one loop
    // serves both.
    void SkipValue() {
        SkipBlanks();
        if (AtEnd()) return;
        switch (*cursor_) {
            case '"':
                scratch_.clear();
                if (!ReadString(cursor_, scratch_)) damage_.endedEarly = true;
                return;
            case '[': SkipArray(); return;
            case '{': SkipObject(); return;
            case 't':
                if (cursor_[1] == 'r' && cursor_[2] == 'u' && cursor_[3] == 'e') cursor_ += 4;
                return;
            case 'f':
                if (cursor_[1] == 'a' && cursor_[2] == 'l' && cursor_[3] == 's' && cursor_[4] == 'e') cursor_ += 5;
                return;
            case 'n':
                if (cursor_[1] == 'u' && cursor_[2] == 'l' && cursor_[3] == 'l') cursor_ += 4;
                return;
            default:
                if (*cursor_ == '-' || IsDigit(*cursor_)) (void)ParseJsonNumber(cursor_);
                return;
        }
    }

    void SkipArray() {
        ++cursor_;
        ++depth_;
        SkipBlanks();
        if (AtEnd()) NoteEnd();
        if (!AtEnd()) {
            if (*cursor_ == ']') {
                ++cursor_;
            } else {
                do {
                    SkipBlanks();
                    const char* start = cursor_;
                    SkipValue();
                    if (IsStray(start, ']')) {
                        ++cursor_;
                        continue;
                    }
                    SkipBlanks();
                    if (*cursor_ == ',') ++cursor_;
                } while (!AtEnd() && *cursor_ != ']');
                if (AtEnd()) NoteEnd();
                else ++cursor_;
            }
        }
        --depth_;
    }

    void SkipObject() {
        ++cursor_;
        ++depth_;
        SkipBlanks();
        if (AtEnd()) NoteEnd();
        if (!AtEnd()) {
            if (*cursor_ == '}') {
                ++cursor_;
            } else {
                for (;;) {
                    SkipBlanks();
                    const char* start = cursor_;
                    scratch_.clear();
                    if (!ReadString(cursor_, scratch_)) damage_.endedEarly = true;
                    SkipBlanks();
                    if (*cursor_ == ':') ++cursor_;
                    SkipValue();
                    if (IsStray(start, '}')) {
                        ++cursor_;
                    } else {
                        SkipBlanks();
                        if (*cursor_ == ',') ++cursor_;
                    }
                    if (AtEnd()) {
                        NoteEnd();
                        break;
                    }
                    if (*cursor_ == '}') {
                        ++cursor_;
                        break;
                    }
                }
            }
        }
        --depth_;
    }

    // `out` must stay where it is until the value is read: never an entry
    // of the scratch lists of this depth or deeper, which may move.
    void ParseValue(JsonValue& out) {
        SkipBlanks();
        if (AtEnd()) return;
        switch (*cursor_) {
            case '"':
                out.type = JsonType::String;
                if (!ReadString(cursor_, out.string)) damage_.endedEarly = true;
                return;
            case '[':
                ParseArray(out);
                return;
            case '{':
                ParseObject(out);
                return;
            case 't':
                if (cursor_[1] == 'r' && cursor_[2] == 'u' && cursor_[3] == 'e') {
                    out.type = JsonType::Bool;
                    out.boolean = true;
                    cursor_ += 4;
                }
                return;
            case 'f':
                if (cursor_[1] == 'a' && cursor_[2] == 'l' && cursor_[3] == 's' && cursor_[4] == 'e') {
                    out.type = JsonType::Bool;
                    out.boolean = false;
                    cursor_ += 5;
                }
                return;
            case 'n':
                if (cursor_[1] == 'u' && cursor_[2] == 'l' && cursor_[3] == 'l') cursor_ += 4;
                return;
            default:
                if (*cursor_ == '-' || IsDigit(*cursor_)) {
                    out.type = JsonType::Number;
                    out.number = ParseJsonNumber(cursor_);
                }
                return;
        }
    }

private:
    void SkipBlanks() {
        while (IsBlank(*cursor_)) ++cursor_;
    }

    // The end of the text, where every open container closes. A bracket
    // that would open a container deeper than the bound ends the text too,
    // so hostile nesting cannot exhaust the stack.
    bool AtEnd() {
        if (stopped_) return true;
        const char c = *cursor_;
        if (c == '\0') return true;
        if ((c == '[' || c == '{') && depth_ >= kJsonMaxDepth) {
            stopped_ = true;
            damage_.tooDeep = true;
            return true;
        }
        return false;
    }

    // A container closed by the end of the text rather than its bracket.
    void NoteEnd() {
        if (!stopped_) damage_.endedEarly = true;
    }

    // Where an element or member should start, a character that starts
    // nothing would be read again forever; it is skipped instead.
    bool IsStray(const char* start, char close) {
        return cursor_ == start && !AtEnd() && *cursor_ != ',' && *cursor_ != close;
    }

    // Reads elements up to the closing bracket, each into a value appended
    // to `list()`, the scratch list of this depth; a stray character's value
    // is dropped again. The cursor is where an element should start.
    template <typename List>
    void ReadElements(List list) {
        do {
            SkipBlanks();
            const char* start = cursor_;
            ParseValue(list().emplace_back());
            if (IsStray(start, ']')) {
                list().pop_back();
                ++cursor_;
                continue;
            }
            SkipBlanks();
            if (*cursor_ == ',') ++cursor_;
        } while (!AtEnd() && *cursor_ != ']');
        if (AtEnd()) NoteEnd();
        else ++cursor_;
    }

    // Curves are long arrays of numbers only: their numbers are read first,
    // so the values are made once their count is known, in place and
    // without a move. The first element of another kind hands what was read
    // to the general loop.
    void ParseArray(JsonValue& out) {
        out.type = JsonType::Array;
        ++cursor_;
        ++depth_;
        SkipBlanks();
        if (AtEnd()) NoteEnd();
        if (!AtEnd()) {
            if (*cursor_ == ']') {
                ++cursor_;
            } else {
                numbers_.clear();
                bool onlyNumbers = true;
                do {
                    SkipBlanks();
                    if (*cursor_ != '-' && !IsDigit(*cursor_)) {
                        onlyNumbers = false;
                        break;
                    }
                    numbers_.push_back(ParseJsonNumber(cursor_));
                    SkipBlanks();
                    if (*cursor_ == ',') ++cursor_;
                } while (!AtEnd() && *cursor_ != ']');

                if (onlyNumbers) {
                    if (AtEnd()) NoteEnd();
                    else ++cursor_;
                    out.array.reserve(numbers_.size());
                    for (const double number : numbers_) AppendNumber(out.array, number);
                } else {
                    // The scratch list is found by depth each time: reading a
                    // nested container may add deeper lists and move this one.
                    const auto level = static_cast<std::size_t>(depth_);
                    if (elementLists_.size() <= level) elementLists_.resize(level + 1);
                    for (const double number : numbers_) AppendNumber(elementLists_[level], number);
                    ReadElements([&]() -> std::vector<JsonValue>& { return elementLists_[level]; });
                    std::vector<JsonValue>& read = elementLists_[level];
                    out.array.assign(std::make_move_iterator(read.begin()), std::make_move_iterator(read.end()));
                    read.clear();
                }
            }
        }
        --depth_;
    }

    static void AppendNumber(std::vector<JsonValue>& list, double number) {
        JsonValue& value = list.emplace_back();
        value.type = JsonType::Number;
        value.number = number;
    }

    void ParseObject(JsonValue& out) {
        out.type = JsonType::Object;
        ++cursor_;
        ++depth_;
        SkipBlanks();
        if (AtEnd()) NoteEnd();
        if (!AtEnd()) {
            if (*cursor_ == '}') {
                ++cursor_;
            } else {
                const auto level = static_cast<std::size_t>(depth_);
                if (memberLists_.size() <= level) memberLists_.resize(level + 1);
                for (;;) {
                    SkipBlanks();
                    const char* start = cursor_;
                    JsonMember& member = memberLists_[level].emplace_back();
                    if (!ReadString(cursor_, member.key)) damage_.endedEarly = true;
                    SkipBlanks();
                    if (*cursor_ == ':') ++cursor_;
                    if (depth_ == 1 && !deferred_.empty() && DeferMember(member)) {
                        // Read element by element and dropped; the tree keeps
                        // an empty array in its place.
                    } else {
                        ParseValue(member.value);
                    }
                    if (IsStray(start, '}')) {
                        memberLists_[level].pop_back();
                        ++cursor_;
                    } else {
                        SkipBlanks();
                        if (*cursor_ == ',') ++cursor_;
                    }
                    if (AtEnd()) {
                        NoteEnd();
                        break;
                    }
                    if (*cursor_ == '}') {
                        ++cursor_;
                        break;
                    }
                }
                std::vector<JsonMember>& read = memberLists_[level];
                out.members.assign(std::make_move_iterator(read.begin()), std::make_move_iterator(read.end()));
                read.clear();
            }
        }
        --depth_;
    }

    // A root member under a deferred key whose value is an array: its
    // elements are counted (the first such member) or dropped (later ones)
    // without being kept. False when the member is read as usual.
    bool DeferMember(JsonMember& member) {
        for (JsonDeferredArray& deferred : deferred_) {
            if (member.key != deferred.key) continue;
            const bool first = !deferred.found;
            deferred.found = true;
            SkipBlanks();
            if (AtEnd() || *cursor_ != '[') return false;
            member.value.type = JsonType::Array;
            if (first) deferred.start = cursor_;
            std::size_t count = 0;
            VisitRootMemberArray<true>([&](JsonValue&) { ++count; });
            depth_ = 1;
            if (first) deferred.count = count;
            return true;
        }
        return false;
    }

    const char* cursor_;
    int depth_ = 0;         // containers open around the cursor
    bool stopped_ = false;  // the depth bound was reached: read as the end of the text
    JsonDamage damage_;
    std::span<JsonDeferredArray> deferred_;
    std::string scratch_;  // strings passed over by SkipValue
    // Values read so far in the open containers, by depth; see the class comment.
    std::vector<std::vector<JsonValue>> elementLists_;
    std::vector<std::vector<JsonMember>> memberLists_;
    std::vector<double> numbers_;  // the open array's numbers, while it holds nothing else
};

}  // namespace

std::string ParseJsonString(const char*& cursor) {
    std::string out;
    ReadString(cursor, out);
    return out;
}

JsonValue ParseJsonValue(const char*& cursor) {
    LenientParser parser(cursor);
    JsonValue value;
    parser.ParseValue(value);
    cursor = parser.cursor();
    return value;
}

JsonValue ParseJson(const char* text) {
    const char* cursor = text;
    return ParseJsonValue(cursor);
}

namespace {

// A large document's tree takes hundreds of megabytes in many small blocks.
// By default the allocator hands freed memory back to the system and the
// next parse takes fresh pages, whose first touch costs seconds on a virtual
// machine (the host backs them lazily): the same parse then took anything
// from 0.4 to 1.5 s. From the first large document on, the allocator keeps
// freed memory for the next parse instead. Process-wide and set once; any
// thread may get here first.
constexpr std::size_t kLargeDocumentBytes = 4u << 20;

void KeepParserMemory(std::size_t textBytes) {
#if defined(__GLIBC__)
    if (textBytes < kLargeDocumentBytes) return;
    static std::once_flag once;
    std::call_once(once, [] {
        mallopt(M_MMAP_THRESHOLD, 32 << 20);  // containers come from the heap, not fresh mappings
        mallopt(M_TRIM_THRESHOLD, 1 << 30);   // and stay in it once freed
    });
#else
    (void)textBytes;
#endif
}

}  // namespace

JsonValue ParseJson(const std::string& text) {
    KeepParserMemory(text.size());
    return ParseJson(text.c_str());
}

namespace {

JsonValue ParseWholeText(const std::string& text, std::span<JsonDeferredArray> deferred, JsonDamage& damage) {
    KeepParserMemory(text.size());
    LenientParser parser(text.c_str());
    parser.Defer(deferred);
    JsonValue value;
    parser.ParseValue(value);
    damage = parser.damage();
    // The parser stops at the first zero byte; a text that goes on past it
    // (a file overwritten in part, or padded after a crash) lost the rest.
    damage.zeroByte = std::strlen(text.c_str()) != text.size();
    return value;
}

}  // namespace

JsonValue ParseJson(const std::string& text, JsonDamage& damage) { return ParseWholeText(text, {}, damage); }

JsonValue ParseJsonDeferring(const std::string& text, std::span<JsonDeferredArray> deferred, JsonDamage& damage) {
    for (JsonDeferredArray& array : deferred) {
        array.found = false;
        array.start = nullptr;
        array.count = 0;
    }
    return ParseWholeText(text, deferred, damage);
}

namespace detail {

void ForEachJsonElementImpl(const char* start, void (*visit)(void* context, JsonValue& element), void* context) {
    LenientParser parser(start);
    parser.VisitRootMemberArray([&](JsonValue& element) { visit(context, element); });
}

}  // namespace detail

// [SECTION] Writer

namespace {

void NewLine(JsonWriter& writer) {
    if (writer.needsComma) writer.stream.text.push_back(',');
    writer.stream.text.push_back('\n');
    writer.stream.text.append(static_cast<std::size_t>(writer.depth > 0 ? writer.depth : 0) * 2, ' ');
}

}  // namespace

JsonTextStream& JsonWriter::WriteKey(std::string_view name) {
    NewLine(*this);
    std::string& text = stream.text;
    text.push_back('"');
    text.append(name);  // keys are the program's own names: never escaped
    text.append("\": ");
    needsComma = false;
    return stream;
}

void JsonWriter::WriteBool(std::string_view name, bool value) {
    WriteKey(name) << (value ? "true" : "false");
    needsComma = true;
}

void JsonWriter::WriteFloat(std::string_view name, float value) {
    WriteKey(name);
    AppendJsonNumber(stream.text, value, 6);
    needsComma = true;
}

void JsonWriter::WriteInt(std::string_view name, std::int32_t value) {
    WriteKey(name);
    char buffer[16];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    stream.text.append(buffer, result.ptr);
    needsComma = true;
}

void JsonWriter::WriteString(std::string_view name, std::string_view value) {
    WriteKey(name);
    WriteJsonString(*this, value);
}

void JsonWriter::WriteCurve(std::string_view name, std::span<const float, 256> curve) {
    WriteKey(name);
    std::string& text = stream.text;
    text.push_back('[');
    for (std::size_t i = 0; i < curve.size(); ++i) {
        if (i > 0) text.push_back(',');
        AppendJsonNumber(text, curve[i], 4);
    }
    text.push_back(']');
    needsComma = true;
}

void JsonWriter::BeginObject() {
    NewLine(*this);
    stream.text.push_back('{');
    ++depth;
    needsComma = false;
}

void JsonWriter::BeginArray() {
    NewLine(*this);
    stream.text.push_back('[');
    ++depth;
    needsComma = false;
}

void JsonWriter::EndObject() {
    --depth;
    needsComma = false;
    NewLine(*this);
    stream.text.push_back('}');
    needsComma = true;
}

void JsonWriter::EndArray() {
    --depth;
    needsComma = false;
    NewLine(*this);
    stream.text.push_back(']');
    needsComma = true;
}

std::string& BeginJsonArrayItem(JsonWriter& writer) {
    NewLine(writer);
    return writer.stream.text;
}

void WriteJsonString(JsonWriter& writer, std::string_view value) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string& text = writer.stream.text;
    text.push_back('"');
    std::size_t run = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        text.append(value.substr(run, i - run));
        run = i + 1;
        switch (c) {
            case '"': text.append("\\\""); break;
            case '\\': text.append("\\\\"); break;
            case '\n': text.append("\\n"); break;
            case '\r': text.append("\\r"); break;
            case '\t': text.append("\\t"); break;
            default: {
                const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
                text.append(escape, sizeof escape);
                break;
            }
        }
    }
    text.append(value.substr(run));
    text.push_back('"');
    writer.needsComma = true;
}

}  // namespace korvel
