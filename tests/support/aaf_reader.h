#pragma once
// An independent reader of AAF stored objects on top of cfb_reader.h, for
// tests and the fuzzer: it decodes every "properties" stream, follows strong
// references, vectors and sets through their index streams, and decodes
// weak references and the root's referenced-properties table.
#include <cstdint>
#include <string>
#include <vector>

#include "cfb_reader.h"

namespace korvel::test::aafr {

enum Form : std::uint16_t {
    kData = 0x82,
    kStrong = 0x22,
    kStrongVector = 0x32,
    kStrongSet = 0x3A,
    kWeak = 0x02,
    kWeakVector = 0x12,
    kWeakSet = 0x1A,
};

struct Object;

struct Property {
    std::uint16_t pid = 0;
    std::uint16_t form = 0;
    std::string value;             // the raw value bytes
    std::u16string storageName;    // collections and strong references
    std::vector<Object> objects;   // strong reference targets, in order
    std::vector<std::string> keys;  // set keys (per element) and weak keys
    std::uint16_t keyPid = 0;
    std::uint16_t tag = 0;
};

struct Object {
    std::array<std::uint8_t, 16> classId{};
    std::vector<Property> properties;

    const Property* Find(std::uint16_t pid) const {
        for (const Property& p : properties)
            if (p.pid == pid) return &p;
        return nullptr;
    }
};

struct File {
    bool ok = false;
    std::string error;
    cfb::File storage;
    Object root;
    std::vector<std::vector<std::uint16_t>> referencedPaths;
};

inline std::u16string DecodeUtf16(const std::string& bytes) {
    std::u16string out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto c = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (c == 0) break;
        out.push_back(c);
    }
    return out;
}

namespace detail {

inline std::uint32_t U(const std::string& b, std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

inline std::u16string Hex(std::uint32_t v) {
    static const char digits[] = "0123456789abcdef";
    std::u16string out;
    do {
        out.insert(out.begin(), static_cast<char16_t>(digits[v % 16]));
        v /= 16;
    } while (v);
    return out;
}

class Decoder {
public:
    bool Fail(std::string why) {
        if (error.empty()) error = std::move(why);
        return false;
    }

    bool Decode(const cfb::Node& storage, Object& out, int depth) {
        if (depth > 64) return Fail("objects nested too deep");
        out.classId = storage.classId;
        const cfb::Node* props = storage.Child(u"properties");
        if (!props || props->type != 2) return Fail("a storage has no properties stream");
        const std::string& s = props->data;
        if (s.size() < 4 || s[0] != 'L' || static_cast<unsigned char>(s[1]) != 0x20)
            return Fail("bad properties header");
        const std::uint32_t count = U(s, 2, 2);
        std::size_t at = 4 + std::size_t{count} * 6;
        if (at > s.size()) return Fail("properties index runs past the stream");
        for (std::uint32_t i = 0; i < count; ++i) {
            Property p;
            p.pid = static_cast<std::uint16_t>(U(s, 4 + i * 6, 2));
            p.form = static_cast<std::uint16_t>(U(s, 6 + i * 6, 2));
            const std::uint32_t length = U(s, 8 + i * 6, 2);
            if (at + length > s.size()) return Fail("a value runs past the stream");
            p.value = s.substr(at, length);
            at += length;
            if (!Resolve(storage, p, depth)) return false;
            out.properties.push_back(std::move(p));
        }
        if (at != s.size()) return Fail("bytes after the last value");
        return true;
    }

    const cfb::Node* Sub(const cfb::Node& storage, const std::u16string& name, int type) {
        const cfb::Node* n = storage.Child(name);
        if (!n || n->type != type) {
            Fail("missing entry for a property");
            return nullptr;
        }
        return n;
    }

    bool Resolve(const cfb::Node& storage, Property& p, int depth) {
        switch (p.form) {
        case kData:
            return true;
        case kWeak: {
            if (p.value.size() < 5) return Fail("short weak reference");
            p.tag = static_cast<std::uint16_t>(U(p.value, 0, 2));
            p.keyPid = static_cast<std::uint16_t>(U(p.value, 2, 2));
            const std::uint32_t keySize = U(p.value, 4, 1);
            if (p.value.size() != 5 + keySize) return Fail("weak reference key size differs");
            p.keys.push_back(p.value.substr(5));
            return true;
        }
        case kStrong:
        case kStrongVector:
        case kStrongSet:
        case kWeakVector:
        case kWeakSet:
            break;
        default:
            return Fail("unknown stored form");
        }
        if (p.value.size() < 2 || p.value.size() % 2 || p.value[p.value.size() - 1] != 0 ||
            p.value[p.value.size() - 2] != 0)
            return Fail("reference name is not a terminated string");
        p.storageName = DecodeUtf16(p.value);
        if ((p.storageName.size() + 1) * 2 != p.value.size()) return Fail("reference name has a stray 0");
        if (p.form == kStrong) {
            const cfb::Node* child = Sub(storage, p.storageName, 1);
            if (!child) return false;
            p.objects.emplace_back();
            return Decode(*child, p.objects.back(), depth + 1);
        }
        const cfb::Node* index = Sub(storage, p.storageName + u" index", 2);
        if (!index) return false;
        const std::string& x = index->data;
        if (p.form == kWeakVector || p.form == kWeakSet) {
            if (x.size() < 9) return Fail("short weak collection index");
            const std::uint32_t count = U(x, 0, 4);
            p.tag = static_cast<std::uint16_t>(U(x, 4, 2));
            p.keyPid = static_cast<std::uint16_t>(U(x, 6, 2));
            const std::uint32_t keySize = U(x, 8, 1);
            if (x.size() != 9 + std::uint64_t{count} * keySize) return Fail("weak collection index size differs");
            for (std::uint32_t i = 0; i < count; ++i) p.keys.push_back(x.substr(9 + i * keySize, keySize));
            return true;
        }
        const bool set = p.form == kStrongSet;
        const std::size_t head = set ? 15 : 12;
        if (x.size() < head) return Fail("short collection index");
        const std::uint32_t count = U(x, 0, 4);
        const std::uint32_t keySize = set ? U(x, 14, 1) : 0;
        if (set) p.keyPid = static_cast<std::uint16_t>(U(x, 12, 2));
        const std::uint64_t entry = set ? 8 + keySize : 4;
        if (x.size() != head + count * entry) return Fail("collection index size differs");
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t at = head + i * entry;
            const std::uint32_t localKey = U(x, at, 4);
            if (set) p.keys.push_back(x.substr(at + 8, keySize));
            const cfb::Node* element = Sub(storage, p.storageName + u"{" + Hex(localKey) + u"}", 1);
            if (!element) return false;
            p.objects.emplace_back();
            if (!Decode(*element, p.objects.back(), depth + 1)) return false;
        }
        return true;
    }

    std::string error;
};

}  // namespace detail

