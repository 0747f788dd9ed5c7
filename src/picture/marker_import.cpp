// Reading the marker listing of a Pro Tools session text export.
//
// [SECTION] Text helpers and encodings
// [SECTION] Marker names
// [SECTION] The session text
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>
#include <stdexcept>

#include "picture/markers.h"
#include "picture/timecode.h"
#include "project/file_io.h"
#include "project/fixed_text.h"

namespace korvel {

// [SECTION] Text helpers and encodings

std::string LowerCaseString(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

namespace {

bool IsTrimmed(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string TrimWhitespace(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsTrimmed(text[begin])) ++begin;
    while (end > begin && IsTrimmed(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

bool IsValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        std::uint32_t code = 0;
        std::uint32_t minimum = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2, code = lead & 0x1Fu, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, code = lead & 0x0Fu, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, code = lead & 0x07u, minimum = 0x10000;
        } else {
            return false;
        }
        if (bytes.size() - i < static_cast<std::size_t>(length)) return false;
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

namespace {

// Mac Roman 0x80..0xFF, each as its UTF-8 bytes (0xDB is the euro sign, as
// in every Mac OS since 8.5).
constexpr std::array<const char*, 128> kMacRomanUtf8 = {
    "\xC3\x84", "\xC3\x85", "\xC3\x87", "\xC3\x89", "\xC3\x91", "\xC3\x96", "\xC3\x9C", "\xC3\xA1",
    "\xC3\xA0", "\xC3\xA2", "\xC3\xA4", "\xC3\xA3", "\xC3\xA5", "\xC3\xA7", "\xC3\xA9", "\xC3\xA8",
    "\xC3\xAA", "\xC3\xAB", "\xC3\xAD", "\xC3\xAC", "\xC3\xAE", "\xC3\xAF", "\xC3\xB1", "\xC3\xB3",
    "\xC3\xB2", "\xC3\xB4", "\xC3\xB6", "\xC3\xB5", "\xC3\xBA", "\xC3\xB9", "\xC3\xBB", "\xC3\xBC",
    "\xE2\x80\xA0", "\xC2\xB0", "\xC2\xA2", "\xC2\xA3", "\xC2\xA7", "\xE2\x80\xA2", "\xC2\xB6", "\xC3\x9F",
    "\xC2\xAE", "\xC2\xA9", "\xE2\x84\xA2", "\xC2\xB4", "\xC2\xA8", "\xE2\x89\xA0", "\xC3\x86", "\xC3\x98",
    "\xE2\x88\x9E", "\xC2\xB1", "\xE2\x89\xA4", "\xE2\x89\xA5", "\xC2\xA5", "\xC2\xB5", "\xE2\x88\x82", "\xE2\x88\x91",
    "\xE2\x88\x8F", "\xCF\x80", "\xE2\x88\xAB", "\xC2\xAA", "\xC2\xBA", "\xCE\xA9", "\xC3\xA6", "\xC3\xB8",
    "\xC2\xBF", "\xC2\xA1", "\xC2\xAC", "\xE2\x88\x9A", "\xC6\x92", "\xE2\x89\x88", "\xE2\x88\x86", "\xC2\xAB",
    "\xC2\xBB", "\xE2\x80\xA6", "\xC2\xA0", "\xC3\x80", "\xC3\x83", "\xC3\x95", "\xC5\x92", "\xC5\x93",
    "\xE2\x80\x93", "\xE2\x80\x94", "\xE2\x80\x9C", "\xE2\x80\x9D", "\xE2\x80\x98", "\xE2\x80\x99", "\xC3\xB7", "\xE2\x97\x8A",
    "\xC3\xBF", "\xC5\xB8", "\xE2\x81\x84", "\xE2\x82\xAC", "\xE2\x80\xB9", "\xE2\x80\xBA", "\xEF\xAC\x81", "\xEF\xAC\x82",
    "\xE2\x80\xA1", "\xC2\xB7", "\xE2\x80\x9A", "\xE2\x80\x9E", "\xE2\x80\xB0", "\xC3\x82", "\xC3\x8A", "\xC3\x81",
    "\xC3\x8B", "\xC3\x88", "\xC3\x8D", "\xC3\x8E", "\xC3\x8F", "\xC3\x8C", "\xC3\x93", "\xC3\x94",
    "\xEF\xA3\xBF", "\xC3\x92", "\xC3\x9A", "\xC3\x9B", "\xC3\x99", "\xC4\xB1", "\xCB\x86", "\xCB\x9C",
    "\xC2\xAF", "\xCB\x98", "\xCB\x99", "\xCB\x9A", "\xC2\xB8", "\xCB\x9D", "\xCB\x9B", "\xCB\x87",
};

}  // namespace

std::string MacRomanToUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 4);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text.push_back(c);
        } else {
            text += kMacRomanUtf8[byte - 0x80];
        }
    }
    return text;
}

namespace {

// Words of a name or a row, split at any of `separators`, empty ones dropped.
std::vector<std::string_view> SplitWords(std::string_view text, std::string_view separators) {
    std::vector<std::string_view> words;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || separators.find(text[i]) != std::string_view::npos) {
            if (i > start) words.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return words;
}

// Every field between `separator`s, trimmed, empty ones kept.
std::vector<std::string> SplitFields(std::string_view text, char separator) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        fields.push_back(TrimWhitespace(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start)));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return fields;
}

