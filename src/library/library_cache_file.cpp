#include "library/library_cache_file.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>

#include "library/channel_layout.h"
#include "library/file_id.h"
#include "library/library.h"
#include "project/file_io.h"

// [SECTION] Escaping
// [SECTION] Number fields
// [SECTION] Writing
// [SECTION] Reading

namespace korvel {

// [SECTION] Escaping

namespace {

// Appends in place: the writer formats three text fields per record, and a
// string per field showed in the profile of a 100,000-file library.
void AppendEscapedField(std::string& out, std::string_view text) {
    while (!text.empty()) {
        const size_t special = text.find_first_of("\\\t\n\r");
        out.append(text.substr(0, special));
        if (special == std::string_view::npos) return;
        switch (text[special]) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            default: out += "\\r"; break;
        }
        text.remove_prefix(special + 1);
    }
}

}  // namespace

std::string EscapeLibraryField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendEscapedField(out, text);
    return out;
}

std::string UnescapeLibraryField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const char next = text[i + 1];
        switch (next) {
            case '\\': out += '\\'; break;
            case 't': out += '\t'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            default:
                out += c;
                out += next;
                break;
        }
        ++i;
    }
    return out;
}

// [SECTION] Number fields
//
// Numbers are the longest leading number of their field; what follows is
// ignored. from_chars keeps reading and writing independent of the locale.

namespace {

// The text after a leading '+', which from_chars does not take; "+-1" stays
// unreadable.
std::string_view SkipPlus(std::string_view text) {
    if (text.size() >= 2 && text[0] == '+' && text[1] != '-') return text.substr(1);
    return text;
}

// A leading decimal integer of type T; false when there is none or it does
// not fit.
template <typename T>
bool ParseLeadingInteger(std::string_view text, T& value) {
    text = SkipPlus(text);
    T parsed{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc()) return false;
    (void)end;
    value = parsed;
    return true;
}

template <typename T>
T IntegerOr(std::string_view text, T fallback) {
    T value = fallback;
    return ParseLeadingInteger(text, value) ? value : fallback;
}

float FloatOrZero(std::string_view text) {
    text = SkipPlus(text);
    float value = 0.0f;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    (void)end;
    return ec == std::errc() ? value : 0.0f;
}

uint64_t HexOrZero(std::string_view text) {
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    (void)end;
    return ec == std::errc() ? value : 0;
}

void AppendFloat(std::string& out, float value) {
    // The stream's default notation: general format, 6 significant digits.
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    if (ec == std::errc()) out.append(text, end);
}

template <typename T>
void AppendInteger(std::string& out, T value) {
    char text[24];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    if (ec == std::errc()) out.append(text, end);
}

}  // namespace

// [SECTION] Writing

namespace {

// The header lines; `fileCount` records follow them.
void AppendHeader(std::string& text, const Palette& palette, size_t fileCount) {
    text += "# Korvel SFX Library v";
    AppendInteger(text, kLibraryCacheVersion);
    text += "\n# folder: ";
    text += palette.folder;
    text += "\n# files: ";
    AppendInteger(text, fileCount);
    text += '\n';
    if (palette.scanned > 0) {
        text += "# scanned: ";
        AppendInteger(text, palette.scanned);
        text += '\n';
    }
    if (palette.savedPalette) text += "# savedPalette: 1\n";
    if (palette.paletteInterpret != 0) {
        text += "# paletteInterpret: ";
        AppendInteger(text, palette.paletteInterpret);
        text += '\n';
    }
    if (palette.mmDisableGrouping) text += "# mmDisableGrouping: 1\n";
    for (const std::string& name : palette.previousNames) {
        text += "# previousName: ";
        text += name;
        text += '\n';
    }
}

void AppendRecord(std::string& text, const LibraryFile& f) {
    const auto tab = [&text] { text += '\t'; };
    AppendEscapedField(text, f.path);
    tab();
    AppendEscapedField(text, f.name);
    tab();
    AppendFloat(text, f.duration);
    tab();
    AppendFloat(text, f.sampleRate);
    tab();
    AppendInteger(text, f.channels);
    tab();
    AppendInteger(text, f.bitsPerSample);
    for (const float band : f.bandEnergies) {
        tab();
        AppendFloat(text, band);
    }
    for (const float v : {f.brightness, f.hfRatio, f.spectralWeight, f.crestDb, f.peakPosition,
                          f.zeroCrossingRate, f.peakToRmsDb, f.rmsDb, f.temporalCentroid,
                          f.spectralFlux, f.pitchHz}) {
        tab();
        AppendFloat(text, v);
    }
    tab();
    AppendInteger(text, f.midiNote);
    for (const float v : {f.pitchCents, f.pitchConfidence, f.spectralFlatness, f.harmonicity,
                          f.attackPosition, f.attackTime}) {
        tab();
        AppendFloat(text, v);
    }
    tab();
    text += f.fileId;
    tab();
    char hex[24];
    std::snprintf(hex, sizeof hex, "%016" PRIx64, f.fingerprint);
    text += hex;
    tab();
    AppendInteger(text, f.size);
    tab();
    AppendInteger(text, f.mtime);
    tab();
    AppendInteger(text, f.mmGroup);
    tab();
    AppendInteger(text, f.layoutClass);
    tab();
    AppendInteger(text, f.interpretation);
    tab();
    AppendEscapedField(text, f.description);
    text += '\n';
}

}  // namespace

