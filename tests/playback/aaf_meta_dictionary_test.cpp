// A written session read back through its own meta-dictionary alone, as a
// reader that takes the file's definitions as authoritative does: every
// object's class, every property's name and type, every record's members.
// What the file defines is checked against the AAF object model as
// published (the pids, owners and types below are transcribed from the AAF
// SDK's dictionary table, not taken from the runtime).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "playback/aaf_loader.h"
#include "playback/aaf_writer.h"
#include "support/aaf_reader.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

using test::aafr::Object;
using test::aafr::Property;

struct PublishedProperty {
    const char* owner;
    const char* name;
    std::uint16_t pid;
    const char* type;
};

// The published object model for every class the writer uses.
const std::vector<PublishedProperty> kObjectModel = {
    {"Component", "DataDefinition", 0x0201, "DataDefinitionWeakReference"},
    {"Component", "Length", 0x0202, "LengthType"},
    {"Event", "Position", 0x0601, "PositionType"},
    {"Event", "Comment", 0x0602, "String"},
    {"OperationGroup", "Operation", 0x0b01, "OperationDefinitionWeakReference"},
    {"OperationGroup", "InputSegments", 0x0b02, "SegmentStrongReferenceVector"},
    {"OperationGroup", "Parameters", 0x0b03, "ParameterStrongReferenceVector"},
    {"Sequence", "Components", 0x1001, "ComponentStrongReferenceVector"},
    {"SourceReference", "SourceID", 0x1101, "MobIDType"},
    {"SourceReference", "SourceMobSlotID", 0x1102, "UInt32"},
    {"SourceClip", "StartTime", 0x1201, "PositionType"},
    {"Timecode", "Start", 0x1501, "PositionType"},
    {"Timecode", "FPS", 0x1502, "UInt16"},
    {"Timecode", "Drop", 0x1503, "Boolean"},
    {"Transition", "OperationGroup", 0x1801, "OperationGroupStrongReference"},
    {"Transition", "CutPoint", 0x1802, "PositionType"},
    {"ContentStorage", "Mobs", 0x1901, "MobStrongReferenceSet"},
    {"ContentStorage", "EssenceData", 0x1902, "EssenceDataStrongReferenceSet"},
    {"ControlPoint", "Value", 0x1a02, "Indirect"},
    {"ControlPoint", "Time", 0x1a03, "Rational"},
    {"DefinitionObject", "Identification", 0x1b01, "AUID"},
    {"DefinitionObject", "Name", 0x1b02, "String"},
    {"DefinitionObject", "Description", 0x1b03, "String"},
    {"OperationDefinition", "DataDefinition", 0x1e01, "DataDefinitionWeakReference"},
    {"OperationDefinition", "IsTimeWarp", 0x1e02, "Boolean"},
    {"OperationDefinition", "NumberInputs", 0x1e07, "Int32"},
    {"OperationDefinition", "ParametersDefined", 0x1e09, "ParameterDefinitionWeakReferenceSet"},
    {"ParameterDefinition", "Type", 0x1f01, "TypeDefinitionWeakReference"},
    {"Dictionary", "OperationDefinitions", 0x2603, "OperationDefinitionStrongReferenceSet"},
    {"Dictionary", "ParameterDefinitions", 0x2604, "ParameterDefinitionStrongReferenceSet"},
    {"Dictionary", "DataDefinitions", 0x2605, "DataDefinitionStrongReferenceSet"},
    {"Dictionary", "InterpolationDefinitions", 0x2609, "InterpolationDefinitionStrongReferenceSet"},
    {"EssenceData", "MobID", 0x2701, "MobIDType"},
    {"EssenceData", "Data", 0x2702, "Stream"},
    {"EssenceDescriptor", "Locator", 0x2f01, "LocatorStrongReferenceVector"},
    {"FileDescriptor", "SampleRate", 0x3001, "Rational"},
    {"FileDescriptor", "Length", 0x3002, "LengthType"},
    {"WAVEDescriptor", "Summary", 0x3801, "DataValue"},
    {"Header", "ByteOrder", 0x3b01, "Int16"},
    {"Header", "LastModified", 0x3b02, "TimeStamp"},
    {"Header", "Content", 0x3b03, "ContentStorageStrongReference"},
    {"Header", "Dictionary", 0x3b04, "DictionaryStrongReference"},
    {"Header", "Version", 0x3b05, "VersionType"},
    {"Header", "IdentificationList", 0x3b06, "IdentificationStrongReferenceVector"},
    {"Header", "ObjectModelVersion", 0x3b07, "UInt32"},
    {"Identification", "CompanyName", 0x3c01, "String"},
    {"Identification", "ProductName", 0x3c02, "String"},
    {"Identification", "ProductVersion", 0x3c03, "ProductVersion"},
    {"Identification", "ProductVersionString", 0x3c04, "String"},
    {"Identification", "ProductID", 0x3c05, "AUID"},
    {"Identification", "Date", 0x3c06, "TimeStamp"},
    {"Identification", "ToolkitVersion", 0x3c07, "ProductVersion"},
    {"Identification", "Platform", 0x3c08, "String"},
    {"Identification", "GenerationAUID", 0x3c09, "AUID"},
    {"NetworkLocator", "URLString", 0x4001, "String"},
    {"Mob", "MobID", 0x4401, "MobIDType"},
    {"Mob", "Name", 0x4402, "String"},
    {"Mob", "Slots", 0x4403, "MobSlotStrongReferenceVector"},
    {"Mob", "LastModified", 0x4404, "TimeStamp"},
    {"Mob", "CreationTime", 0x4405, "TimeStamp"},
    {"SourceMob", "EssenceDescription", 0x4701, "EssenceDescriptorStrongReference"},
    {"MobSlot", "SlotID", 0x4801, "Int32"},
    {"MobSlot", "SlotName", 0x4802, "String"},
    {"MobSlot", "Segment", 0x4803, "SegmentStrongReference"},
    {"EventMobSlot", "EditRate", 0x4901, "Rational"},
    {"TimelineMobSlot", "EditRate", 0x4b01, "Rational"},
    {"TimelineMobSlot", "Origin", 0x4b02, "PositionType"},
    {"Parameter", "Definition", 0x4c01, "AUID"},
    {"ConstantValue", "Value", 0x4d01, "Indirect"},
    {"VaryingValue", "Interpolation", 0x4e01, "InterpolationDefinitionWeakReference"},
    {"VaryingValue", "PointList", 0x4e02, "ControlPointStrongReferenceVector"},
    {"MetaDefinition", "Identification", 0x0005, "AUID"},
    {"MetaDefinition", "Name", 0x0006, "String"},
    {"MetaDefinition", "Description", 0x0007, "String"},
    {"ClassDefinition", "ParentClass", 0x0008, "ClassDefinitionWeakReference"},
    {"ClassDefinition", "Properties", 0x0009, "PropertyDefinitionStrongReferenceSet"},
    {"ClassDefinition", "IsConcrete", 0x000a, "Boolean"},
    {"PropertyDefinition", "Type", 0x000b, "AUID"},
    {"PropertyDefinition", "IsOptional", 0x000c, "Boolean"},
    {"PropertyDefinition", "LocalIdentification", 0x000d, "UInt16"},
    {"PropertyDefinition", "IsUniqueIdentifier", 0x000e, "Boolean"},
    {"TypeDefinitionInteger", "Size", 0x000f, "UInt8"},
    {"TypeDefinitionInteger", "IsSigned", 0x0010, "Boolean"},
    {"TypeDefinitionStrongObjectReference", "ReferencedType", 0x0011, "ClassDefinitionWeakReference"},
    {"TypeDefinitionWeakObjectReference", "ReferencedType", 0x0012, "ClassDefinitionWeakReference"},
    {"TypeDefinitionWeakObjectReference", "TargetSet", 0x0013, "AUIDArray"},
    {"TypeDefinitionEnumeration", "ElementType", 0x0014, "TypeDefinitionWeakReference"},
    {"TypeDefinitionEnumeration", "ElementNames", 0x0015, "StringArray"},
    {"TypeDefinitionEnumeration", "ElementValues", 0x0016, "Int64Array"},
    {"TypeDefinitionFixedArray", "ElementType", 0x0017, "TypeDefinitionWeakReference"},
    {"TypeDefinitionFixedArray", "ElementCount", 0x0018, "UInt32"},
    {"TypeDefinitionVariableArray", "ElementType", 0x0019, "TypeDefinitionWeakReference"},
    {"TypeDefinitionSet", "ElementType", 0x001a, "TypeDefinitionWeakReference"},
    {"TypeDefinitionString", "ElementType", 0x001b, "TypeDefinitionWeakReference"},
    {"TypeDefinitionRecord", "MemberTypes", 0x001c, "TypeDefinitionWeakReferenceVector"},
    {"TypeDefinitionRecord", "MemberNames", 0x001d, "StringArray"},
    {"TypeDefinitionRename", "RenamedType", 0x001e, "TypeDefinitionWeakReference"},
    {"MetaDictionary", "ClassDefinitions", 0x0003, "ClassDefinitionStrongReferenceSet"},
    {"MetaDictionary", "TypeDefinitions", 0x0004, "TypeDefinitionStrongReferenceSet"},
};