// [SECTION] Marker names

struct BandWord {
    std::string_view word;
    float weightCenter;
};
constexpr std::array<BandWord, 5> kBandWords = {{
    {"sub", 0.1f}, {"low", 0.3f}, {"mid", 0.5f}, {"high", 0.7f}, {"air", 0.9f},
}};
constexpr std::array<std::string_view, 2> kMarkerKindWords = {"spot", "bloom"};
constexpr std::array<std::string_view, 5> kOtherKindWords = {"contour", "fill", "scatter", "clip", "bed"};

const BandWord* FindBandWord(std::string_view lower) {
    for (const BandWord& band : kBandWords) {
        if (band.word == lower) return &band;
    }
    return nullptr;
}

void AppendWord(std::string& joined, std::string_view word) {
    if (!joined.empty()) joined.push_back(' ');
    joined.append(word);
}

}  // namespace

void ParseMarkerText(std::string_view text, const std::vector<std::string>& recipeNames, MarkerEvent& marker) {
    marker.kind = KindValue(EventKind::Spot);
    marker.weightCenter = 0.3f;
    marker.keywords[0] = '\0';
    marker.recipeName[0] = '\0';
    marker.otherKindWord = false;
    const std::string s = TrimWhitespace(text);
    if (s.empty()) return;

    std::string head = s;
    std::string rest;
    if (const std::size_t comma = s.find(','); comma != std::string::npos) {
        head = TrimWhitespace(std::string_view(s).substr(0, comma));
        rest = TrimWhitespace(std::string_view(s).substr(comma + 1));
    }

    std::string keywords;
    const std::string lowerHead = LowerCaseString(head);
    for (const std::string& recipe : recipeNames) {
        if (LowerCaseString(recipe) != lowerHead) continue;
        CopyText(marker.recipeName, recipe);
        bool bandTaken = false;
        for (const std::string_view word : SplitWords(rest, " \t")) {
            const BandWord* band = bandTaken ? nullptr : FindBandWord(LowerCaseString(word));
            if (band != nullptr) {
                marker.weightCenter = band->weightCenter;
                bandTaken = true;
            } else {
                AppendWord(keywords, word);
            }
        }
        CopyText(marker.keywords, keywords);
        return;
    }

    bool kindTaken = false;
    bool bandTaken = false;
    for (const std::string_view word : SplitWords(s, " \t,")) {
        const std::string lower = LowerCaseString(word);
        if (!kindTaken) {
            if (const auto it = std::find(kMarkerKindWords.begin(), kMarkerKindWords.end(), lower);
                it != kMarkerKindWords.end()) {
                marker.kind = KindValue(it == kMarkerKindWords.begin() ? EventKind::Spot : EventKind::Bloom);
                kindTaken = true;
                continue;
            }
            if (std::find(kOtherKindWords.begin(), kOtherKindWords.end(), lower) != kOtherKindWords.end()) {
                marker.otherKindWord = true;
                kindTaken = true;
                continue;
            }
        }
        if (!bandTaken) {
            if (const BandWord* band = FindBandWord(lower)) {
                marker.weightCenter = band->weightCenter;
                bandTaken = true;
                continue;
            }
        }
        AppendWord(keywords, word);
    }
    CopyText(marker.keywords, keywords);
}

