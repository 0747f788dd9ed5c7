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
#include <filesystem>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

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
constexpr std::size_t kMinRowFields = 5;
// A marker further than a day from the session start is a damaged number,
// not a place on any picture.
constexpr double kLatestMarkerSeconds = 24.0 * 3600.0;

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

bool AllDigits(std::string_view field) {
    return !field.empty() && std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A sample count: the whole field must be digits ("58|4" is a Ticks
// position, not sample 58). Counts past the integer's range clamp.
bool ReadSampleCount(std::string_view field, std::uint64_t& samples) {
    if (!AllDigits(field)) return false;
    samples = 0;
    for (const char c : field) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        samples = samples > (std::numeric_limits<std::uint64_t>::max() - digit) / 10
                      ? std::numeric_limits<std::uint64_t>::max()
                      : samples * 10 + digit;
    }
    return true;
}

// Unsigned numbers separated by ':' or ';', the last one optionally with a
// ".fraction" (subframes of a timecode, milliseconds of Min:Secs). Returns
// how many were read; 0 when the text is anything else ("29|1", "84+03",
// "-5:00:00:00").
int ReadLocationNumbers(std::string_view text, double* values, int maxCount, bool& semicolon) {
    semicolon = false;
    int count = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        if (count == maxCount) return 0;
        const std::size_t start = at;
        while (at < text.size() && ((text[at] >= '0' && text[at] <= '9') || text[at] == '.')) ++at;
        const std::string_view number = text.substr(start, at - start);
        if (number.empty() || number.front() == '.' || (number.find('.') != std::string_view::npos && at < text.size()))
            return 0;  // a fraction only on the last number
        double value = 0.0;
        const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (error != std::errc() || end != number.data() + number.size()) return 0;
        values[count++] = value;
        if (at == text.size()) break;
        if (text[at] != ':' && text[at] != ';') return 0;
        semicolon = semicolon || text[at] == ';';
        if (++at == text.size()) return 0;
    }
    return count;
}

// Frames of a timecode label counted from 00:00:00:00. Drop-frame labels
// skip the frame numbers 0 and 1 (0..3 at 60) of every minute but each
// tenth, so their count stays with the clock at 1000/1001 of the nominal rate.
double LabelFrames(const double* label, double nominal, bool dropFrame) {
    const double minutes = std::floor(label[0]) * 60.0 + std::floor(label[1]);
    double frames = (minutes * 60.0 + std::floor(label[2])) * nominal + label[3];
    if (dropFrame) frames -= nominal / 15.0 * (minutes - std::floor(minutes / 10.0));
    return frames;
}

struct SessionClock {
    std::int64_t sampleRate = static_cast<std::int64_t>(kDefaultSampleRate);
    float frameRate = 0.0f;
    double start[4] = {0.0, 0.0, 0.0, 0.0};  // "SESSION START TIMECODE:" label
    bool startDropFrame = false;
};

// A location in timecode, measured from the session start at the file's
// rate; a label before the start lies past midnight.
double TimecodeTime(const double* label, bool dropFrame, const SessionClock& clock) {
    double rate = ProjectFrameRate(clock.frameRate);
    double nominal = std::max(1.0, std::round(rate));
    if (dropFrame) {
        nominal = rate > 40.0 ? 60.0 : 30.0;
        rate = nominal * 1000.0 / 1001.0;
    }
    double frames = LabelFrames(label, nominal, dropFrame) - LabelFrames(clock.start, nominal, clock.startDropFrame);
    if (frames < 0.0) {
        const double midnight[4] = {24.0, 0.0, 0.0, 0.0};
        frames += LabelFrames(midnight, nominal, dropFrame);
    }
    return frames / rate;
}

// The row's time from the session start: the sample column when it holds a
// count, else the location in whichever ruler the export was made with.
// False when neither gives one (Bars|Beats and Feet+Frames depend on the
// tempo map or the film gauge, which the text does not carry).
bool RowTime(const std::vector<std::string>& fields, const SessionClock& clock, double& time) {
    const auto rate = static_cast<double>(clock.sampleRate);
    std::uint64_t samples = 0;
    if (clock.sampleRate > 0 && (ReadSampleCount(fields[2], samples) || ReadSampleCount(fields[1], samples))) {
        time = static_cast<double>(samples) / rate;
    } else {
        double values[4] = {0.0, 0.0, 0.0, 0.0};
        bool semicolon = false;
        const int count = ReadLocationNumbers(fields[1], values, 4, semicolon);
        if (count == 2 && !semicolon) {
            time = values[0] * 60.0 + values[1];  // Min:Secs
        } else if (count >= 3) {
            // H:M:S:F, the frames with their subframes (hundredths of a
            // frame) as a fraction.
            if (count == 3) values[3] = 0.0;
            time = TimecodeTime(values, semicolon, clock);
        } else {
            return false;
        }
    }
    return std::isfinite(time) && time >= 0.0 && time <= kLatestMarkerSeconds;
}