inline File Read(const std::string& bytes) {
    File f;
    f.storage = cfb::Read(bytes);
    if (!f.storage.ok) {
        f.error = f.storage.error;
        return f;
    }
    detail::Decoder d;
    if (!d.Decode(f.storage.root, f.root, 0)) {
        f.error = d.error;
        return f;
    }
    if (const cfb::Node* table = f.storage.root.Child(u"referenced properties")) {
        const std::string& t = table->data;
        if (t.size() < 7 || t[0] != 'L') {
            f.error = "bad referenced properties header";
            return f;
        }
        const std::uint32_t paths = detail::U(t, 1, 2);
        const std::uint32_t pids = detail::U(t, 3, 4);
        if (t.size() != 7 + std::uint64_t{pids} * 2) {
            f.error = "referenced properties size differs";
            return f;
        }
        std::vector<std::uint16_t> path;
        for (std::uint32_t i = 0; i < pids; ++i) {
            const auto pid = static_cast<std::uint16_t>(detail::U(t, 7 + i * 2, 2));
            if (pid == 0) {
                f.referencedPaths.push_back(std::move(path));
                path.clear();
            } else {
                path.push_back(pid);
            }
        }
        if (!path.empty() || f.referencedPaths.size() != paths) {
            f.error = "referenced properties paths differ from their count";
            return f;
        }
    }
    f.ok = true;
    return f;
}

// The object a weak reference (tag, key) names: the path from the root to
// its collection, then the element whose key property holds `key`.
inline const Object* ResolveWeak(const File& f, std::uint16_t tag, std::uint16_t keyPid, const std::string& key) {
    if (tag >= f.referencedPaths.size()) return nullptr;
    const Object* at = &f.root;
    const std::vector<std::uint16_t>& path = f.referencedPaths[tag];
    for (std::size_t i = 0; i < path.size(); ++i) {
        const Property* p = at->Find(path[i]);
        if (!p) return nullptr;
        if (i + 1 < path.size()) {
            if (p->form != kStrong || p->objects.size() != 1) return nullptr;
            at = &p->objects.front();
            continue;
        }
        for (const Object& element : p->objects) {
            const Property* k = element.Find(keyPid);
            if (k && k->value == key) return &element;
        }
    }
    return nullptr;
}

}  // namespace korvel::test::aafr
