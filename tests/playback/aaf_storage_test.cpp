// The AAF storage layer, checked with the independent readers in
// tests/support: every file written here is walked sector by sector and
// every stream and value compared with what was written.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "playback/aaf/compound_file.h"
#include "playback/aaf/stored_object.h"
#include "support/aaf_reader.h"
#include "support/cfb_reader.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

using aaf::ClassId;
using aaf::CompoundFile;

const ClassId kAafSignature = {0x41, 0x41, 0x46, 0x42, 0x0D, 0x00, 0x4F, 0x4D,
                               0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, 0xFF};

ClassId Id(std::uint8_t seed) {
    ClassId id{};
    for (std::size_t i = 0; i < id.size(); ++i) id[i] = static_cast<std::uint8_t>(seed * 7 + i);
    return id;
}

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = 0x9E3779B9u * (seed + 1u);
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return bytes;
}

// One entry of a case: its path of names from the root, a storage's class
// id or a stream's bytes.
struct Item {
    std::vector<std::u16string> path;
    bool storage = false;
    std::uint8_t seed = 0;
    std::size_t size = 0;  // streams
};

const test::cfb::Node* Find(const test::cfb::Node& root, const std::vector<std::u16string>& path) {
    const test::cfb::Node* at = &root;
    for (const auto& name : path) {
        at = at->Child(name);
        if (!at) return nullptr;
    }
    return at;
}

std::size_t CountNodes(const test::cfb::Node& n) {
    std::size_t total = 1;
    for (const auto& c : n.children) total += CountNodes(c);
    return total;
}

std::u16string Units(std::size_t n, char16_t first) {
    std::u16string s;
    for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(first + i % 26));
    return s;
}

std::u16string Numbered(const char* prefix, int i) { return aaf::ToU16(prefix + std::to_string(i)); }

TEST(CompoundFileWriter, EveryLayoutReadsBackByteForByte) {
    struct Case {
        const char* name;
        std::vector<Item> items;
        bool expectDifat = false;
    };
    std::vector<Item> many;
    for (int i = 0; i < 300; ++i) many.push_back({{Numbered(i % 3 ? "s" : "Stream-", i)}, false, static_cast<std::uint8_t>(i), 10u + i});
    std::vector<Item> nested = {
        {{u"A"}, true, 1},
        {{u"A", u"B"}, true, 2},
        {{u"A", u"B", u"C"}, true, 3},
        {{u"A", u"B", u"C", u"properties"}, false, 4, 100},
        {{u"A", u"properties"}, false, 5, 5000},
        {{u"A", u"b2"}, true, 6},
        {{u"Z"}, true, 7},
    };
    const std::vector<Case> cases = {
        {"empty root", {}},
        {"tiny stream in the mini stream", {{{u"t"}, false, 1, 1}}},
        {"empty stream", {{{u"e"}, false, 1, 0}}},
        {"just under the cutoff", {{{u"u"}, false, 2, 4095}}},
        {"at the cutoff", {{{u"a"}, false, 3, 4096}}},
        {"mini and regular side by side", {{{u"x"}, false, 4, 64}, {{u"y"}, false, 5, 65}, {{u"z"}, false, 6, 513}}},
        {"a stream that needs the DIFAT", {{{u"big"}, false, 7, 8u << 20}, {{u"small"}, false, 8, 3}}, true},
        {"nested storages", nested},
        {"31-unit names", {{{Units(31, u'a')}, true, 9}, {{Units(31, u'a'), Units(31, u'B')}, false, 10, 40}}},
        {"many siblings", many},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CompoundFile file;
        file.SetFileClassId(kAafSignature);
        file.SetClassId(CompoundFile::kRoot, Id(99));
        std::string error;
        std::vector<std::pair<std::vector<std::u16string>, CompoundFile::EntryId>> storages = {{{}, CompoundFile::kRoot}};
        for (const Item& item : c.items) {
            std::vector<std::u16string> parentPath(item.path.begin(), item.path.end() - 1);
            CompoundFile::EntryId parent = CompoundFile::kRoot;
            for (const auto& [p, id] : storages)
                if (p == parentPath) parent = id;
            if (item.storage) {
                CompoundFile::EntryId id = 0;
                ASSERT_TRUE(file.AddStorage(parent, item.path.back(), Id(item.seed), id, error)) << error;
                storages.push_back({item.path, id});
            } else {
                ASSERT_TRUE(file.AddStream(parent, item.path.back(), Pattern(item.size, item.seed), error)) << error;
            }
        }
        const std::string path = dir.file("case.cfb");
        ASSERT_TRUE(file.Save(path, error)) << error;

        const std::string bytes = test::ReadBytes(path);
        ASSERT_EQ(bytes.size() % 512, 0u);
        const test::cfb::File read = test::cfb::Read(bytes);
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(read.classId, kAafSignature);
        EXPECT_EQ(read.root.classId, Id(99));
        EXPECT_EQ(read.root.name, u"Root Entry");
        EXPECT_EQ(read.difatSectors > 0, c.expectDifat);
        EXPECT_EQ(CountNodes(read.root), c.items.size() + 1);
        for (const Item& item : c.items) {
            const test::cfb::Node* n = Find(read.root, item.path);
            ASSERT_NE(n, nullptr);
            if (item.storage) {
                EXPECT_EQ(n->type, 1);
                EXPECT_EQ(n->classId, Id(item.seed));
            } else {
                EXPECT_EQ(n->type, 2);
                const std::vector<std::uint8_t> want = Pattern(item.size, item.seed);
                ASSERT_EQ(n->data.size(), want.size());
                EXPECT_TRUE(n->data == std::string(want.begin(), want.end()));
                EXPECT_EQ(n->inMiniStream, item.size > 0 && item.size < 4096);
            }
        }
    }
}

