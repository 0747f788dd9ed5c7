#pragma once
// An independent reader of compound files (structured storage) for tests
// and the fuzzer. It shares no code with the writer: it walks the header,
// the DIFAT and FAT chains, the mini FAT and mini stream and every sibling
// tree, checks each rule it relies on and reports the first broken one.
// Header-only so the fuzz target can compile it without the test support.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::test::cfb {

inline constexpr std::uint32_t kEnd = 0xFFFFFFFE;
inline constexpr std::uint32_t kFree = 0xFFFFFFFF;
inline constexpr std::uint32_t kFat = 0xFFFFFFFD;
inline constexpr std::uint32_t kDif = 0xFFFFFFFC;

struct Node {
    std::u16string name;
    int type = 0;  // 1 storage, 2 stream, 5 root
    std::array<std::uint8_t, 16> classId{};
    std::string data;          // a stream's bytes
    bool inMiniStream = false;  // a stream read from mini sectors
    std::vector<Node> children;  // in tree order (ascending)

    const Node* Child(std::u16string_view n) const {
        for (const Node& c : children)
            if (c.name == n) return &c;
        return nullptr;
    }
};

struct File {
    bool ok = false;
    std::string error;
    std::array<std::uint8_t, 16> classId{};  // header bytes 8-23
    std::uint32_t fatSectors = 0;
    std::uint32_t difatSectors = 0;
    std::uint32_t miniFatSectors = 0;
    Node root;
};

namespace detail {

inline std::uint32_t Le32(const std::string& b, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}
inline std::uint16_t Le16(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                      static_cast<unsigned char>(b[at + 1]) << 8);
}

// Upper-case folding the directory order uses (ASCII and Latin-1 letters).
inline char16_t Fold(char16_t c) {
    const bool lowerAscii = c >= 0x61 && c <= 0x7A;
    const bool lowerLatin = c >= 0xE0 && c <= 0xFE && c != 0xF7;
    if (lowerAscii || lowerLatin) return static_cast<char16_t>(c - 0x20);
    return c == 0xFF ? char16_t{0x178} : c;
}

inline bool Less(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return Fold(a[i]) < Fold(b[i]);
    return false;
}

struct Raw {
    std::u16string name;
    int type = 0, color = 0;
    std::uint32_t left = 0, right = 0, child = 0, start = 0;
    std::uint64_t size = 0;
    std::array<std::uint8_t, 16> classId{};
};

class Reader {
public:
    explicit Reader(const std::string& bytes) : b_(bytes) {}

    File Run() {
        File f;
        if (!Header(f) || !LoadFat(f) || !LoadDirectory() || !LoadMini(f)) {
            f.error = error_;
            return f;
        }
        seen_.assign(dir_.size(), false);
        seen_[0] = true;
        f.root.name = dir_[0].name;
        f.root.type = dir_[0].type;
        f.root.classId = dir_[0].classId;
        if (!Children(dir_[0].child, f.root, 0)) {
            f.error = error_;
            return f;
        }
        f.ok = true;
        return f;
    }

private:
    bool Fail(std::string why) {
        if (error_.empty()) error_ = std::move(why);
        return false;
    }

    bool Header(File& f) {
        static const unsigned char magic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
        if (b_.size() < 512) return Fail("shorter than a header");
        for (int i = 0; i < 8; ++i)
            if (static_cast<unsigned char>(b_[i]) != magic[i]) return Fail("no signature");
        for (int i = 0; i < 16; ++i) f.classId[i] = static_cast<std::uint8_t>(b_[8 + i]);
        if (Le16(b_, 26) != 3) return Fail("not version 3");
        if (Le16(b_, 28) != 0xFFFE) return Fail("bad byte order mark");
        if (Le16(b_, 30) != 9 || Le16(b_, 32) != 6) return Fail("sector sizes are not 512 and 64");
        if (Le32(b_, 40) != 0) return Fail("version 3 counts no directory sectors");
        if (Le32(b_, 56) != 4096) return Fail("mini stream cutoff is not 4096");
        if ((b_.size() - 512) % 512 != 0) return Fail("file is not whole sectors");
        sectors_ = static_cast<std::uint32_t>(std::min<std::size_t>((b_.size() - 512) / 512, 0xFFFFFFF0u));
        f.fatSectors = Le32(b_, 44);
        f.miniFatSectors = Le32(b_, 64);
        f.difatSectors = Le32(b_, 72);
        return true;
    }