// [SECTION] The session text

namespace {

constexpr float kDefaultSampleRate = 48000.0f;
constexpr std::size_t kDefaultNameColumn = 4;
constexpr std::size_t kDefaultCommentColumn = 7;

bool Contains(std::string_view line, std::string_view what) { return line.find(what) != std::string_view::npos; }

// The number at the start of the text after the line's first ':', as "%f"
// reads it; 0 when there is none.
double NumberAfterColon(std::string_view line) {
    const std::string text = TrimWhitespace(line.substr(line.find(':') + 1));
    double value = 0.0;
    const char* begin = text.data();
    if (!text.empty() && text[0] == '+') ++begin;
    const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
    if (error != std::errc() || end == begin || !std::isfinite(value)) return 0.0;
    return value;
}

// A sample count: the whole field must be digits ("58|4" is a Ticks
// position, not sample 58). Counts past the integer's range clamp.
bool ReadSampleCount(std::string_view field, std::uint64_t& samples) {
    if (field.empty()) return false;
    samples = 0;
    for (const char c : field) {
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        samples = samples > (std::numeric_limits<std::uint64_t>::max() - digit) / 10
                      ? std::numeric_limits<std::uint64_t>::max()
                      : samples * 10 + digit;
    }
    return true;
}

float RowTime(const std::vector<std::string>& fields, std::int64_t sampleRate, float fps) {
    std::uint64_t samples = 0;
    if (sampleRate > 0 && ReadSampleCount(fields[2], samples)) {
        return static_cast<float>(static_cast<double>(samples) / static_cast<double>(sampleRate));
    }
    long long values[4] = {0, 0, 0, 0};
    if (ReadColonIntegers(fields[1], values, 4) < 3) return 0.0f;
    const double rate = ProjectFrameRate(fps);
    const double time = static_cast<double>(values[0]) * 3600.0 + static_cast<double>(values[1]) * 60.0 +
                        static_cast<double>(values[2]) + static_cast<double>(values[3]) / rate;
    return static_cast<float>(std::max(0.0, time));  // a malformed location reads as 0 s
}

// Pro Tools texts are UTF-8 or, in the "TextEdit" export, Mac Roman.
std::string AsUtf8(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    if (IsValidUtf8(bytes)) return std::string(bytes);
    return MacRomanToUtf8(bytes);
}

}  // namespace

