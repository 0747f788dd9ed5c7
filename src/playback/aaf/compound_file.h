#pragma once
// A structured-storage (compound file) writer: version 3, 512-byte sectors.
// Storages and streams are collected in memory and laid out once by Save,
// which writes the header, FAT, DIFAT, mini FAT, mini stream, directory and
// stream sectors in one pass.
#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::aaf {

// A class identifier as it lies in the file (16 bytes, GUID byte order).
using ClassId = std::array<std::uint8_t, 16>;

// Version 3 holds at most this many bytes in one stream.
inline constexpr std::uint64_t kMaxStreamSize = 0x80000000ull;
// Directory names are at most 31 UTF-16 units (plus the terminator).
inline constexpr std::size_t kMaxEntryName = 31;

class CompoundFile {
public:
    using EntryId = std::uint32_t;
    static constexpr EntryId kRoot = 0;

    CompoundFile();

    // The header's class id (bytes 8-23 of the file).
    void SetFileClassId(const ClassId& id) { fileClassId_ = id; }
    void SetClassId(EntryId storage, const ClassId& id);

    // Adds a storage below `parent`. False with the reason in `error` for a
    // bad name (empty, over 31 units, a character the format forbids, a
    // sibling of the same name) or a parent that is not a storage.
    bool AddStorage(EntryId parent, std::u16string_view name, const ClassId& id, EntryId& out,
                    std::string& error);
    // Adds a stream below `parent`, taking its bytes. Same errors, and a
    // stream over kMaxStreamSize.
    bool AddStream(EntryId parent, std::u16string_view name, std::vector<std::uint8_t> bytes,
                   std::string& error);

    std::size_t EntryCount() const { return entries_.size(); }

    // Writes the file to `path`. False with the reason when the layout does
    // not fit the format or the file cannot be written completely; a failed
    // save claims nothing about the file's contents.
    bool Save(const std::string& path, std::string& error) const;

private:
    struct NameLess {
        bool operator()(const std::u16string& a, const std::u16string& b) const;
    };
    struct Entry {
        std::u16string name;
        std::uint8_t type = 0;  // 1 storage, 2 stream, 5 root
        ClassId classId{};
        std::vector<std::uint8_t> bytes;  // streams only
        std::vector<EntryId> children;    // storages only
        std::set<std::u16string, NameLess> childNames;  // finds a clash without a scan
    };

    bool CheckNewEntry(EntryId parent, std::u16string_view name, std::string& error) const;

    ClassId fileClassId_{};
    std::vector<Entry> entries_;
};

// Orders sibling names as the directory's trees do: shorter names first,
// then unit by unit after upper-casing. Negative, zero or positive.
int CompareEntryNames(std::u16string_view a, std::u16string_view b);

// UTF-8 (ASCII in practice: property and element names) to UTF-16.
std::u16string ToU16(std::string_view text);

}  // namespace korvel::aaf
