// Index of this file:
// [SECTION] Names and entries
// [SECTION] Sibling trees
// [SECTION] Layout and writing
#include "playback/aaf/compound_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace korvel::aaf {

namespace {

constexpr std::uint32_t kSectorSize = 512;
constexpr std::uint32_t kMiniSectorSize = 64;
constexpr std::uint32_t kMiniStreamCutoff = 4096;
constexpr std::uint32_t kEntriesPerSector = kSectorSize / 128;
constexpr std::uint32_t kIdsPerSector = kSectorSize / 4;
constexpr std::uint32_t kHeaderDifatSlots = 109;
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

constexpr std::uint8_t kStorage = 1;
constexpr std::uint8_t kStream = 2;
constexpr std::uint8_t kRootStorage = 5;

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void Put64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Simple upper-casing of one UTF-16 unit: ASCII and Latin-1 letters, which
// is every character the stored-object names use.
char16_t UpperUnit(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
    if (c == 0xFF) return 0x178;
    return c;
}

}  // namespace

// [SECTION] Names and entries

int CompareEntryNames(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char16_t x = UpperUnit(a[i]);
        const char16_t y = UpperUnit(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

std::u16string ToU16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        char32_t c = lead;
        std::size_t n = 1;
        if (lead >= 0xF0 && i + 3 < text.size()) {
            c = ((lead & 0x07u) << 18) | ((text[i + 1] & 0x3Fu) << 12) | ((text[i + 2] & 0x3Fu) << 6) |
                (text[i + 3] & 0x3Fu);
            n = 4;
        } else if (lead >= 0xE0 && i + 2 < text.size()) {
            c = ((lead & 0x0Fu) << 12) | ((text[i + 1] & 0x3Fu) << 6) | (text[i + 2] & 0x3Fu);
            n = 3;
        } else if (lead >= 0xC0 && i + 1 < text.size()) {
            c = ((lead & 0x1Fu) << 6) | (text[i + 1] & 0x3Fu);
            n = 2;
        } else if (lead >= 0x80) {
            c = u'?';
        }
        if (c > 0xFFFF) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += n;
    }
    return out;
}

bool CompoundFile::NameLess::operator()(const std::u16string& a, const std::u16string& b) const {
    return CompareEntryNames(a, b) < 0;
}

CompoundFile::CompoundFile() {
    Entry root;
    root.name = u"Root Entry";
    root.type = kRootStorage;
    entries_.push_back(std::move(root));
}

void CompoundFile::SetClassId(EntryId storage, const ClassId& id) {
    if (storage < entries_.size() && entries_[storage].type != kStream) entries_[storage].classId = id;
}

bool CompoundFile::CheckNewEntry(EntryId parent, std::u16string_view name, std::string& error) const {
    if (parent >= entries_.size() || entries_[parent].type == kStream) {
        error = "the parent is not a storage";
        return false;
    }
    if (name.empty()) {
        error = "an entry name is empty";
        return false;
    }
    if (name.size() > kMaxEntryName) {
        error = "the name of " + std::to_string(name.size()) + " UTF-16 units is longer than 31";
        return false;
    }
    for (char16_t c : name) {
        if (c == u'/' || c == u'\\' || c == u':' || c == u'!' || c == 0) {
            error = "an entry name holds a character the format forbids";
            return false;
        }
    }
    if (entries_[parent].childNames.count(std::u16string(name)) != 0) {
        error = "two entries of one storage have the same name";
        return false;
    }
    if (entries_.size() >= kMaxRegularSector) {
        error = "too many entries";
        return false;
    }
    return true;
}

bool CompoundFile::AddStorage(EntryId parent, std::u16string_view name, const ClassId& id, EntryId& out,
                              std::string& error) {
    if (!CheckNewEntry(parent, name, error)) return false;
    Entry e;
    e.name = name;
    e.type = kStorage;
    e.classId = id;
    out = static_cast<EntryId>(entries_.size());
    entries_.push_back(std::move(e));
    entries_[parent].children.push_back(out);
    entries_[parent].childNames.insert(std::u16string(name));
    return true;
}

