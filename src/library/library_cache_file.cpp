#include "library/library_cache_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "library/channel_layout.h"
#include "library/file_id.h"
#include "library/library.h"
#include "project/file_io.h"

// [SECTION] Escaping
// [SECTION] Number fields
// [SECTION] Large palettes in parts
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

// [SECTION] Large palettes in parts
//
// A library of 100,000 files formats and parses in a few hundred
// milliseconds on one thread, which an unchanged rescan of it would
// otherwise spend waiting. Its records are independent, so parts of them
// are handled on several threads and the results joined in order: the
// bytes and records are the same as from one thread.

namespace {

constexpr size_t kRecordsPerPart = 8192;
constexpr size_t kMaxParts = 6;

size_t PartCount(size_t records) {
    const size_t hardware = std::max(1u, std::thread::hardware_concurrency());
    return std::clamp<size_t>(records / kRecordsPerPart, 1, std::min(kMaxParts, hardware));
}

// Runs work(0) ... work(parts - 1), part 0 on the calling thread; a part
// whose thread cannot be started runs here too.
template <typename Work>
void RunParts(size_t parts, Work&& work) {
    std::vector<std::thread> threads;
    threads.reserve(parts);
    for (size_t p = 1; p < parts; ++p) {
        try {
            threads.emplace_back(work, p);
        } catch (const std::system_error&) {
            work(p);
        }
    }
    work(0);
    for (std::thread& t : threads) t.join();
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

namespace {

constexpr size_t kRecordBytesGuess = 320;

// The header and `count` records, record(i) giving the i-th, as texts to be
// joined in order; the first holds the header.
template <typename Record>
std::vector<std::string> FormatParts(const Palette& header, size_t count, Record record) {
    const size_t parts = PartCount(count);
    std::vector<std::string> texts(parts);
    // Reserved here rather than on the part's thread, whose own allocator
    // arena would keep the pages once the thread ends.
    for (size_t p = 0; p < parts; ++p)
        texts[p].reserve((p == 0 ? 256 : 0) + (count * (p + 1) / parts - count * p / parts) * kRecordBytesGuess);
    const auto part = [&](size_t p) {
        std::string& out = texts[p];
        if (p == 0) AppendHeader(out, header, count);
        for (size_t i = count * p / parts; i < count * (p + 1) / parts; ++i) AppendRecord(out, record(i));
    };
    RunParts(parts, part);
    return texts;
}

std::string Joined(std::vector<std::string> texts) {
    size_t total = 0;
    for (const std::string& t : texts) total += t.size();
    std::string text = std::move(texts[0]);
    text.reserve(total);
    for (size_t p = 1; p < texts.size(); ++p) text += texts[p];
    return text;
}

// The parts are written one after the other rather than joined first: a
// scan's checkpoints write its cache file hundreds of times.
bool WriteParts(const std::string& path, const std::vector<std::string>& texts) {
    TempFile temp = CreateTempFileBeside(path);
    if (temp.fd < 0) return false;
    for (const std::string& text : texts) {
        if (!WriteAllBytes(temp.fd, text)) {
            DiscardTempFile(temp);
            return false;
        }
    }
    std::error_code ignored;
    return FinishTempFile(temp, path, ignored);
}

auto RecordsOf(const Palette& palette) {
    return [&palette](size_t i) -> const LibraryFile& { return palette.files[i]; };
}

auto RecordsOf(std::span<const LibraryFile* const> files) {
    return [files](size_t i) -> const LibraryFile& { return *files[i]; };
}

}  // namespace

std::string FormatPaletteFile(const Palette& palette) {
    return Joined(FormatParts(palette, palette.files.size(), RecordsOf(palette)));
}

std::string FormatPaletteFile(const Palette& header, std::span<const LibraryFile* const> files) {
    return Joined(FormatParts(header, files.size(), RecordsOf(files)));
}

bool WritePaletteFile(const Palette& palette, const std::string& path) {
    // Composed whole before the file is replaced, in a single step.
    return WriteParts(path, FormatParts(palette, palette.files.size(), RecordsOf(palette)));
}

bool WritePaletteFile(const Palette& header, std::span<const LibraryFile* const> files, const std::string& path) {
    return WriteParts(path, FormatParts(header, files.size(), RecordsOf(files)));
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

    // A file written with CR LF line ends reads as if written with LF.
    static std::string_view Trimmed(std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return line;
    }

    void Line(std::string_view line) {
        line = Trimmed(line);
        if (line.empty()) return;
        if (line.front() == '#') {
            Header(line);
        } else {
            LibraryFile file;
            if (ParseFileLine(line, version_, file)) Add(std::move(file));
        }
    }

    // Adds a record parsed elsewhere; records are added in file order, so
    // identities register in the same order as line by line.
    void Add(LibraryFile&& file) {
        if (!file.fileId.empty()) {
            RegisterFileId(file.fileId, file.path, file.fingerprint, file.size);
        }
        out_.files.push_back(std::move(file));
    }

    int Version() const { return version_; }

    // A record line without its line end; false when it names no path.
    static bool ParseFileLine(std::string_view line, int version, LibraryFile& file) {
        bool ended = false;  // the line ran out: later fields read as missing
        for (const FieldRule& field : kFields) {
            if (version < field.since) break;
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
        return !file.path.empty();
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

    Palette& out_;
    int version_ = 3;  // a file without a version line
};

// The record lines of `body`, which holds no header line, parsed in parts on
// several threads and added in file order.
void ReadRecordLines(std::string_view body, PaletteReader& reader, Palette& out) {
    constexpr size_t kShortestRecordBytes = 128;  // a record's line, fields all but empty
    const size_t parts = PartCount(body.size() / kShortestRecordBytes);
    // Part p starts after the first line end at or past its share of bytes.
    std::vector<size_t> starts(parts + 1, body.size());
    starts[0] = 0;
    for (size_t p = 1; p < parts; ++p) {
        const size_t at = std::max(starts[p - 1], body.size() * p / parts);
        const size_t end = at == 0 ? std::string_view::npos : body.find('\n', at - 1);
        starts[p] = at == 0 ? 0 : end == std::string_view::npos ? body.size() : end + 1;
    }
    std::vector<std::vector<LibraryFile>> parsed(parts);
    const int version = reader.Version();
    const auto part = [&](size_t p) {
        std::string_view text = body.substr(starts[p], starts[p + 1] - starts[p]);
        std::vector<LibraryFile>& files = parsed[p];
        files.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
        while (!text.empty()) {
            const size_t end = text.find('\n');
            const std::string_view line = PaletteReader::Trimmed(text.substr(0, end));
            if (!line.empty()) {
                files.emplace_back();
                if (!PaletteReader::ParseFileLine(line, version, files.back())) files.pop_back();
            }
            if (end == std::string_view::npos) break;
            text.remove_prefix(end + 1);
        }
    };
    RunParts(parts, part);
    size_t total = 0;
    for (const std::vector<LibraryFile>& files : parsed) total += files.size();
    out.files.reserve(out.files.size() + total);
    for (std::vector<LibraryFile>& files : parsed) {
        for (LibraryFile& file : files) reader.Add(std::move(file));
        files = {};
    }
}

}  // namespace

bool ReadPaletteText(std::string_view text, const std::string& path, Palette& out) {
    PaletteReader reader(out);
    // Header lines come first in every file this program writes; the record
    // lines after them are read in parts. A header line among the records
    // (the version applies to the lines after it) is read line by line.
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = PaletteReader::Trimmed(text.substr(0, end));
        if (!line.empty() && line.front() != '#') {
            if (text.find("\n#") == std::string_view::npos) {
                ReadRecordLines(text, reader, out);
                return reader.Finish(path);
            }
            break;
        }
        reader.Line(line);
        if (end == std::string_view::npos) return reader.Finish(path);
        text.remove_prefix(end + 1);
    }
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
    // A folder opens on this platform but is no cache file.
    std::error_code ec;
    if (path.empty() || std::filesystem::is_directory(path, ec)) return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // Read whole, into memory that is not cleared first: a rescan reads this
    // file before anything else, and line-by-line reading cost more than the
    // parse. A read error ends the text where it happened.
    struct stat info {};
    const size_t size = fstat(fd, &info) == 0 && info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;
    std::unique_ptr<char[]> bytes = std::make_unique_for_overwrite<char[]>(std::max<size_t>(size, 1));
    size_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, bytes.get() + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    return ReadPaletteText(std::string_view(bytes.get(), got), path, out);
}

}  // namespace korvel