// Pro Tools texts are UTF-8 or, in the "TextEdit" export, Mac Roman.
std::string AsUtf8(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    if (IsValidUtf8(bytes)) return std::string(bytes);
    return MacRomanToUtf8(bytes);
}

void AppendText(std::string& text, std::string_view more) {
    if (more.empty()) return;
    AppendWord(text, more);
}

// The columns the listing's header names. Older exports have no track
// columns, so the comment sits right after the name.
struct ListingColumns {
    std::size_t name = kDefaultNameColumn;
    std::size_t comment = kDefaultCommentColumn;
    std::size_t count = 0;  // titles in the header
};

// A row is written over several lines when its name or comment holds a line
// break: a line that does not start with the marker's number continues the
// row before it, either right after its last field or, padded with empty
// fields, in the column that went on.
void ContinueRow(std::vector<std::string>& row, const std::vector<std::string>& line, const ListingColumns& columns) {
    bool padded = line.size() > columns.name;
    for (std::size_t i = 0; padded && i < columns.name; ++i) padded = line[i].empty();
    if (padded) {
        for (std::size_t i = columns.name; i < line.size(); ++i) {
            if (line[i].empty()) continue;
            if (row.size() <= i) row.resize(i + 1);
            AppendText(row[i], line[i]);
        }
        return;
    }
    AppendText(row.back(), line.front());
    row.insert(row.end(), line.begin() + 1, line.end());
}

struct MarkerRows {
    std::vector<MarkerEvent>& markers;
    std::vector<MarkerScene>* scenes;
    const std::vector<std::string>& recipeNames;
    MarkerReadReport& report;
};

void AddRow(const std::vector<std::string>& fields, const ListingColumns& columns, const SessionClock& clock,
            MarkerRows& out) {
    if (fields.size() < kMinRowFields || columns.name >= fields.size()) return;
    const std::string& name = fields[columns.name];
    if (name.empty()) return;
    double seconds = 0.0;
    if (!RowTime(fields, clock, seconds)) {
        ++out.report.skippedRows;
        return;
    }
    const auto time = static_cast<float>(seconds);
    std::string comment = columns.comment < fields.size() ? fields[columns.comment] : std::string();
    // A tab inside the name or the comment leaves more fields than the
    // header has titles, and which of them belong to the name is lost: the
    // extra text is kept with the comment and the row counted.
    if (columns.count > 0 && fields.size() > columns.count) {
        ++out.report.damagedRows;
        for (std::size_t i = std::max(columns.count, columns.comment + 1); i < fields.size(); ++i) {
            AppendText(comment, fields[i]);
        }
    }

    const std::vector<std::string> parts = SplitFields(name, ',');
    if (out.scenes != nullptr && LowerCaseString(parts[0]) == "scene") {
        MarkerScene scene;
        scene.time = time;
        if (parts.size() > 1) CopyText(scene.name, parts[1]);
        std::string sceneText;
        for (std::size_t i = 2; i < parts.size(); ++i) AppendWord(sceneText, parts[i]);
        if (!comment.empty()) AppendWord(sceneText, comment);
        CopyText(scene.text, sceneText);
        out.scenes->push_back(scene);
        return;
    }

    MarkerEvent marker;
    ParseMarkerText(name, out.recipeNames, marker);
    marker.time = time;
    marker.enabled = true;
    CopyText(marker.name, name);
    if (!comment.empty()) {
        std::string keywords(TextOf(marker.keywords));
        AppendWord(keywords, comment);
        CopyText(marker.keywords, keywords);
    }
    out.markers.push_back(marker);
}

}  // namespace