std::string FormatPaletteFile(const Palette& palette) {
    std::string text;
    text.reserve(256 + palette.files.size() * 320);
    AppendHeader(text, palette, palette.files.size());
    for (const LibraryFile& f : palette.files) AppendRecord(text, f);
    return text;
}

std::string FormatPaletteFile(const Palette& header, std::span<const LibraryFile* const> files) {
    std::string text;
    text.reserve(256 + files.size() * 320);
    AppendHeader(text, header, files.size());
    for (const LibraryFile* f : files) AppendRecord(text, *f);
    return text;
}

bool WritePaletteFile(const Palette& palette, const std::string& path) {
    // Composed whole first, so the file is replaced in a single step.
    return WriteFileAtomic(path, FormatPaletteFile(palette));
}

// [SECTION] Reading

namespace {

// One stored field: the first version that has it and how its text (empty
// when the line ends before it) is read.
struct FieldRule {
    int since;
    void (*read)(LibraryFile&, std::string_view);
};

template <float LibraryFile::*Member>
void ReadFloat(LibraryFile& f, std::string_view t) {
    f.*Member = FloatOrZero(t);
}

template <size_t Band>
void ReadBand(LibraryFile& f, std::string_view t) {
    f.bandEnergies[Band] = FloatOrZero(t);
}

// Fields 1 to 36; the description follows as the rest of the line.
constexpr FieldRule kFields[] = {
    {3, [](LibraryFile& f, std::string_view t) { f.path = UnescapeLibraryField(t); }},
    {3, [](LibraryFile& f, std::string_view t) { f.name = UnescapeLibraryField(t); }},
    {3, ReadFloat<&LibraryFile::duration>},
    {3, ReadFloat<&LibraryFile::sampleRate>},
    {3, [](LibraryFile& f, std::string_view t) { f.channels = IntegerOr<int32_t>(t, 0); }},
    {3, [](LibraryFile& f, std::string_view t) { f.bitsPerSample = IntegerOr<int32_t>(t, 0); }},
    {3, ReadBand<0>},
    {3, ReadBand<1>},
    {3, ReadBand<2>},
    {3, ReadBand<3>},
    {3, ReadBand<4>},
    {3, ReadFloat<&LibraryFile::brightness>},
    {3, ReadFloat<&LibraryFile::hfRatio>},
    {3, ReadFloat<&LibraryFile::spectralWeight>},
    {3, ReadFloat<&LibraryFile::crestDb>},
    {3, ReadFloat<&LibraryFile::peakPosition>},
    {3, ReadFloat<&LibraryFile::zeroCrossingRate>},
    {3, ReadFloat<&LibraryFile::peakToRmsDb>},
    {3, ReadFloat<&LibraryFile::rmsDb>},
    {3, ReadFloat<&LibraryFile::temporalCentroid>},
    {3, ReadFloat<&LibraryFile::spectralFlux>},
    {3, ReadFloat<&LibraryFile::pitchHz>},
    {3, [](LibraryFile& f, std::string_view t) { f.midiNote = IntegerOr<int32_t>(t, 0); }},
    {3, ReadFloat<&LibraryFile::pitchCents>},
    {3, ReadFloat<&LibraryFile::pitchConfidence>},
    {3, ReadFloat<&LibraryFile::spectralFlatness>},
    {3, ReadFloat<&LibraryFile::harmonicity>},
    {3, ReadFloat<&LibraryFile::attackPosition>},
    {3, ReadFloat<&LibraryFile::attackTime>},
    {4, [](LibraryFile& f, std::string_view t) { f.fileId = std::string(t); }},
    {4, [](LibraryFile& f, std::string_view t) { f.fingerprint = HexOrZero(t); }},
    {4, [](LibraryFile& f, std::string_view t) { f.size = IntegerOr<uint64_t>(t, 0); }},
    {5, [](LibraryFile& f, std::string_view t) { f.mtime = IntegerOr<int64_t>(t, 0); }},
    {6, [](LibraryFile& f, std::string_view t) { f.mmGroup = IntegerOr<uint64_t>(t, 0); }},
    {7, [](LibraryFile& f, std::string_view t) { f.layoutClass = IntegerOr<int32_t>(t, -1); }},
    {8, [](LibraryFile& f, std::string_view t) { f.interpretation = IntegerOr<int32_t>(t, 0); }},
};

// Reads a palette line by line; the version applies to the file lines after
// its own line.
class PaletteReader {
public:
    explicit PaletteReader(Palette& out) : out_(out) { out_.files.clear(); }