bool CompoundFile::AddStream(EntryId parent, std::u16string_view name, std::vector<std::uint8_t> bytes,
                             std::string& error) {
    if (!CheckNewEntry(parent, name, error)) return false;
    if (bytes.size() > kMaxStreamSize) {
        error = "a stream of " + std::to_string(bytes.size()) + " bytes is beyond what the file can hold";
        return false;
    }
    Entry e;
    e.name = name;
    e.type = kStream;
    e.bytes = std::move(bytes);
    const auto id = static_cast<EntryId>(entries_.size());
    entries_.push_back(std::move(e));
    entries_[parent].children.push_back(id);
    entries_[parent].childNames.insert(std::u16string(name));
    return true;
}

// [SECTION] Sibling trees

namespace {

struct TreeLinks {
    std::vector<std::uint32_t> left, right, child;
    std::vector<std::uint8_t> color;  // 0 red, 1 black
};

// Builds a balanced tree over sorted[lo, hi): null depths differ by at most
// one, so colouring every node below the last full level red keeps the
// black count of every path equal and no red node has a red child.
std::uint32_t BuildTree(const std::vector<std::uint32_t>& sorted, std::size_t lo, std::size_t hi,
                        std::uint32_t depth, std::uint32_t fullLevels, TreeLinks& links) {
    if (lo >= hi) return kNoStream;
    const std::size_t mid = lo + (hi - lo) / 2;
    const std::uint32_t node = sorted[mid];
    links.color[node] = depth >= fullLevels ? 0 : 1;
    links.left[node] = BuildTree(sorted, lo, mid, depth + 1, fullLevels, links);
    links.right[node] = BuildTree(sorted, mid + 1, hi, depth + 1, fullLevels, links);
    return node;
}

}  // namespace

// [SECTION] Layout and writing

namespace {

class SectorWriter {
public:
    SectorWriter(const std::string& path, std::string& error) : path_(path), error_(error) {
        file_ = std::fopen(path.c_str(), "wb");
        if (!file_) {
            error_ = "cannot create '" + path + "': " + std::strerror(errno);
            return;
        }
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    }
    ~SectorWriter() {
        if (file_) std::fclose(file_);
    }
    bool ok() const { return file_ && !failed_; }

    void Write(const std::uint8_t* data, std::size_t size) {
        if (!ok() || size == 0) return;
        if (std::fwrite(data, 1, size, file_) != size) Fail();
    }
    // Pads the last sector of `size` bytes with zeros.
    void Pad(std::uint64_t size) {
        static const std::uint8_t zeros[kSectorSize] = {};
        const std::uint64_t rest = size % kSectorSize;
        if (rest != 0) Write(zeros, kSectorSize - rest);
    }
    bool Finish() {
        if (!file_) return false;
        if (!failed_ && std::fflush(file_) != 0) Fail();
        const int closed = std::fclose(file_);
        file_ = nullptr;
        if (closed != 0 && !failed_) {
            failed_ = true;
            error_ = "writing '" + path_ + "' failed: " + std::strerror(errno);
        }
        return !failed_;
    }

private:
    void Fail() {
        if (failed_) return;
        failed_ = true;
        error_ = "writing '" + path_ + "' failed: " + std::strerror(errno);
    }

    std::FILE* file_ = nullptr;
    bool failed_ = false;
    std::string path_;
    std::string& error_;
};

}  // namespace