    std::size_t At(std::uint32_t sector) const { return 512 + std::size_t{sector} * 512; }

    bool LoadFat(const File& f) {
        if (f.fatSectors > sectors_ || f.difatSectors > sectors_) return Fail("more FAT sectors than the file has");
        std::vector<std::uint32_t> fatList;
        for (std::uint32_t i = 0; i < 109; ++i) {
            const std::uint32_t s = Le32(b_, 76 + i * 4);
            if (i < f.fatSectors) {
                if (s >= sectors_) return Fail("FAT sector outside the file");
                fatList.push_back(s);
            } else if (s != kFree) {
                return Fail("unused header DIFAT slot is not free");
            }
        }
        std::uint32_t dif = Le32(b_, 68);
        std::vector<std::uint32_t> difList;
        for (std::uint32_t n = 0; n < f.difatSectors; ++n) {
            if (dif >= sectors_) return Fail("DIFAT chain leaves the file");
            difList.push_back(dif);
            for (std::uint32_t i = 0; i < 127; ++i) {
                const std::uint32_t s = Le32(b_, At(dif) + i * 4);
                if (fatList.size() < f.fatSectors) {
                    if (s >= sectors_) return Fail("FAT sector outside the file");
                    fatList.push_back(s);
                } else if (s != kFree) {
                    return Fail("unused DIFAT slot is not free");
                }
            }
            dif = Le32(b_, At(dif) + 508);
        }
        if (f.difatSectors > 0 && dif != kEnd && dif != kFree) return Fail("DIFAT chain does not end");
        if (fatList.size() != f.fatSectors) return Fail("DIFAT lists fewer FAT sectors than counted");
        fat_.reserve(std::size_t{f.fatSectors} * 128);
        for (std::uint32_t s : fatList)
            for (std::uint32_t i = 0; i < 128; ++i) fat_.push_back(Le32(b_, At(s) + i * 4));
        if (fat_.size() < sectors_) return Fail("FAT does not cover the file");
        for (std::uint32_t s : fatList)
            if (fat_[s] != kFat) return Fail("a FAT sector is not marked as one");
        for (std::uint32_t s : difList)
            if (fat_[s] != kDif) return Fail("a DIFAT sector is not marked as one");
        return true;
    }

    // The sectors of the chain from `start`; each sector at most once.
    bool Chain(const std::vector<std::uint32_t>& table, std::uint32_t limit, std::uint32_t start,
               std::vector<std::uint32_t>& out) {
        out.clear();
        std::vector<bool> used(limit, false);
        for (std::uint32_t s = start; s != kEnd;) {
            if (s >= limit || s >= table.size()) return Fail("chain leaves the file");
            if (used[s]) return Fail("chain loops");
            used[s] = true;
            out.push_back(s);
            s = table[s];
        }
        return true;
    }

    bool LoadDirectory() {
        std::vector<std::uint32_t> chain;
        if (!Chain(fat_, sectors_, Le32(b_, 48), chain)) return false;
        if (chain.empty()) return Fail("no directory");
        for (std::uint32_t s : chain) {
            for (int k = 0; k < 4; ++k) {
                const std::size_t p = At(s) + k * 128;
                Raw r;
                const std::uint16_t nameBytes = Le16(b_, p + 64);
                r.type = static_cast<unsigned char>(b_[p + 66]);
                r.color = static_cast<unsigned char>(b_[p + 67]);
                r.left = Le32(b_, p + 68);
                r.right = Le32(b_, p + 72);
                r.child = Le32(b_, p + 76);
                for (int i = 0; i < 16; ++i) r.classId[i] = static_cast<std::uint8_t>(b_[p + 80 + i]);
                r.start = Le32(b_, p + 116);
                r.size = Le32(b_, p + 120) | std::uint64_t{Le32(b_, p + 124)} << 32;
                if (r.type != 0) {
                    if (nameBytes < 2 || nameBytes > 64 || nameBytes % 2) return Fail("bad name length");
                    for (std::size_t i = 0; i + 1 < nameBytes / 2u; ++i)
                        r.name.push_back(static_cast<char16_t>(Le16(b_, p + i * 2)));
                    if (Le16(b_, p + nameBytes - 2) != 0) return Fail("name is not terminated");
                    if (r.color > 1) return Fail("bad colour");
                }
                dir_.push_back(std::move(r));
            }
        }
        if (dir_[0].type != 5) return Fail("first entry is not the root");
        return true;
    }