TEST(CompoundFileWriter, RefusesWhatTheFormatCannotHoldAndReportsWhy) {
    struct Case {
        const char* name;
        std::u16string entry;
        std::u16string sibling;  // added first, when not empty
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"32 units", Units(32, u'a'), u"", "longer than 31"},
        {"empty", u"", u"", "empty"},
        {"slash", u"a/b", u"", "forbids"},
        {"same name in other case", u"Mobs", u"MOBS", "same name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool storage : {false, true}) {
            CompoundFile file;
            std::string error;
            CompoundFile::EntryId id = 0;
            if (!c.sibling.empty()) {
                ASSERT_TRUE(file.AddStream(CompoundFile::kRoot, c.sibling, {}, error));
            }
            const bool added = storage ? file.AddStorage(CompoundFile::kRoot, c.entry, Id(1), id, error)
                                       : file.AddStream(CompoundFile::kRoot, c.entry, {1, 2}, error);
            EXPECT_FALSE(added);
            EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        }
    }

    CompoundFile file;
    std::string error;
    ASSERT_TRUE(file.AddStream(CompoundFile::kRoot, u"s", {1}, error));
    CompoundFile::EntryId id = 0;
    EXPECT_FALSE(file.AddStorage(1, u"under a stream", Id(1), id, error));
    EXPECT_FALSE(file.AddStorage(77, u"under nothing", Id(1), id, error));
}