// Published type ids ({d1-0000-0000-060E-2B34-01040101}) of the types whose
// stored size is fixed, with that size.
struct PublishedType {
    const char* name;
    std::uint32_t d1;
    int size;  // -1 for types of no fixed size
};
const std::vector<PublishedType> kTypes = {
    {"UInt8", 0x01010100, 1},      {"UInt16", 0x01010200, 2},      {"UInt32", 0x01010300, 4},
    {"Int16", 0x01010600, 2},      {"Int32", 0x01010700, 4},       {"Int64", 0x01010800, 8},
    {"Boolean", 0x01040100, 1},    {"Rational", 0x03010100, 8},    {"AUID", 0x01030100, 16},
    {"MobIDType", 0x01030200, 32}, {"TimeStamp", 0x03010700, 8},   {"VersionType", 0x03010300, 2},
    {"ProductVersion", 0x03010200, 9}, {"PositionType", 0x01012001, 8}, {"LengthType", 0x01012002, 8},
    {"String", 0x01100200, -1},    {"DataValue", 0x04100100, -1},  {"Indirect", 0x04100300, -1},
    {"AUIDArray", 0x04010600, -1}, {"StringArray", 0x04010500, -1}, {"Int64Array", 0x04010400, -1},
};

std::string Bytes(const void* p, std::size_t n) { return std::string(static_cast<const char*>(p), n); }
std::string AuidBytes(const aafUID_t& u) {
    return Bytes(&u.Data1, 4) + Bytes(&u.Data2, 2) + Bytes(&u.Data3, 2) + Bytes(u.Data4, 8);
}
std::string TypeIdBytes(std::uint32_t d1) {
    return AuidBytes({d1, 0, 0, {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x04, 0x01, 0x01}});
}