    void Line(std::string_view line) {
        // A file written with CR LF line ends reads as if written with LF.
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) return;
        if (line.front() == '#') {
            Header(line);
        } else {
            FileLine(line);
        }
    }

    bool Finish(const std::string& path) {
        const size_t slash = path.find_last_of('/');
        std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
        const size_t dot = fileName.find_last_of('.');
        out_.name = dot == std::string::npos ? fileName : fileName.substr(0, dot);
        GroupPaletteMultiMonoFiles(out_);
        return !out_.files.empty() || !out_.folder.empty();
    }

private:
    static bool After(std::string_view line, std::string_view prefix, std::string_view& rest) {
        if (line.size() < prefix.size() || line.substr(0, prefix.size()) != prefix) return false;
        rest = line.substr(prefix.size());
        return true;
    }

    void Header(std::string_view line) {
        std::string_view rest;
        if (After(line, "# Korvel SFX Library v", rest)) {
            ParseLeadingInteger(rest, version_);
        } else if (After(line, "# folder: ", rest)) {
            out_.folder = std::string(rest);
        } else if (After(line, "# scanned: ", rest)) {
            ParseLeadingInteger(rest, out_.scanned);
        } else if (After(line, "# savedPalette: ", rest)) {
            out_.savedPalette = true;
        } else if (After(line, "# paletteInterpret: ", rest)) {
            ParseLeadingInteger(rest, out_.paletteInterpret);
        } else if (After(line, "# mmDisableGrouping: ", rest)) {
            out_.mmDisableGrouping = true;
        } else if (After(line, "# previousName: ", rest)) {
            out_.previousNames.emplace_back(rest);
        }
    }

    void FileLine(std::string_view line) {
        LibraryFile file;
        bool ended = false;  // the line ran out: later fields read as missing
        for (const FieldRule& field : kFields) {
            if (version_ < field.since) break;
            std::string_view token;
            if (!ended) {
                const size_t tab = line.find('\t');
                if (tab == std::string_view::npos) {
                    token = line;
                    line = {};
                    ended = true;
                } else {
                    token = line.substr(0, tab);
                    line.remove_prefix(tab + 1);
                }
            }
            field.read(file, token);
        }
        if (!ended) file.description = UnescapeLibraryField(line);
        if (file.path.empty()) return;
        if (!file.fileId.empty()) {
            RegisterFileId({file.fileId, file.path, file.fingerprint, file.size});
        }
        out_.files.push_back(std::move(file));
    }

    Palette& out_;
    int version_ = 3;  // a file without a version line
};

}  // namespace

bool ReadPaletteText(std::string_view text, const std::string& path, Palette& out) {
    PaletteReader reader(out);
    // One record a line: a library of 100,000 files is read without regrowth.
    out.files.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')));
    while (!text.empty()) {
        const size_t end = text.find('\n');
        reader.Line(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return reader.Finish(path);
}

bool ReadPaletteFile(const std::string& path, Palette& out) {
    // A folder opens as a stream on this platform but is no cache file.
    std::error_code ec;
    if (path.empty() || std::filesystem::is_directory(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) return false;
    // Read whole: a rescan reads this file first, and line-by-line reading
    // cost more than the parse.
    std::string text;
    in.seekg(0, std::ios::end);
    if (const std::streamoff size = in.tellg(); size > 0) text.resize(static_cast<size_t>(size));
    in.seekg(0, std::ios::beg);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return ReadPaletteText(text, path, out);
}

}  // namespace korvel