    bool LoadMini(const File& f) {
        std::vector<std::uint32_t> chain;
        if (!Chain(fat_, sectors_, Le32(b_, 60), chain)) return false;
        if (chain.size() != f.miniFatSectors) return Fail("mini FAT length differs from its count");
        for (std::uint32_t s : chain)
            for (std::uint32_t i = 0; i < 128; ++i) miniFat_.push_back(Le32(b_, At(s) + i * 4));
        if (dir_[0].size > 0x80000000ull) return Fail("mini stream too large");
        if (!Chain(fat_, sectors_, dir_[0].size ? dir_[0].start : kEnd, chain)) return false;
        if (std::uint64_t{chain.size()} * 512 < dir_[0].size) return Fail("mini stream shorter than its size");
        for (std::uint32_t s : chain) mini_.append(b_, At(s), 512);
        mini_.resize(dir_[0].size);
        return true;
    }

    bool StreamData(const Raw& r, Node& n) {
        if (r.size > 0x80000000ull) return Fail("stream larger than version 3 holds");
        if (r.size == 0) return true;
        std::vector<std::uint32_t> chain;
        if (r.size < 4096) {
            const auto miniSectors = static_cast<std::uint32_t>(mini_.size() / 64);
            if (!Chain(miniFat_, miniSectors, r.start, chain)) return false;
            if (chain.size() != (r.size + 63) / 64) return Fail("mini chain length differs from the size");
            for (std::uint32_t s : chain) n.data.append(mini_, std::size_t{s} * 64, 64);
            n.inMiniStream = true;
        } else {
            if (!Chain(fat_, sectors_, r.start, chain)) return false;
            if (chain.size() != (r.size + 511) / 512) return Fail("chain length differs from the size");
            n.data.reserve(chain.size() * 512);
            for (std::uint32_t s : chain) n.data.append(b_, At(s), 512);
        }
        n.data.resize(r.size);
        return true;
    }

    // In-order walk of one sibling tree, checking its red-black rules.
    bool Tree(std::uint32_t id, std::uint32_t depth, std::vector<std::uint32_t>& order, int& blackHeight,
              bool parentRed) {
        if (id == kFree) {
            blackHeight = 1;
            return true;
        }
        if (id >= dir_.size() || dir_[id].type == 0) return Fail("tree points at no entry");
        if (seen_[id]) return Fail("an entry is reached twice");
        if (depth > 200) return Fail("tree too deep");
        seen_[id] = true;
        const Raw& r = dir_[id];
        const bool red = r.color == 0;
        if (red && parentRed) return Fail("red entry with a red parent");
        int lh = 0, rh = 0;
        if (!Tree(r.left, depth + 1, order, lh, red)) return false;
        order.push_back(id);
        if (!Tree(r.right, depth + 1, order, rh, red)) return false;
        if (lh != rh) return Fail("black heights differ");
        blackHeight = lh + (red ? 0 : 1);
        return true;
    }

    bool Children(std::uint32_t top, Node& parent, std::uint32_t depth) {
        if (depth > 64) return Fail("storages nested too deep");
        if (top == kFree) return true;
        if (top < dir_.size() && dir_[top].color == 0) return Fail("tree root is red");
        std::vector<std::uint32_t> order;
        int height = 0;
        if (!Tree(top, 0, order, height, false)) return false;
        for (std::size_t i = 1; i < order.size(); ++i)
            if (!Less(dir_[order[i - 1]].name, dir_[order[i]].name)) return Fail("siblings out of order");
        for (std::uint32_t id : order) {
            const Raw& r = dir_[id];
            Node n;
            n.name = r.name;
            n.type = r.type;
            n.classId = r.classId;
            if (r.type == 2) {
                if (r.child != kFree) return Fail("a stream has children");
                if (!StreamData(r, n)) return false;
            } else if (r.type == 1) {
                if (!Children(r.child, n, depth + 1)) return false;
            } else {
                return Fail("bad entry type below the root");
            }
            parent.children.push_back(std::move(n));
        }
        return true;
    }

    const std::string& b_;
    std::string error_;
    std::uint32_t sectors_ = 0;
    std::vector<std::uint32_t> fat_, miniFat_;
    std::string mini_;
    std::vector<Raw> dir_;
    std::vector<bool> seen_;
};

}  // namespace detail

inline File Read(const std::string& bytes) { return detail::Reader(bytes).Run(); }

}  // namespace korvel::test::cfb
