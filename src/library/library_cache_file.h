#pragma once
// The library cache file (".kvlib"): one text file per palette, header lines
// starting with "#", then one TAB-separated line per library file. Written
// as version 8; versions back to 3 (no version line) are read.
#include <span>
#include <string>
#include <string_view>

namespace korvel {

struct LibraryFile;
struct Palette;

inline constexpr int kLibraryCacheVersion = 8;

// The whole text of a palette's cache file, lines ending in line feeds.
std::string FormatPaletteFile(const Palette& palette);
// The same text for `header`'s header values (its own files are ignored) and
// `files` in the order given, without copying the records into a palette.
std::string FormatPaletteFile(const Palette& header, std::span<const LibraryFile* const> files);

// Writes the palette through WriteFileAtomic; false when that fails, and the
// previous file then stays as it was.
bool WritePaletteFile(const Palette& palette, const std::string& path);
// The same for FormatPaletteFile(header, files).
bool WritePaletteFile(const Palette& header, std::span<const LibraryFile* const> files, const std::string& path);

// Fills `out` (normally freshly constructed) from the file at `path`: its
// files, its name (the file's stem) and the members its header lines name.
// No value is rejected: bad numbers read as 0 (the layout class as -1) and
// lines without a path are dropped. Stored identities are registered.
// False when the file cannot be opened, or yields neither a folder nor a
// file (`out` is untouched when it cannot be opened).
bool ReadPaletteFile(const std::string& path, Palette& out);

// ReadPaletteFile over text already in memory; `path` only names the palette.
bool ReadPaletteText(std::string_view text, const std::string& path, Palette& out);

// Backslash, TAB, line feed and carriage return as two-byte escapes.
std::string EscapeLibraryField(std::string_view text);
// Reverses exactly those four pairs; any other backslash is kept as it is.
std::string UnescapeLibraryField(std::string_view text);

}  // namespace korvel