void ReadProToolsMarkerText(std::string_view bytes, float fps, std::vector<MarkerEvent>& markers,
                            std::vector<MarkerScene>* scenes, const std::vector<std::string>& recipeNames,
                            MarkerReadReport* report) {
    markers.clear();
    if (scenes != nullptr) scenes->clear();
    MarkerReadReport ownReport;
    MarkerReadReport& counts = report != nullptr ? *report : ownReport;
    counts = MarkerReadReport{};
    counts.read = true;
    MarkerRows out{markers, scenes, recipeNames, counts};
    const std::string text = AsUtf8(bytes);

    SessionClock clock;
    clock.frameRate = fps;
    bool inSection = false;
    bool headerSeen = false;
    ListingColumns columns;
    std::vector<std::string> row;  // the row being read; empty when none

    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = text.size();
        const std::string_view line = std::string_view(text).substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;

        if (Contains(line, "SESSION NAME:") || Contains(line, "SAMPLE RATE:")) counts.sessionText = true;
        if (Contains(line, "SAMPLE RATE:")) {
            const double value = NumberAfterColon(line);
            if (value > 0.0) clock.sampleRate = static_cast<std::int64_t>(std::min(value, 1.0e9));
        }
        if (Contains(line, "TIMECODE FORMAT:")) {
            const double value = NumberAfterColon(line);
            if (value > 0.0) clock.frameRate = static_cast<float>(std::min(value, 1.0e6));
        }
        if (Contains(line, "SESSION START TIMECODE:")) {
            double label[4] = {0.0, 0.0, 0.0, 0.0};
            bool semicolon = false;
            const std::string value = TrimWhitespace(line.substr(line.find(':') + 1));
            if (ReadLocationNumbers(value, label, 4, semicolon) >= 3) {
                std::copy(label, label + 4, clock.start);
                clock.startDropFrame = semicolon;
            }
        }
        if (Contains(line, "M A R K E R S  L I S T I N G") || Contains(line, "MARKERS LISTING")) {
            counts.sessionText = true;
            if (!row.empty()) AddRow(std::exchange(row, {}), columns, clock, out);
            inSection = true;
            headerSeen = false;
            continue;
        }
        if (!inSection || TrimWhitespace(line).empty()) continue;
        if (Contains(line, "T R A C K") || Contains(line, "P L U G-I N S") || Contains(line, "O N L I N E")) break;

        if (!headerSeen) {
            if (Contains(line, "#") && Contains(line, "LOCATION")) {
                headerSeen = true;
                columns = ListingColumns{};
                const std::vector<std::string> titles = SplitFields(line, '\t');
                columns.count = titles.size();
                for (std::size_t i = 0; i < titles.size(); ++i) {
                    if (titles[i] == "NAME") columns.name = i;
                    if (titles[i] == "COMMENTS") columns.comment = i;
                }
            }
            continue;
        }

        std::vector<std::string> fields = SplitFields(line, '\t');
        if (AllDigits(fields.front())) {
            if (!row.empty()) AddRow(row, columns, clock, out);
            row = std::move(fields);
        } else if (!row.empty()) {
            ContinueRow(row, fields, columns);
        }
    }
    if (!row.empty()) AddRow(row, columns, clock, out);
}

void ImportProToolsMarkers(const std::string& path, float fps, std::vector<MarkerEvent>& markers,
                           std::vector<MarkerScene>* scenes, const std::vector<std::string>& recipeNames,
                           MarkerReadReport* report) {
    markers.clear();
    if (scenes != nullptr) scenes->clear();
    if (report != nullptr) *report = MarkerReadReport{};
    // A session text is megabytes at most: a larger file is refused before
    // it is read, and running out of memory is caught here.
    std::string bytes;
    std::uint64_t size = 0;
    if (!ReportLimitedRead(ReadFileWithin(path, kSessionTextLimit, bytes, &size), "Markers", path, size,
                           kSessionTextLimit))
        return;
    try {
        ReadProToolsMarkerText(bytes, fps, markers, scenes, recipeNames, report);
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

std::string MarkerImportStatus(const MarkerReadReport& report, std::size_t imported, const std::string& path) {
    const std::string file = std::filesystem::path(path).filename().string();
    if (!report.read) return "Marker file unreadable: " + file;
    if (!report.sessionText) return "Error: not a Pro Tools session text: " + file;
    if (report.skippedRows == 0 && report.damagedRows == 0) return std::string();
    std::string text = "Imported " + std::to_string(imported) + (imported == 1 ? " marker" : " markers");
    if (report.skippedRows > 0) {
        text += "; " + std::to_string(report.skippedRows) +
                (report.skippedRows == 1 ? " row" : " rows") + " skipped (no usable time)";
    }
    if (report.damagedRows > 0) {
        text += "; " + std::to_string(report.damagedRows) +
                (report.damagedRows == 1 ? " row" : " rows") + " split by tabs (check names and comments)";
    }
    return text;
}

}  // namespace korvel