TEST(CompoundFileWriter, UnwritablePathsAndFullDisksFailWithTheirReason) {
    CompoundFile file;
    std::string error;
    ASSERT_TRUE(file.AddStream(CompoundFile::kRoot, u"big", Pattern(3u << 20, 1), error));
    EXPECT_FALSE(file.Save("/nonexistent-folder/out.aaf", error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
    // /dev/full accepts the open and refuses every byte, as a full disk does.
    error.clear();
    EXPECT_FALSE(file.Save("/dev/full", error));
    EXPECT_NE(error.find("No space"), std::string::npos) << error;
}

// ---------------------------------------------------------------------------
// Stored objects
// ---------------------------------------------------------------------------

using aaf::Auid;
using aaf::StoredObject;

Auid MakeAuid(std::uint32_t d1) { return Auid{d1, 0x0101, 0x0100, {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x06, 0x01, 0x01}}; }

std::string Bytes(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }
std::string AuidBytes(const Auid& a) { return Bytes(aaf::EncodeAuid(a)); }

std::string U16Bytes(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    out.append(2, '\0');
    return out;
}

constexpr std::uint16_t kKeyPid = 0x0005;

std::unique_ptr<StoredObject> Keyed(std::uint32_t classD1, const Auid& key, std::u16string_view name) {
    auto o = std::make_unique<StoredObject>(MakeAuid(classD1));
    o->SetData(kKeyPid, aaf::EncodeAuid(key));
    o->SetData(0x0006, aaf::EncodeString(name));
    return o;
}

TEST(StoredObjects, ReferencesCollectionsAndEveryValueTypeReadBack) {
    const Auid rootClass{0xb3b398a5, 0x1c90, 0x11d4, {0x80, 0x53, 0x08, 0x00, 0x36, 0x21, 0x08, 0x04}};
    const Auid sound = MakeAuid(0x01030202);
    const Auid picture = MakeAuid(0x01030203);
    const Auid int32Type = MakeAuid(0x01010300);

    StoredObject root(rootClass);
    {
        auto meta = std::make_unique<StoredObject>(MakeAuid(0x0d010101));
        std::vector<std::unique_ptr<StoredObject>> classes;
        classes.push_back(Keyed(0x0d010201, MakeAuid(0x0d010101), u"InterchangeObject"));
        classes.push_back(Keyed(0x0d010201, MakeAuid(0x0d010102), u"Component"));
        meta->SetStrongReferenceSet(0x0003, "ClassDefinitions", kKeyPid, std::move(classes),
                                    {aaf::EncodeAuid(MakeAuid(0x0d010101)), aaf::EncodeAuid(MakeAuid(0x0d010102))});
        root.SetStrongReference(0x0001, "MetaDictionary", std::move(meta));
    }
    auto header = std::make_unique<StoredObject>(MakeAuid(0x0d010101 + 0x2f));
    StoredObject* h = header.get();
    root.SetStrongReference(0x0002, "Header", std::move(header));

    // A dictionary with a set of data definitions keyed by their AUIDs.
    auto dictionary = std::make_unique<StoredObject>(MakeAuid(0x0d010122));
    std::vector<std::unique_ptr<StoredObject>> defs;
    defs.push_back(Keyed(0x0d01011b, sound, u"Sound"));
    defs.push_back(Keyed(0x0d01011b, picture, u"Picture"));
    dictionary->SetStrongReferenceSet(0x2605, "DataDefinitions", kKeyPid, std::move(defs),
                                      {aaf::EncodeAuid(sound), aaf::EncodeAuid(picture)});
    h->SetStrongReference(0x3b04, "Dictionary", std::move(dictionary));

    // Every value encoding the writer needs.
    aaf::MobId mob;
    for (std::size_t i = 0; i < mob.label.size(); ++i) mob.label[i] = static_cast<std::uint8_t>(0x60 + i);
    mob.length = 0x13;
    mob.instanceLow = 7;
    mob.material = MakeAuid(0xCAFEF00D);
    std::vector<std::uint8_t> rational, stamp, fixed, variable, i64;
    aaf::AppendRational(rational, {48000, 1001});
    aaf::AppendTimeStamp(stamp, {2026, 12, 10, 16, 45, 30, 0});
    for (std::uint32_t v : {1u, 0x01020304u, 0xFFFFFFFFu}) aaf::AppendU32(fixed, v);
    for (const Auid& a : {sound, picture}) aaf::AppendAuid(variable, a);
    aaf::AppendU64(i64, 0xFEDCBA9876543210ull);
    std::vector<std::uint8_t> int32Value;
    aaf::AppendU32(int32Value, static_cast<std::uint32_t>(-1000));
    const std::u16string name = u"Spot \u00e9 \u4e2d";

    auto content = std::make_unique<StoredObject>(MakeAuid(0x0d010118));
    std::vector<std::unique_ptr<StoredObject>> mobs;
    for (int i = 0; i < 3; ++i) {
        auto m = std::make_unique<StoredObject>(MakeAuid(0x0d010134 + i));
        aaf::MobId id = mob;
        id.instanceLow = static_cast<std::uint8_t>(i);
        m->SetData(0x4401, aaf::EncodeMobId(id));
        m->SetData(0x4402, aaf::EncodeString(Numbered("mob ", i)));
        std::vector<std::unique_ptr<StoredObject>> slots;
        auto slot = std::make_unique<StoredObject>(MakeAuid(0x0d010138));
        slot->SetWeakReference(0x0201, {0x0002, 0x3b04, 0x2605}, kKeyPid, aaf::EncodeAuid(i == 1 ? picture : sound));
        slots.push_back(std::move(slot));
        m->SetStrongReferenceVector(0x4403, "Slots", std::move(slots));
        mobs.push_back(std::move(m));
    }
    content->SetStrongReferenceVector(0x1901, "Mobs", std::move(mobs));
    h->SetStrongReference(0x3b03, "Content", std::move(content));

    h->SetData(0x3b09, aaf::EncodeString(name));
    h->SetData(0x3b0a, aaf::EncodeAuid(sound));
    h->SetData(0x3b0b, aaf::EncodeMobId(mob));
    h->SetData(0x3b0c, rational);
    h->SetData(0x3b0d, stamp);
    h->SetData(0x3b0e, fixed);
    h->SetData(0x3b0f, variable);
    h->SetData(0x3b10, i64);
    h->SetData(0x3b11, aaf::EncodeIndirect(int32Type, int32Value));
    h->SetWeakReferences(0x3b12, "DataDefinitionsUsed", aaf::StoredForm::WeakReferenceSet, {0x0002, 0x3b04, 0x2605},
                         kKeyPid, {aaf::EncodeAuid(picture), aaf::EncodeAuid(sound)});

    test::TempDir dir;
    const std::string path = dir.file("objects.aaf");
    std::string error;
    ASSERT_TRUE(aaf::SaveStoredFile(path, kAafSignature, root, error)) << error;

    const test::aafr::File f = test::aafr::Read(test::ReadBytes(path));
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ(f.storage.classId, kAafSignature);
    EXPECT_EQ(f.root.classId, aaf::ToClassId(rootClass));
    ASSERT_EQ(f.root.properties.size(), 2u);
    EXPECT_EQ(f.root.properties[0].pid, 0x0001);
    EXPECT_EQ(f.root.properties[1].pid, 0x0002);
    EXPECT_EQ(f.root.properties[1].storageName, u"Header-2");
    EXPECT_NE(f.storage.root.Child(u"Header-2"), nullptr);
    EXPECT_NE(f.storage.root.Child(u"MetaDictionary-1"), nullptr);

    const test::aafr::Object& meta = f.root.properties[0].objects.at(0);
    const test::aafr::Property* classDefs = meta.Find(0x0003);
    ASSERT_NE(classDefs, nullptr);
    EXPECT_EQ(classDefs->form, test::aafr::kStrongSet);
    EXPECT_EQ(classDefs->keyPid, kKeyPid);
    ASSERT_EQ(classDefs->objects.size(), 2u);
    EXPECT_EQ(classDefs->keys[1], AuidBytes(MakeAuid(0x0d010102)));
    EXPECT_EQ(classDefs->objects[1].Find(0x0006)->value, U16Bytes(u"Component"));

    const test::aafr::Object& hr = f.root.properties[1].objects.at(0);
    EXPECT_EQ(hr.classId, aaf::ToClassId(MakeAuid(0x0d010101 + 0x2f)));
    struct ValueCase {
        std::uint16_t pid;
        std::string want;
    };
    const std::string stampWant = {static_cast<char>(2026 & 0xFF), static_cast<char>(2026 >> 8), 12, 10, 16, 45, 30, 0};
    const std::string rationalWant = {static_cast<char>(0x80), static_cast<char>(0xBB), 0, 0,
                                      static_cast<char>(0xE9), 3, 0, 0};
    std::string indirectWant = "L" + AuidBytes(int32Type);
    indirectWant += std::string("\x18\xFC\xFF\xFF", 4);
    std::string mobWant(32, '\0');
    for (int i = 0; i < 12; ++i) mobWant[i] = static_cast<char>(0x60 + i);
    mobWant[12] = 0x13;
    mobWant[15] = 7;
    mobWant.replace(16, 16, AuidBytes(MakeAuid(0xCAFEF00D)));
    const std::vector<ValueCase> values = {
        {0x3b09, U16Bytes(name)},
        {0x3b0a, std::string("\x02\x02\x03\x01\x01\x01\x00\x01\x06\x0E\x2B\x34\x02\x06\x01\x01", 16)},
        {0x3b0b, mobWant},
        {0x3b0c, rationalWant},
        {0x3b0d, stampWant},
        {0x3b0e, std::string("\x01\0\0\0\x04\x03\x02\x01\xFF\xFF\xFF\xFF", 12)},
        {0x3b0f, AuidBytes(sound) + AuidBytes(picture)},
        {0x3b10, std::string("\x10\x32\x54\x76\x98\xBA\xDC\xFE", 8)},
        {0x3b11, indirectWant},
    };
    for (const ValueCase& v : values) {
        SCOPED_TRACE(v.pid);
        const test::aafr::Property* p = hr.Find(v.pid);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->form, test::aafr::kData);
        EXPECT_EQ(p->value, v.want);
    }

    // The strong vector of mobs, in order, with their slots' weak references
    // resolved through the referenced-properties table.
    ASSERT_EQ(f.referencedPaths.size(), 1u);
    EXPECT_EQ(f.referencedPaths[0], (std::vector<std::uint16_t>{0x0002, 0x3b04, 0x2605}));
    const test::aafr::Property* contentRef = hr.Find(0x3b03);
    ASSERT_NE(contentRef, nullptr);
    const test::aafr::Property* mobList = contentRef->objects.at(0).Find(0x1901);
    ASSERT_NE(mobList, nullptr);
    EXPECT_EQ(mobList->form, test::aafr::kStrongVector);
    EXPECT_EQ(mobList->storageName, u"Mobs-1901");
    ASSERT_EQ(mobList->objects.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const test::aafr::Object& m = mobList->objects[i];
        EXPECT_EQ(m.classId, aaf::ToClassId(MakeAuid(0x0d010134 + i)));
        EXPECT_EQ(m.Find(0x4402)->value, U16Bytes(Numbered("mob ", i)));
        EXPECT_EQ(static_cast<unsigned char>(m.Find(0x4401)->value[15]), i);
        const test::aafr::Property& weak = *m.Find(0x4403)->objects.at(0).Find(0x0201);
        EXPECT_EQ(weak.form, test::aafr::kWeak);
        const test::aafr::Object* target = test::aafr::ResolveWeak(f, weak.tag, weak.keyPid, weak.keys.at(0));
        ASSERT_NE(target, nullptr);
        EXPECT_EQ(target->Find(0x0006)->value, U16Bytes(i == 1 ? u"Picture" : u"Sound"));
    }

    const test::aafr::Property* used = hr.Find(0x3b12);
    ASSERT_NE(used, nullptr);
    EXPECT_EQ(used->form, test::aafr::kWeakSet);
    ASSERT_EQ(used->keys.size(), 2u);
    const test::aafr::Object* first = test::aafr::ResolveWeak(f, used->tag, used->keyPid, used->keys[0]);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Find(0x0006)->value, U16Bytes(u"Picture"));
}