bool CompoundFile::Save(const std::string& path, std::string& error) const {
    const auto count = static_cast<std::uint32_t>(entries_.size());

    // Sibling trees.
    TreeLinks links;
    links.left.assign(count, kNoStream);
    links.right.assign(count, kNoStream);
    links.child.assign(count, kNoStream);
    links.color.assign(count, 1);
    for (std::uint32_t id = 0; id < count; ++id) {
        const Entry& e = entries_[id];
        if (e.children.empty()) continue;
        std::vector<std::uint32_t> sorted(e.children.begin(), e.children.end());
        std::sort(sorted.begin(), sorted.end(), [&](std::uint32_t a, std::uint32_t b) {
            return CompareEntryNames(entries_[a].name, entries_[b].name) < 0;
        });
        std::uint32_t fullLevels = 0;
        while ((std::uint64_t{1} << (fullLevels + 1)) - 1 <= sorted.size()) ++fullLevels;
        links.child[id] = BuildTree(sorted, 0, sorted.size(), 0, fullLevels, links);
    }

    // Mini stream placement: each small stream gets consecutive mini sectors.
    std::vector<std::uint32_t> start(count, kEndOfChain);
    std::uint64_t miniSectors = 0;
    std::uint64_t bigSectors = 0;
    for (std::uint32_t id = 1; id < count; ++id) {
        const Entry& e = entries_[id];
        if (e.type != kStream || e.bytes.empty()) continue;
        if (e.bytes.size() < kMiniStreamCutoff) {
            start[id] = static_cast<std::uint32_t>(miniSectors);
            miniSectors += CeilDiv(e.bytes.size(), kMiniSectorSize);
        } else {
            bigSectors += CeilDiv(e.bytes.size(), kSectorSize);
        }
    }
    const std::uint64_t miniStreamBytes = miniSectors * kMiniSectorSize;
    const std::uint64_t miniStreamSectors = CeilDiv(miniStreamBytes, kSectorSize);
    const std::uint64_t miniFatSectors = CeilDiv(miniSectors, kIdsPerSector);
    const std::uint64_t dirSectors = CeilDiv(count, kEntriesPerSector);
    const std::uint64_t dataSectors = dirSectors + miniFatSectors + miniStreamSectors + bigSectors;

    // The FAT covers itself and the DIFAT, so grow both until they fit.
    std::uint64_t fatSectors = 0, difatSectors = 0;
    for (;;) {
        const std::uint64_t total = dataSectors + fatSectors + difatSectors;
        const std::uint64_t needFat = CeilDiv(total, kIdsPerSector);
        const std::uint64_t needDifat =
            needFat > kHeaderDifatSlots ? CeilDiv(needFat - kHeaderDifatSlots, kIdsPerSector - 1) : 0;
        if (needFat == fatSectors && needDifat == difatSectors) break;
        fatSectors = needFat;
        difatSectors = needDifat;
    }
    const std::uint64_t totalSectors = dataSectors + fatSectors + difatSectors;
    if (totalSectors > kMaxRegularSector || miniStreamBytes > kMaxStreamSize) {
        error = "the contents need more sectors than the file can address";
        return false;
    }

    // Sector order: FAT, DIFAT, directory, mini FAT, mini stream, streams.
    const auto firstDifat = static_cast<std::uint32_t>(fatSectors);
    const auto firstDir = static_cast<std::uint32_t>(firstDifat + difatSectors);
    const auto firstMiniFat = static_cast<std::uint32_t>(firstDir + dirSectors);
    const auto firstMiniStream = static_cast<std::uint32_t>(firstMiniFat + miniFatSectors);
    std::uint32_t next = static_cast<std::uint32_t>(firstMiniStream + miniStreamSectors);
    for (std::uint32_t id = 1; id < count; ++id) {
        const Entry& e = entries_[id];
        if (e.type == kStream && e.bytes.size() >= kMiniStreamCutoff) {
            start[id] = next;
            next += static_cast<std::uint32_t>(CeilDiv(e.bytes.size(), kSectorSize));
        }
    }

    std::vector<std::uint8_t> fat(fatSectors * kSectorSize, 0xFF);
    auto setFat = [&](std::uint32_t sector, std::uint32_t value) { Put32(&fat[std::size_t{sector} * 4], value); };
    auto chain = [&](std::uint32_t first, std::uint64_t length) {
        for (std::uint64_t i = 0; i < length; ++i) {
            const auto s = static_cast<std::uint32_t>(first + i);
            setFat(s, i + 1 == length ? kEndOfChain : s + 1);
        }
    };
    for (std::uint32_t s = 0; s < fatSectors; ++s) setFat(s, kFatSect);
    for (std::uint32_t s = 0; s < difatSectors; ++s) setFat(firstDifat + s, kDifSect);
    chain(firstDir, dirSectors);
    chain(firstMiniFat, miniFatSectors);
    chain(firstMiniStream, miniStreamSectors);
    for (std::uint32_t id = 1; id < count; ++id) {
        const Entry& e = entries_[id];
        if (e.type == kStream && e.bytes.size() >= kMiniStreamCutoff)
            chain(start[id], CeilDiv(e.bytes.size(), kSectorSize));
    }

    std::vector<std::uint8_t> header(kSectorSize, 0);
    static const std::uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(&header[0], signature, 8);
    std::memcpy(&header[8], fileClassId_.data(), 16);
    Put16(&header[24], 0x003E);
    Put16(&header[26], 0x0003);
    Put16(&header[28], 0xFFFE);
    Put16(&header[30], 9);
    Put16(&header[32], 6);
    Put32(&header[44], static_cast<std::uint32_t>(fatSectors));
    Put32(&header[48], firstDir);
    Put32(&header[56], kMiniStreamCutoff);
    Put32(&header[60], miniFatSectors ? firstMiniFat : kEndOfChain);
    Put32(&header[64], static_cast<std::uint32_t>(miniFatSectors));
    Put32(&header[68], difatSectors ? firstDifat : kEndOfChain);
    Put32(&header[72], static_cast<std::uint32_t>(difatSectors));
    std::vector<std::uint8_t> difat(difatSectors * kSectorSize, 0xFF);
    for (std::uint32_t f = 0; f < fatSectors; ++f) {
        if (f < kHeaderDifatSlots) {
            Put32(&header[76 + f * 4], f);
        } else {
            const std::uint32_t k = f - kHeaderDifatSlots;
            const std::uint32_t sector = k / (kIdsPerSector - 1);
            Put32(&difat[std::size_t{sector} * kSectorSize + (k % (kIdsPerSector - 1)) * 4], f);
        }
    }
    for (std::uint32_t f = static_cast<std::uint32_t>(fatSectors); f < kHeaderDifatSlots; ++f)
        Put32(&header[76 + f * 4], kFreeSect);
    for (std::uint32_t d = 0; d < difatSectors; ++d) {
        Put32(&difat[std::size_t{d} * kSectorSize + kSectorSize - 4],
              d + 1 == difatSectors ? kEndOfChain : firstDifat + d + 1);
    }

    std::vector<std::uint8_t> dir(dirSectors * kSectorSize, 0);
    for (std::uint32_t id = 0; id < dirSectors * kEntriesPerSector; ++id) {
        std::uint8_t* p = &dir[std::size_t{id} * 128];
        Put32(p + 68, kNoStream);
        Put32(p + 72, kNoStream);
        Put32(p + 76, kNoStream);
        if (id >= count) continue;
        const Entry& e = entries_[id];
        for (std::size_t i = 0; i < e.name.size(); ++i) Put16(p + i * 2, e.name[i]);
        Put16(p + 64, static_cast<std::uint16_t>((e.name.size() + 1) * 2));
        p[66] = e.type;
        p[67] = links.color[id];
        Put32(p + 68, links.left[id]);
        Put32(p + 72, links.right[id]);
        Put32(p + 76, links.child[id]);
        if (e.type != kStream) std::memcpy(p + 80, e.classId.data(), 16);
        if (e.type == kRootStorage) {
            Put32(p + 116, miniStreamSectors ? firstMiniStream : kEndOfChain);
            Put64(p + 120, miniStreamBytes);
        } else if (e.type == kStream) {
            Put32(p + 116, start[id]);
            Put64(p + 120, e.bytes.size());
        }
    }

    std::vector<std::uint8_t> miniFat(miniFatSectors * kSectorSize, 0xFF);
    std::vector<std::uint8_t> miniStream(miniStreamSectors * kSectorSize, 0);
    for (std::uint32_t id = 1; id < count; ++id) {
        const Entry& e = entries_[id];
        if (e.type != kStream || e.bytes.empty() || e.bytes.size() >= kMiniStreamCutoff) continue;
        const std::uint64_t n = CeilDiv(e.bytes.size(), kMiniSectorSize);
        for (std::uint64_t i = 0; i < n; ++i) {
            const auto s = static_cast<std::uint32_t>(start[id] + i);
            Put32(&miniFat[std::size_t{s} * 4], i + 1 == n ? kEndOfChain : s + 1);
        }
        std::memcpy(&miniStream[std::size_t{start[id]} * kMiniSectorSize], e.bytes.data(), e.bytes.size());
    }

    SectorWriter out(path, error);
    if (!out.ok()) return false;
    out.Write(header.data(), header.size());
    out.Write(fat.data(), fat.size());
    out.Write(difat.data(), difat.size());
    out.Write(dir.data(), dir.size());
    out.Write(miniFat.data(), miniFat.size());
    out.Write(miniStream.data(), miniStream.size());
    for (std::uint32_t id = 1; id < count; ++id) {
        const Entry& e = entries_[id];
        if (e.type != kStream || e.bytes.size() < kMiniStreamCutoff) continue;
        out.Write(e.bytes.data(), e.bytes.size());
        out.Pad(e.bytes.size());
    }
    return out.Finish();
}

}  // namespace korvel::aaf