std::string Utf8(const std::string& utf16) {
    std::string out;
    for (char16_t c : test::aafr::DecodeUtf16(utf16)) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

// Zero-terminated UTF-16 strings one after the other.
std::vector<std::string> StringArray(const std::string& bytes) {
    std::vector<std::string> out;
    std::string current;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (c == 0) {
            out.push_back(current);
            current.clear();
        } else {
            current.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
    }
    return out;
}

std::string Value(const Object& o, std::uint16_t pid) {
    const Property* p = o.Find(pid);
    return p ? p->value : std::string();
}

// The file's own definitions, by AUID.
struct Definitions {
    struct PropertyDef {
        std::string name, type, owner;
        bool optional = true;
    };
    struct ClassDef {
        std::string name, parent;  // parent as AUID bytes
        std::map<std::uint16_t, PropertyDef> properties;
    };
    struct TypeDef {
        std::string name;
        std::string kind;  // the class name of the type definition
        const Object* object = nullptr;
    };
    std::map<std::string, ClassDef> classes;
    std::map<std::string, TypeDef> types;
    std::vector<std::string> problems;

    // Every property a class has, its ancestors' included; false when some
    // class in the chain is not defined.
    bool AllProperties(const std::string& classId, std::map<std::uint16_t, PropertyDef>& out) const {
        std::string id = classId;
        for (int depth = 0; depth < 32; ++depth) {
            const auto c = classes.find(id);
            if (c == classes.end()) return false;
            for (const auto& [pid, def] : c->second.properties) out.emplace(pid, def);
            if (c->second.parent == id) return true;
            id = c->second.parent;
        }
        return false;
    }
};

Definitions ReadDefinitions(const test::aafr::File& f) {
    Definitions d;
    const Property* metaRef = f.root.Find(0x0001);
    if (!metaRef || metaRef->objects.size() != 1) {
        d.problems.push_back("no meta-dictionary");
        return d;
    }
    const Object& meta = metaRef->objects.front();
    if (const Property* set = meta.Find(0x0003)) {
        for (const Object& c : set->objects) {
            Definitions::ClassDef def;
            def.name = Utf8(Value(c, 0x0006));
            const Property* parent = c.Find(0x0008);
            const Object* target =
                parent ? test::aafr::ResolveWeak(f, parent->tag, parent->keyPid, parent->keys.at(0)) : nullptr;
            if (!target) d.problems.push_back("class " + def.name + ": parent does not resolve");
            def.parent = target ? Value(*target, 0x0005) : std::string();
            if (const Property* props = c.Find(0x0009)) {
                for (const Object& p : props->objects) {
                    Definitions::PropertyDef pd;
                    pd.name = Utf8(Value(p, 0x0006));
                    pd.type = Value(p, 0x000b);
                    pd.owner = def.name;
                    pd.optional = Value(p, 0x000c) == std::string(1, '\1');
                    const std::string pid = Value(p, 0x000d);
                    if (pid.size() != 2) {
                        d.problems.push_back(def.name + "::" + pd.name + " has no local identification");
                        continue;
                    }
                    def.properties[static_cast<std::uint16_t>(static_cast<unsigned char>(pid[0]) |
                                                              static_cast<unsigned char>(pid[1]) << 8)] = pd;
                }
            }
            d.classes[Value(c, 0x0005)] = def;
        }
    }
    if (const Property* set = meta.Find(0x0004)) {
        for (const Object& t : set->objects) {
            Definitions::TypeDef def;
            def.name = Utf8(Value(t, 0x0006));
            def.object = &t;
            d.types[Value(t, 0x0005)] = def;
        }
    }
    for (auto& [id, t] : d.types) {
        const std::string cls = Bytes(t.object->classId.data(), 16);
        const auto c = d.classes.find(cls);
        if (c == d.classes.end()) d.problems.push_back("type " + t.name + ": its class is not defined");
        else t.kind = c->second.name;
    }
    return d;
}

class AAFMetaDictionaryTest : public ::testing::Test {
protected:
    void SetUp() override { AAFRuntimeLibraryPath = nullptr; }
    test::TempDir dir_;
};

// Every class the writer can produce: clips with fades and overlaps (dissolve
// transitions), gains and automation (operation groups with constant and
// varying values), markers (an event slot of comment markers).
AAFClipList RichSession() {
    AAFClipList c;
    for (std::size_t i = 0; i < 4; ++i) {
        c.essencePaths.push_back("/audio/clip" + std::to_string(i % 2) + ".wav");
        c.clipNames.push_back("clip" + std::to_string(i));
        c.positions.push_back(static_cast<std::int64_t>(i) * 900);
        c.lengths.push_back(1000);
        c.sourceOffsets.push_back(static_cast<std::int64_t>(i) * 10);
        c.sourceLengths.push_back(48000);
        c.tracks.push_back(static_cast<std::int32_t>(i / 3));
        c.fadeIns.push_back(i == 3 ? 200 : 0);
        c.fadeOuts.push_back(i == 3 ? 200 : 0);
        c.gains.push_back(i == 1 ? 2.0f : 1.0f);
        ClipGainEnvelope envelope;
        envelope.present = i == 2;
        envelope.points.fill(0.5f);
        c.envelopes.push_back(envelope);
    }
    return c;
}

TEST_F(AAFMetaDictionaryTest, EveryObjectAndPropertyIsDefinedByTheFileItself) {
    const std::string path = dir_.file("rich.aaf");
    ASSERT_TRUE(WriteAAFSessionShared(path, RichSession(), {"FX 1", "FX 2"}, 48000, {{0, "Start"}, {24000, "Hit"}}));
    const test::aafr::File f = test::aafr::Read(test::ReadBytes(path));
    ASSERT_TRUE(f.ok) << f.error;
    const Definitions defs = ReadDefinitions(f);
    for (const std::string& p : defs.problems) ADD_FAILURE() << p;

    // The published table, by owner and pid.
    std::map<std::pair<std::string, std::uint16_t>, const PublishedProperty*> published;
    for (const PublishedProperty& p : kObjectModel) published[{p.owner, p.pid}] = &p;
    std::map<std::string, const PublishedType*> typeById;
    for (const PublishedType& t : kTypes) typeById[TypeIdBytes(t.d1)] = &t;

    // Every property definition the file holds is the published one.
    std::size_t propertyDefs = 0;
    for (const auto& [id, c] : defs.classes) {
        for (const auto& [pid, p] : c.properties) {
            ++propertyDefs;
            const auto want = published.find({c.name, pid});
            if (want == published.end()) {
                ADD_FAILURE() << c.name << "::" << p.name << " (pid 0x" << std::hex << pid << ") is not published";
                continue;
            }
            EXPECT_EQ(p.name, want->second->name) << c.name << " pid 0x" << std::hex << pid;
            const auto type = defs.types.find(p.type);
            ASSERT_NE(type, defs.types.end()) << c.name << "::" << p.name << ": its type is not defined";
            EXPECT_EQ(type->second.name, want->second->type) << c.name << "::" << p.name;
        }
    }
    EXPECT_GT(propertyDefs, 80u);

    // Every object below the root: its class defined, each property named
    // and typed by that class, stored in the form its type calls for, and
    // no required property missing.
    std::set<std::string> classesSeen;
    std::size_t objects = 0;
    std::vector<std::pair<const Object*, std::string>> stack;
    for (const Property& p : f.root.properties)
        for (const Object& o : p.objects) stack.push_back({&o, "root"});
    while (!stack.empty()) {
        const auto [o, where] = stack.back();
        stack.pop_back();
        ++objects;
        const std::string cls = Bytes(o->classId.data(), 16);
        const auto c = defs.classes.find(cls);
        if (c == defs.classes.end()) {
            ADD_FAILURE() << "an object under " << where << " has a class the file does not define";
            continue;
        }
        classesSeen.insert(c->second.name);
        std::map<std::uint16_t, Definitions::PropertyDef> props;
        if (!defs.AllProperties(cls, props)) ADD_FAILURE() << c->second.name << ": an ancestor is not defined";
        for (const Property& p : o->properties) {
            const auto def = props.find(p.pid);
            if (def == props.end()) {
                ADD_FAILURE() << c->second.name << " holds pid 0x" << std::hex << p.pid << " that its class does not define";
                continue;
            }
            const auto type = defs.types.find(def->second.type);
            if (type == defs.types.end()) continue;  // reported above
            const std::string& kind = type->second.kind;
            const std::string label = c->second.name + "::" + def->second.name;
            // Collections are sets or arrays whose elements are references.
            std::string elementKind;
            if (kind == "TypeDefinitionSet" || kind == "TypeDefinitionVariableArray") {
                const Property* element = type->second.object->Find(kind == "TypeDefinitionSet" ? 0x001a : 0x0019);
                const Object* e = element ? test::aafr::ResolveWeak(f, element->tag, element->keyPid, element->keys.at(0))
                                          : nullptr;
                if (e) {
                    const auto et = defs.types.find(Value(*e, 0x0005));
                    if (et != defs.types.end()) elementKind = et->second.kind;
                }
            }
            std::uint16_t form = test::aafr::kData;
            if (kind == "TypeDefinitionStrongObjectReference") form = test::aafr::kStrong;
            if (kind == "TypeDefinitionWeakObjectReference") form = test::aafr::kWeak;
            if (elementKind == "TypeDefinitionStrongObjectReference")
                form = kind == "TypeDefinitionSet" ? test::aafr::kStrongSet : test::aafr::kStrongVector;
            if (elementKind == "TypeDefinitionWeakObjectReference")
                form = kind == "TypeDefinitionSet" ? test::aafr::kWeakSet : test::aafr::kWeakVector;
            EXPECT_EQ(p.form, form) << label;
            if (const auto t = typeById.find(def->second.type); t != typeById.end() && t->second->size >= 0) {
                EXPECT_EQ(p.value.size(), static_cast<std::size_t>(t->second->size)) << label;
            }
            if (p.form == test::aafr::kWeak || p.form == test::aafr::kWeakSet || p.form == test::aafr::kWeakVector) {
                for (const std::string& key : p.keys)
                    EXPECT_NE(test::aafr::ResolveWeak(f, p.tag, p.keyPid, key), nullptr) << label << " resolves";
            }
            for (const Object& child : p.objects) stack.push_back({&child, label});
        }
        for (const auto& [pid, def] : props)
            if (!def.optional) {
                EXPECT_NE(o->Find(pid), nullptr) << c->second.name << " lacks " << def.name;
            }
    }
    EXPECT_GT(objects, 100u);
    for (const char* name : {"Header", "ContentStorage", "Dictionary", "Identification", "SourceMob", "MasterMob",
                             "CompositionMob", "WAVEDescriptor", "NetworkLocator", "TimelineMobSlot", "EventMobSlot",
                             "Sequence", "SourceClip", "Filler", "Transition", "OperationGroup", "ConstantValue",
                             "VaryingValue", "ControlPoint", "CommentMarker", "Timecode", "DataDefinition",
                             "OperationDefinition", "ParameterDefinition", "InterpolationDefinition",
                             "MetaDictionary", "ClassDefinition", "PropertyDefinition", "TypeDefinitionRecord"})
        EXPECT_TRUE(classesSeen.count(name)) << name;

    // Records with their members; references with their classes.
    for (const auto& [id, t] : defs.types) {
        if (t.kind == "TypeDefinitionRecord") {
            const Property* types = t.object->Find(0x001c);
            ASSERT_NE(types, nullptr) << t.name;
            const std::vector<std::string> names = StringArray(Value(*t.object, 0x001d));
            EXPECT_EQ(types->form, test::aafr::kWeakVector) << t.name;
            ASSERT_EQ(types->keys.size(), names.size()) << t.name;
            EXPECT_FALSE(names.empty()) << t.name;
            for (const std::string& key : types->keys) EXPECT_TRUE(defs.types.count(key)) << t.name;
        }
        for (std::uint16_t pid : {0x0011, 0x0012}) {
            if (const Property* r = t.object->Find(pid)) {
                EXPECT_NE(test::aafr::ResolveWeak(f, r->tag, r->keyPid, r->keys.at(0)), nullptr) << t.name;
            }
        }
    }
    // The edit rate's type as published: two Int32 members.
    const auto rational = defs.types.find(TypeIdBytes(0x03010100));
    ASSERT_NE(rational, defs.types.end());
    EXPECT_EQ(rational->second.name, "Rational");
    EXPECT_EQ(StringArray(Value(*rational->second.object, 0x001d)), (std::vector<std::string>{"Numerator", "Denominator"}));
    for (const std::string& key : rational->second.object->Find(0x001c)->keys)
        EXPECT_EQ(key, TypeIdBytes(0x01010700));  // Int32
}

}  // namespace
}  // namespace korvel