TEST(StoredObjects, LongPropertyNamesKeepElementAndIndexNamesWithin31Units) {
    struct Case {
        std::string property;
        std::uint16_t pid;
        std::u16string want;
    };
    const std::vector<Case> cases = {
        {"Header", 0x0002, u"Header-2"},
        {"Mobs", 0x1901, u"Mobs-1901"},
        {"OperationDefinitions", 0x2603, u"OperationDefinit-2603"},
        {"AVeryLongPropertyNameIndeed", 0xffff, u"AVeryLongPropert-ffff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.property);
        const std::u16string name = aaf::StorageNameFor(c.property, c.pid);
        EXPECT_EQ(name, c.want);
        EXPECT_LE(name.size() + 10, aaf::kMaxEntryName);  // "{ffffffff}"
    }

    // A vector under such a name writes and reads back.
    StoredObject root(MakeAuid(1));
    std::vector<std::unique_ptr<StoredObject>> elements;
    for (int i = 0; i < 20; ++i) elements.push_back(std::make_unique<StoredObject>(MakeAuid(2)));
    root.SetStrongReferenceVector(0xffff, "AVeryLongPropertyNameIndeed", std::move(elements));
    test::TempDir dir;
    std::string error;
    ASSERT_TRUE(aaf::SaveStoredFile(dir.file("long.aaf"), kAafSignature, root, error)) << error;
    const test::aafr::File f = test::aafr::Read(test::ReadBytes(dir.file("long.aaf")));
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ(f.root.Find(0xffff)->objects.size(), 20u);
    EXPECT_NE(f.storage.root.Child(u"AVeryLongPropert-ffff{13}"), nullptr);
}

TEST(StoredObjects, ValuesAndCollectionsTheFormatCannotHoldAreRefused) {
    struct Case {
        const char* name;
        std::function<void(StoredObject&)> build;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"value over 65,535 bytes", [](StoredObject& o) { o.SetData(0x10, std::vector<std::uint8_t>(70000)); },
         "65,535"},
        {"set keys of two sizes",
         [](StoredObject& o) {
             std::vector<std::unique_ptr<StoredObject>> e;
             e.push_back(std::make_unique<StoredObject>(MakeAuid(2)));
             e.push_back(std::make_unique<StoredObject>(MakeAuid(2)));
             o.SetStrongReferenceSet(0x11, "Set", 5, std::move(e), {{1, 2}, {1, 2, 3}});
         },
         "differ in size"},
        {"set with a key missing",
         [](StoredObject& o) {
             std::vector<std::unique_ptr<StoredObject>> e;
             e.push_back(std::make_unique<StoredObject>(MakeAuid(2)));
             o.SetStrongReferenceSet(0x11, "Set", 5, std::move(e), {});
         },
         "differ in number"},
        {"strong reference to nothing", [](StoredObject& o) { o.SetStrongReference(0x12, "Nothing", nullptr); },
         "points to nothing"},
        {"weak reference without a path", [](StoredObject& o) { o.SetWeakReference(0x13, {}, 5, {1}); },
         "no target path"},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StoredObject root(MakeAuid(1));
        c.build(root);
        std::string error;
        EXPECT_FALSE(aaf::SaveStoredFile(dir.file("bad.aaf"), kAafSignature, root, error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace korvel