void ReadProToolsMarkerText(std::string_view bytes, float fps, std::vector<MarkerEvent>& markers,
                            std::vector<MarkerScene>* scenes, const std::vector<std::string>& recipeNames) {
    markers.clear();
    if (scenes != nullptr) scenes->clear();
    const std::string text = AsUtf8(bytes);

    std::int64_t sampleRate = static_cast<std::int64_t>(kDefaultSampleRate);
    float frameRate = fps;
    bool inSection = false;
    bool headerSeen = false;
    std::size_t nameColumn = kDefaultNameColumn;
    std::size_t commentColumn = kDefaultCommentColumn;

    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = text.size();
        const std::string_view line = std::string_view(text).substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;

        if (Contains(line, "SAMPLE RATE:")) {
            const double value = NumberAfterColon(line);
            if (value > 0.0) sampleRate = static_cast<std::int64_t>(std::min(value, 1.0e9));
        }
        if (Contains(line, "TIMECODE FORMAT:")) {
            const double value = NumberAfterColon(line);
            if (value > 0.0) frameRate = static_cast<float>(std::min(value, 1.0e6));
        }
        if (Contains(line, "M A R K E R S  L I S T I N G") || Contains(line, "MARKERS LISTING")) {
            inSection = true;
            headerSeen = false;
            continue;
        }
        if (!inSection || line.empty()) continue;
        if (Contains(line, "T R A C K") || Contains(line, "P L U G-I N S") || Contains(line, "O N L I N E")) break;

        if (!headerSeen) {
            if (Contains(line, "#") && Contains(line, "LOCATION")) {
                headerSeen = true;
                // Older exports have no track columns, so the comment sits
                // right after the name: take the columns the header names.
                nameColumn = kDefaultNameColumn;
                commentColumn = kDefaultCommentColumn;
                const std::vector<std::string> titles = SplitFields(line, '\t');
                for (std::size_t i = 0; i < titles.size(); ++i) {
                    if (titles[i] == "NAME") nameColumn = i;
                    if (titles[i] == "COMMENTS") commentColumn = i;
                }
            }
            continue;
        }

        const std::vector<std::string> fields = SplitFields(line, '\t');
        if (fields.size() < 5 || nameColumn >= fields.size()) continue;
        const std::string& name = fields[nameColumn];
        if (name.empty()) continue;
        const std::string comment = commentColumn < fields.size() ? fields[commentColumn] : std::string();
        const float time = RowTime(fields, sampleRate, frameRate);

        const std::vector<std::string> parts = SplitFields(name, ',');
        if (scenes != nullptr && LowerCaseString(parts[0]) == "scene") {
            MarkerScene scene;
            scene.time = time;
            if (parts.size() > 1) CopyText(scene.name, parts[1]);
            std::string sceneText;
            for (std::size_t i = 2; i < parts.size(); ++i) AppendWord(sceneText, parts[i]);
            if (!comment.empty()) AppendWord(sceneText, comment);
            CopyText(scene.text, sceneText);
            scenes->push_back(scene);
            continue;
        }

        MarkerEvent marker;
        ParseMarkerText(name, recipeNames, marker);
        marker.time = time;
        marker.enabled = true;
        CopyText(marker.name, name);
        if (!comment.empty()) {
            std::string keywords(TextOf(marker.keywords));
            AppendWord(keywords, comment);
            CopyText(marker.keywords, keywords);
        }
        markers.push_back(marker);
    }
}

void ImportProToolsMarkers(const std::string& path, float fps, std::vector<MarkerEvent>& markers,
                           std::vector<MarkerScene>* scenes, const std::vector<std::string>& recipeNames) {
    markers.clear();
    if (scenes != nullptr) scenes->clear();
    // A session text is megabytes at most: a larger file is refused before
    // it is read, and running out of memory is caught here.
    std::string bytes;
    std::uint64_t size = 0;
    if (!ReportLimitedRead(ReadFileWithin(path, kSessionTextLimit, bytes, &size), "Markers", path, size,
                           kSessionTextLimit))
        return;
    try {
        ReadProToolsMarkerText(bytes, fps, markers, scenes, recipeNames);
    } catch (const std::bad_alloc&) {
        markers.clear();
        if (scenes != nullptr) scenes->clear();
        ReportLimitedRead(LimitedRead::OutOfMemory, "Markers", path, size, kSessionTextLimit);
    } catch (const std::length_error&) {
        markers.clear();
        if (scenes != nullptr) scenes->clear();
        ReportLimitedRead(LimitedRead::OutOfMemory, "Markers", path, size, kSessionTextLimit);
    }
}

}  // namespace korvel
