// Index of this file:
// [SECTION] Classes
// [SECTION] Properties
// [SECTION] Types
// [SECTION] Closure and stored definitions
#include "playback/aaf_runtime/meta_model.h"

#include <algorithm>
#include <set>
#include <string>
#include <string_view>

namespace korvel::aafrt {

namespace {

// Pids of the meta-dictionary's own properties.
enum MetaPid : std::uint16_t {
    kRootMetaDictionary = 0x0001,
    kClassDefinitions = 0x0003, kTypeDefinitions = 0x0004,
    kIdentification = 0x0005, kName = 0x0006,
    kParentClass = 0x0008, kProperties = 0x0009, kIsConcrete = 0x000A,
    kPropertyType = 0x000B, kIsOptional = 0x000C, kLocalIdentification = 0x000D, kIsUniqueIdentifier = 0x000E,
    kIntegerSize = 0x000F, kIntegerIsSigned = 0x0010,
    kStrongReferencedType = 0x0011, kWeakReferencedType = 0x0012, kWeakTargetSet = 0x0013,
    kEnumElementType = 0x0014, kEnumElementNames = 0x0015, kEnumElementValues = 0x0016,
    kFixedElementType = 0x0017, kFixedElementCount = 0x0018,
    kVariableElementType = 0x0019, kSetElementType = 0x001A, kStringElementType = 0x001B,
    kRecordMemberTypes = 0x001C, kRecordMemberNames = 0x001D, kRenamedType = 0x001E,
};

const aaf::PropertyPath kClassDefinitionsPath = {kRootMetaDictionary, kClassDefinitions};
const aaf::PropertyPath kTypeDefinitionsPath = {kRootMetaDictionary, kTypeDefinitions};

// [SECTION] Classes

// Class ids are {0D010101-d2-d3-060E-2B34-02060101}.
struct ClassEntry {
    const char* name;
    std::uint16_t d2, d3;
    const char* parent;  // the class itself for a root class
    bool concrete;
};

const std::vector<ClassEntry>& Classes() {
    static const std::vector<ClassEntry> table = {
        {"InterchangeObject", 0x0101, 0x0100, "InterchangeObject", false},
        {"Component", 0x0101, 0x0200, "InterchangeObject", false},
        {"Segment", 0x0101, 0x0300, "Component", false},
        {"Event", 0x0101, 0x0600, "Segment", false},
        {"CommentMarker", 0x0101, 0x0800, "Event", true},
        {"Filler", 0x0101, 0x0900, "Segment", true},
        {"OperationGroup", 0x0101, 0x0A00, "Segment", true},
        {"Sequence", 0x0101, 0x0F00, "Segment", true},
        {"SourceReference", 0x0101, 0x1000, "Segment", false},
        {"SourceClip", 0x0101, 0x1100, "SourceReference", true},
        {"Timecode", 0x0101, 0x1400, "Segment", true},
        {"Transition", 0x0101, 0x1700, "Component", true},
        {"ContentStorage", 0x0101, 0x1800, "InterchangeObject", true},
        {"ControlPoint", 0x0101, 0x1900, "InterchangeObject", true},
        {"DefinitionObject", 0x0101, 0x1A00, "InterchangeObject", false},
        {"DataDefinition", 0x0101, 0x1B00, "DefinitionObject", true},
        {"OperationDefinition", 0x0101, 0x1C00, "DefinitionObject", true},
        {"ParameterDefinition", 0x0101, 0x1D00, "DefinitionObject", true},
        {"InterpolationDefinition", 0x0101, 0x2100, "DefinitionObject", true},
        {"Dictionary", 0x0101, 0x2200, "InterchangeObject", true},
        {"EssenceData", 0x0101, 0x2300, "InterchangeObject", true},
        {"EssenceDescriptor", 0x0101, 0x2400, "InterchangeObject", false},
        {"FileDescriptor", 0x0101, 0x2500, "EssenceDescriptor", false},
        {"WAVEDescriptor", 0x0101, 0x2C00, "FileDescriptor", true},
        {"Header", 0x0101, 0x2F00, "InterchangeObject", true},
        {"Identification", 0x0101, 0x3000, "InterchangeObject", true},
        {"Locator", 0x0101, 0x3100, "InterchangeObject", false},
        {"NetworkLocator", 0x0101, 0x3200, "Locator", true},
        {"Mob", 0x0101, 0x3400, "InterchangeObject", false},
        {"CompositionMob", 0x0101, 0x3500, "Mob", true},
        {"MasterMob", 0x0101, 0x3600, "Mob", true},
        {"SourceMob", 0x0101, 0x3700, "Mob", true},
        {"MobSlot", 0x0101, 0x3800, "InterchangeObject", false},
        {"EventMobSlot", 0x0101, 0x3900, "MobSlot", true},
        {"TimelineMobSlot", 0x0101, 0x3B00, "MobSlot", true},
        {"Parameter", 0x0101, 0x3C00, "InterchangeObject", false},
        {"ConstantValue", 0x0101, 0x3D00, "Parameter", true},
        {"VaryingValue", 0x0101, 0x3E00, "Parameter", true},
        // The meta-dictionary's own classes.
        {"MetaDefinition", 0x0224, 0x0000, "MetaDefinition", false},
        {"ClassDefinition", 0x0201, 0x0000, "MetaDefinition", true},
        {"PropertyDefinition", 0x0202, 0x0000, "MetaDefinition", true},
        {"TypeDefinition", 0x0203, 0x0000, "MetaDefinition", false},
        {"TypeDefinitionInteger", 0x0204, 0x0000, "TypeDefinition", true},
        {"TypeDefinitionStrongObjectReference", 0x0205, 0x0000, "TypeDefinition", true},
        {"TypeDefinitionWeakObjectReference", 0x0206, 0x0000, "TypeDefinition", true},
        {"TypeDefinitionEnumeration", 0x0207, 0x0000, "TypeDefinition", true},
        {"TypeDefinitionFixedArray", 0x0208, 0x0000, "TypeDefinition", true},
        {"TypeDefinitionVariableArray", 0x0209, 0x0000, "TypeDefinition", true},
        {"TypeDefinitionSet", 0x020A, 0x0000, "TypeDefinition", true},
        {"TypeDefinitionString", 0x020B, 0x0000, "TypeDefinition", true},
        {"TypeDefinitionStream", 0x020C, 0x0000, "TypeDefinition", true},
        {"TypeDefinitionRecord", 0x020D, 0x0000, "TypeDefinition", true},
        {"TypeDefinitionRename", 0x020E, 0x0000, "TypeDefinition", true},
        {"TypeDefinitionIndirect", 0x0221, 0x0000, "TypeDefinition", true},
        {"TypeDefinitionCharacter", 0x0223, 0x0000, "TypeDefinition", true},
        {"MetaDictionary", 0x0225, 0x0000, "MetaDictionary", true},
    };
    return table;
}

aaf::Auid ClassId(const ClassEntry& c) {
    return {0x0D010101, c.d2, c.d3, {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x06, 0x01, 0x01}};
}

const ClassEntry* FindClass(std::string_view name) {
    for (const ClassEntry& c : Classes())
        if (name == c.name) return &c;
    return nullptr;
}

// [SECTION] Properties

// Property ids are {d1-d2-d3-060E-2B34-010101v}.
struct PropertyEntry {
    const char* owner;
    const char* name;
    std::uint16_t pid;
    std::uint32_t d1;
    std::uint16_t d2, d3;
    std::uint8_t version;
    const char* type;
    bool optional;
    bool unique;
};

const std::vector<PropertyEntry>& Properties() {
    static const std::vector<PropertyEntry> table = {
        {"Component", "DataDefinition", 0x0201, 0x04070100, 0x0000, 0x0000, 2, "DataDefinitionWeakReference", false, false},
        {"Component", "Length", 0x0202, 0x07020201, 0x0103, 0x0000, 2, "LengthType", true, false},
        {"Event", "Position", 0x0601, 0x07020103, 0x0303, 0x0000, 2, "PositionType", false, false},
        {"Event", "Comment", 0x0602, 0x05300404, 0x0100, 0x0000, 2, "String", true, false},
        {"OperationGroup", "Operation", 0x0B01, 0x05300506, 0x0000, 0x0000, 2, "OperationDefinitionWeakReference", false, false},
        {"OperationGroup", "InputSegments", 0x0B02, 0x06010104, 0x0602, 0x0000, 2, "SegmentStrongReferenceVector", true, false},
        {"OperationGroup", "Parameters", 0x0B03, 0x06010104, 0x060A, 0x0000, 2, "ParameterStrongReferenceVector", true, false},
        {"Sequence", "Components", 0x1001, 0x06010104, 0x0609, 0x0000, 2, "ComponentStrongReferenceVector", false, false},
        {"SourceReference", "SourceID", 0x1101, 0x06010103, 0x0100, 0x0000, 2, "MobIDType", true, false},
        {"SourceReference", "SourceMobSlotID", 0x1102, 0x06010103, 0x0200, 0x0000, 2, "UInt32", false, false},
        {"SourceClip", "StartTime", 0x1201, 0x07020103, 0x0104, 0x0000, 2, "PositionType", true, false},
        {"Timecode", "Start", 0x1501, 0x07020103, 0x0105, 0x0000, 2, "PositionType", false, false},
        {"Timecode", "FPS", 0x1502, 0x04040101, 0x0206, 0x0000, 2, "UInt16", false, false},
        {"Timecode", "Drop", 0x1503, 0x04040101, 0x0500, 0x0000, 1, "Boolean", false, false},
        {"Transition", "OperationGroup", 0x1801, 0x06010104, 0x0205, 0x0000, 2, "OperationGroupStrongReference", false, false},
        {"Transition", "CutPoint", 0x1802, 0x07020103, 0x0106, 0x0000, 2, "PositionType", false, false},
        {"ContentStorage", "Mobs", 0x1901, 0x06010104, 0x0501, 0x0000, 2, "MobStrongReferenceSet", false, false},
        {"ContentStorage", "EssenceData", 0x1902, 0x06010104, 0x0502, 0x0000, 2, "EssenceDataStrongReferenceSet", true, false},
        {"ControlPoint", "Value", 0x1A02, 0x0530050D, 0x0000, 0x0000, 2, "Indirect", false, false},
        {"ControlPoint", "Time", 0x1A03, 0x07020103, 0x1002, 0x0100, 2, "Rational", false, false},
        {"DefinitionObject", "Identification", 0x1B01, 0x01011503, 0x0000, 0x0000, 2, "AUID", false, true},
        {"DefinitionObject", "Name", 0x1B02, 0x01070102, 0x0301, 0x0000, 2, "String", false, false},
        {"DefinitionObject", "Description", 0x1B03, 0x03020301, 0x0201, 0x0000, 2, "String", true, false},
        {"OperationDefinition", "DataDefinition", 0x1E01, 0x05300509, 0x0000, 0x0000, 2, "DataDefinitionWeakReference", false, false},
        {"OperationDefinition", "IsTimeWarp", 0x1E02, 0x05300503, 0x0000, 0x0000, 1, "Boolean", true, false},
        {"OperationDefinition", "NumberInputs", 0x1E07, 0x05300504, 0x0000, 0x0000, 1, "Int32", false, false},
        {"OperationDefinition", "ParametersDefined", 0x1E09, 0x06010104, 0x0302, 0x0000, 2, "ParameterDefinitionWeakReferenceSet", true, false},
        {"ParameterDefinition", "Type", 0x1F01, 0x06010104, 0x0106, 0x0000, 2, "TypeDefinitionWeakReference", false, false},
        {"Dictionary", "OperationDefinitions", 0x2603, 0x06010104, 0x0503, 0x0000, 2, "OperationDefinitionStrongReferenceSet", true, false},
        {"Dictionary", "ParameterDefinitions", 0x2604, 0x06010104, 0x0504, 0x0000, 2, "ParameterDefinitionStrongReferenceSet", true, false},
        {"Dictionary", "DataDefinitions", 0x2605, 0x06010104, 0x0505, 0x0000, 2, "DataDefinitionStrongReferenceSet", true, false},
        {"Dictionary", "InterpolationDefinitions", 0x2609, 0x06010104, 0x0509, 0x0000, 2, "InterpolationDefinitionStrongReferenceSet", true, false},
        {"EssenceData", "MobID", 0x2701, 0x06010106, 0x0100, 0x0000, 2, "MobIDType", false, true},
        {"EssenceData", "Data", 0x2702, 0x04070200, 0x0000, 0x0000, 2, "Stream", false, false},
        {"EssenceDescriptor", "Locator", 0x2F01, 0x06010104, 0x0603, 0x0000, 2, "LocatorStrongReferenceVector", true, false},
        {"FileDescriptor", "SampleRate", 0x3001, 0x04060101, 0x0000, 0x0000, 1, "Rational", false, false},
        {"FileDescriptor", "Length", 0x3002, 0x04060102, 0x0000, 0x0000, 1, "LengthType", false, false},
        {"WAVEDescriptor", "Summary", 0x3801, 0x03030302, 0x0100, 0x0000, 2, "DataValue", false, false},
        {"Header", "ByteOrder", 0x3B01, 0x03010201, 0x0200, 0x0000, 1, "Int16", false, false},
        {"Header", "LastModified", 0x3B02, 0x07020110, 0x0204, 0x0000, 2, "TimeStamp", false, false},
        {"Header", "Content", 0x3B03, 0x06010104, 0x0201, 0x0000, 2, "ContentStorageStrongReference", false, false},
        {"Header", "Dictionary", 0x3B04, 0x06010104, 0x0202, 0x0000, 2, "DictionaryStrongReference", false, false},
        {"Header", "Version", 0x3B05, 0x03010201, 0x0500, 0x0000, 2, "VersionType", false, false},
        {"Header", "IdentificationList", 0x3B06, 0x06010104, 0x0604, 0x0000, 2, "IdentificationStrongReferenceVector", false, false},
        {"Header", "ObjectModelVersion", 0x3B07, 0x03010201, 0x0400, 0x0000, 2, "UInt32", true, false},
        {"Identification", "CompanyName", 0x3C01, 0x05200701, 0x0201, 0x0000, 2, "String", false, false},
        {"Identification", "ProductName", 0x3C02, 0x05200701, 0x0301, 0x0000, 2, "String", false, false},
        {"Identification", "ProductVersion", 0x3C03, 0x05200701, 0x0400, 0x0000, 2, "ProductVersion", true, false},
        {"Identification", "ProductVersionString", 0x3C04, 0x05200701, 0x0501, 0x0000, 2, "String", false, false},
        {"Identification", "ProductID", 0x3C05, 0x05200701, 0x0700, 0x0000, 2, "AUID", false, false},
        {"Identification", "Date", 0x3C06, 0x07020110, 0x0203, 0x0000, 2, "TimeStamp", false, false},
        {"Identification", "ToolkitVersion", 0x3C07, 0x05200701, 0x0A00, 0x0000, 2, "ProductVersion", true, false},
        {"Identification", "Platform", 0x3C08, 0x05200701, 0x0601, 0x0000, 2, "String", true, false},
        {"Identification", "GenerationAUID", 0x3C09, 0x05200701, 0x0100, 0x0000, 2, "AUID", false, false},
        {"NetworkLocator", "URLString", 0x4001, 0x01020101, 0x0100, 0x0000, 1, "String", false, false},
        {"Mob", "MobID", 0x4401, 0x01011510, 0x0000, 0x0000, 1, "MobIDType", false, true},
        {"Mob", "Name", 0x4402, 0x01030302, 0x0100, 0x0000, 1, "String", true, false},
        {"Mob", "Slots", 0x4403, 0x06010104, 0x0605, 0x0000, 2, "MobSlotStrongReferenceVector", false, false},
        {"Mob", "LastModified", 0x4404, 0x07020110, 0x0205, 0x0000, 2, "TimeStamp", false, false},
        {"Mob", "CreationTime", 0x4405, 0x07020110, 0x0103, 0x0000, 2, "TimeStamp", false, false},
        {"SourceMob", "EssenceDescription", 0x4701, 0x06010104, 0x0203, 0x0000, 2, "EssenceDescriptorStrongReference", false, false},
        {"MobSlot", "SlotID", 0x4801, 0x01070101, 0x0000, 0x0000, 2, "Int32", false, false},
        {"MobSlot", "SlotName", 0x4802, 0x01070102, 0x0100, 0x0000, 2, "String", true, false},
        {"MobSlot", "Segment", 0x4803, 0x06010104, 0x0204, 0x0000, 2, "SegmentStrongReference", false, false},
        {"EventMobSlot", "EditRate", 0x4901, 0x05300402, 0x0000, 0x0000, 2, "Rational", false, false},
        {"TimelineMobSlot", "EditRate", 0x4B01, 0x05300405, 0x0000, 0x0000, 2, "Rational", false, false},
        {"TimelineMobSlot", "Origin", 0x4B02, 0x07020103, 0x0103, 0x0000, 2, "PositionType", false, false},
        {"Parameter", "Definition", 0x4C01, 0x06010104, 0x0104, 0x0000, 2, "AUID", false, false},
        {"ConstantValue", "Value", 0x4D01, 0x05300507, 0x0000, 0x0000, 2, "Indirect", false, false},
        {"VaryingValue", "Interpolation", 0x4E01, 0x06010104, 0x0105, 0x0000, 2, "InterpolationDefinitionWeakReference", false, false},
        {"VaryingValue", "PointList", 0x4E02, 0x06010104, 0x0606, 0x0000, 2, "ControlPointStrongReferenceVector", false, false},
        // The meta-dictionary's own properties.
        {"MetaDefinition", "Identification", 0x0005, 0x06010107, 0x1300, 0x0000, 2, "AUID", false, true},
        {"MetaDefinition", "Name", 0x0006, 0x03020401, 0x0201, 0x0000, 2, "String", false, false},
        {"MetaDefinition", "Description", 0x0007, 0x06010107, 0x1401, 0x0000, 2, "String", true, false},
        {"ClassDefinition", "ParentClass", 0x0008, 0x06010107, 0x0100, 0x0000, 2, "ClassDefinitionWeakReference", false, false},
        {"ClassDefinition", "Properties", 0x0009, 0x06010107, 0x0200, 0x0000, 2, "PropertyDefinitionStrongReferenceSet", true, false},
        {"ClassDefinition", "IsConcrete", 0x000A, 0x06010107, 0x0300, 0x0000, 2, "Boolean", false, false},
        {"PropertyDefinition", "Type", 0x000B, 0x06010107, 0x0400, 0x0000, 2, "AUID", false, false},
        {"PropertyDefinition", "IsOptional", 0x000C, 0x03010202, 0x0100, 0x0000, 2, "Boolean", false, false},
        {"PropertyDefinition", "LocalIdentification", 0x000D, 0x06010107, 0x0500, 0x0000, 2, "UInt16", false, false},
        {"PropertyDefinition", "IsUniqueIdentifier", 0x000E, 0x06010107, 0x0600, 0x0000, 2, "Boolean", true, false},
        {"TypeDefinitionInteger", "Size", 0x000F, 0x03010203, 0x0100, 0x0000, 2, "UInt8", false, false},
        {"TypeDefinitionInteger", "IsSigned", 0x0010, 0x03010203, 0x0200, 0x0000, 2, "Boolean", false, false},
        {"TypeDefinitionStrongObjectReference", "ReferencedType", 0x0011, 0x06010107, 0x0900, 0x0000, 2, "ClassDefinitionWeakReference", false, false},
        {"TypeDefinitionWeakObjectReference", "ReferencedType", 0x0012, 0x06010107, 0x0A00, 0x0000, 2, "ClassDefinitionWeakReference", false, false},
        {"TypeDefinitionWeakObjectReference", "TargetSet", 0x0013, 0x03010203, 0x0B00, 0x0000, 2, "AUIDArray", false, false},
        {"TypeDefinitionEnumeration", "ElementType", 0x0014, 0x06010107, 0x0B00, 0x0000, 2, "TypeDefinitionWeakReference", false, false},
        {"TypeDefinitionEnumeration", "ElementNames", 0x0015, 0x03010203, 0x0400, 0x0000, 2, "StringArray", false, false},
        {"TypeDefinitionEnumeration", "ElementValues", 0x0016, 0x03010203, 0x0500, 0x0000, 2, "Int64Array", false, false},
        {"TypeDefinitionFixedArray", "ElementType", 0x0017, 0x06010107, 0x0C00, 0x0000, 2, "TypeDefinitionWeakReference", false, false},
        {"TypeDefinitionFixedArray", "ElementCount", 0x0018, 0x03010203, 0x0300, 0x0000, 2, "UInt32", false, false},
        {"TypeDefinitionVariableArray", "ElementType", 0x0019, 0x06010107, 0x0D00, 0x0000, 2, "TypeDefinitionWeakReference", false, false},
        {"TypeDefinitionSet", "ElementType", 0x001A, 0x06010107, 0x0E00, 0x0000, 2, "TypeDefinitionWeakReference", false, false},
        {"TypeDefinitionString", "ElementType", 0x001B, 0x06010107, 0x0F00, 0x0000, 2, "TypeDefinitionWeakReference", false, false},
        {"TypeDefinitionRecord", "MemberTypes", 0x001C, 0x06010107, 0x1100, 0x0000, 2, "TypeDefinitionWeakReferenceVector", false, false},
        {"TypeDefinitionRecord", "MemberNames", 0x001D, 0x03010203, 0x0600, 0x0000, 2, "StringArray", false, false},
        {"TypeDefinitionRename", "RenamedType", 0x001E, 0x06010107, 0x1200, 0x0000, 2, "TypeDefinitionWeakReference", false, false},
        {"MetaDictionary", "ClassDefinitions", 0x0003, 0x06010107, 0x0700, 0x0000, 2, "ClassDefinitionStrongReferenceSet", true, false},
        {"MetaDictionary", "TypeDefinitions", 0x0004, 0x06010107, 0x0800, 0x0000, 2, "TypeDefinitionStrongReferenceSet", true, false},
    };
    return table;
}

aaf::Auid PropertyId(const PropertyEntry& p) {
    return {p.d1, p.d2, p.d3, {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, p.version}};
}

// The strong references at the root that weak reference targets start from.
const aaf::Auid kRootMetaDictionaryId = {0x0D010301, 0x0101, 0x0100, {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x02}};
const aaf::Auid kRootHeaderId = {0x0D010301, 0x0102, 0x0100, {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x02}};

const PropertyEntry* FindProperty(std::string_view owner, std::string_view name) {
    for (const PropertyEntry& p : Properties())
        if (owner == p.owner && name == p.name) return &p;
    return nullptr;
}

// [SECTION] Types

enum class TypeKind {
    Integer, Enumeration, Record, FixedArray, VariableArray, Set, String, Character, Stream, Indirect, Rename,
    StrongReference, WeakReference,
};

// Type ids are {d1-0000-0000-060E-2B34-01040101}.
struct TypeEntry {
    const char* name;
    std::uint32_t d1;
    TypeKind kind;
    const char* element = nullptr;  // element, renamed or integer-underlying type; referenced class
    std::uint32_t count = 0;        // integer size, fixed array count
    bool isSigned = false;
    std::vector<std::pair<const char*, const char*>> members = {};       // record: name, type
    std::vector<std::pair<const char*, std::int64_t>> enumerators = {};  // enumeration: name, value
    // Weak references: the root reference, then owner and name of each
    // property down to the set the target lies in.
    bool fromMetaDictionary = false;
    std::vector<std::pair<const char*, const char*>> target = {};
};

const std::vector<TypeEntry>& Types() {
    using K = TypeKind;
    static const std::vector<TypeEntry> table = {
        {"UInt8", 0x01010100, K::Integer, nullptr, 1, false},
        {"UInt16", 0x01010200, K::Integer, nullptr, 2, false},
        {"UInt32", 0x01010300, K::Integer, nullptr, 4, false},
        {"Int8", 0x01010500, K::Integer, nullptr, 1, true},
        {"Int16", 0x01010600, K::Integer, nullptr, 2, true},
        {"Int32", 0x01010700, K::Integer, nullptr, 4, true},
        {"Int64", 0x01010800, K::Integer, nullptr, 8, true},
        {"Boolean", 0x01040100, K::Enumeration, "UInt8", 0, false, {}, {{"kAAFFalse", 0}, {"kAAFTrue", 1}}},
        {"ProductReleaseType", 0x02010101, K::Enumeration, "UInt8", 0, false, {},
         {{"kAAFVersionUnknown", 0}, {"kAAFVersionReleased", 1}, {"kAAFVersionDebug", 2}, {"kAAFVersionPatched", 3},
          {"kAAFVersionBeta", 4}, {"kAAFVersionPrivateBuild", 5}}},
        {"UInt8Array8", 0x04010800, K::FixedArray, "UInt8", 8},
        {"UInt8Array12", 0x04010200, K::FixedArray, "UInt8", 12},
        {"Int64Array", 0x04010400, K::VariableArray, "Int64"},
        {"StringArray", 0x04010500, K::VariableArray, "Character"},
        {"AUIDArray", 0x04010600, K::VariableArray, "AUID"},
        {"DataValue", 0x04100100, K::VariableArray, "UInt8"},
        {"Rational", 0x03010100, K::Record, nullptr, 0, false, {{"Numerator", "Int32"}, {"Denominator", "Int32"}}},
        {"AUID", 0x01030100, K::Record, nullptr, 0, false,
         {{"Data1", "UInt32"}, {"Data2", "UInt16"}, {"Data3", "UInt16"}, {"Data4", "UInt8Array8"}}},
        {"MobIDType", 0x01030200, K::Record, nullptr, 0, false,
         {{"SMPTELabel", "UInt8Array12"}, {"length", "UInt8"}, {"instanceHigh", "UInt8"}, {"instanceMid", "UInt8"},
          {"instanceLow", "UInt8"}, {"material", "AUID"}}},
        {"ProductVersion", 0x03010200, K::Record, nullptr, 0, false,
         {{"major", "UInt16"}, {"minor", "UInt16"}, {"tertiary", "UInt16"}, {"patchLevel", "UInt16"},
          {"type", "ProductReleaseType"}}},
        {"VersionType", 0x03010300, K::Record, nullptr, 0, false, {{"major", "Int8"}, {"minor", "Int8"}}},
        {"DateStruct", 0x03010500, K::Record, nullptr, 0, false, {{"year", "Int16"}, {"month", "UInt8"}, {"day", "UInt8"}}},
        {"TimeStruct", 0x03010600, K::Record, nullptr, 0, false,
         {{"hour", "UInt8"}, {"minute", "UInt8"}, {"second", "UInt8"}, {"fraction", "UInt8"}}},
        {"TimeStamp", 0x03010700, K::Record, nullptr, 0, false, {{"date", "DateStruct"}, {"time", "TimeStruct"}}},
        {"PositionType", 0x01012001, K::Rename, "Int64"},
        {"LengthType", 0x01012002, K::Rename, "Int64"},
        {"Character", 0x01100100, K::Character},
        {"String", 0x01100200, K::String, "Character"},
        {"Stream", 0x04100200, K::Stream},
        {"Indirect", 0x04100300, K::Indirect},
        {"ContentStorageStrongReference", 0x05020100, K::StrongReference, "ContentStorage"},
        {"DictionaryStrongReference", 0x05020200, K::StrongReference, "Dictionary"},
        {"EssenceDescriptorStrongReference", 0x05020300, K::StrongReference, "EssenceDescriptor"},
        {"OperationGroupStrongReference", 0x05020500, K::StrongReference, "OperationGroup"},
        {"SegmentStrongReference", 0x05020600, K::StrongReference, "Segment"},
        {"ClassDefinitionStrongReference", 0x05020900, K::StrongReference, "ClassDefinition"},
        {"ComponentStrongReference", 0x05020B00, K::StrongReference, "Component"},
        {"ControlPointStrongReference", 0x05020D00, K::StrongReference, "ControlPoint"},
        {"DataDefinitionStrongReference", 0x05020E00, K::StrongReference, "DataDefinition"},
        {"EssenceDataStrongReference", 0x05020F00, K::StrongReference, "EssenceData"},
        {"IdentificationStrongReference", 0x05021000, K::StrongReference, "Identification"},
        {"InterpolationDefinitionStrongReference", 0x05021100, K::StrongReference, "InterpolationDefinition"},
        {"LocatorStrongReference", 0x05021200, K::StrongReference, "Locator"},
        {"MobStrongReference", 0x05021300, K::StrongReference, "Mob"},
        {"MobSlotStrongReference", 0x05021400, K::StrongReference, "MobSlot"},
        {"OperationDefinitionStrongReference", 0x05021500, K::StrongReference, "OperationDefinition"},
        {"ParameterStrongReference", 0x05021600, K::StrongReference, "Parameter"},
        {"ParameterDefinitionStrongReference", 0x05021700, K::StrongReference, "ParameterDefinition"},
        {"PropertyDefinitionStrongReference", 0x05021900, K::StrongReference, "PropertyDefinition"},
        {"TypeDefinitionStrongReference", 0x05021B00, K::StrongReference, "TypeDefinition"},
        {"ClassDefinitionStrongReferenceSet", 0x05050100, K::Set, "ClassDefinitionStrongReference"},
        {"DataDefinitionStrongReferenceSet", 0x05050400, K::Set, "DataDefinitionStrongReference"},
        {"EssenceDataStrongReferenceSet", 0x05050500, K::Set, "EssenceDataStrongReference"},
        {"InterpolationDefinitionStrongReferenceSet", 0x05050600, K::Set, "InterpolationDefinitionStrongReference"},
        {"MobStrongReferenceSet", 0x05050700, K::Set, "MobStrongReference"},
        {"OperationDefinitionStrongReferenceSet", 0x05050800, K::Set, "OperationDefinitionStrongReference"},
        {"ParameterDefinitionStrongReferenceSet", 0x05050900, K::Set, "ParameterDefinitionStrongReference"},
        {"PropertyDefinitionStrongReferenceSet", 0x05050B00, K::Set, "PropertyDefinitionStrongReference"},
        {"TypeDefinitionStrongReferenceSet", 0x05050C00, K::Set, "TypeDefinitionStrongReference"},
        {"ComponentStrongReferenceVector", 0x05060100, K::VariableArray, "ComponentStrongReference"},
        {"ControlPointStrongReferenceVector", 0x05060200, K::VariableArray, "ControlPointStrongReference"},
        {"IdentificationStrongReferenceVector", 0x05060300, K::VariableArray, "IdentificationStrongReference"},
        {"LocatorStrongReferenceVector", 0x05060400, K::VariableArray, "LocatorStrongReference"},
        {"MobSlotStrongReferenceVector", 0x05060500, K::VariableArray, "MobSlotStrongReference"},
        {"SegmentStrongReferenceVector", 0x05060600, K::VariableArray, "SegmentStrongReference"},
        {"ParameterStrongReferenceVector", 0x05060A00, K::VariableArray, "ParameterStrongReference"},
        {"ClassDefinitionWeakReference", 0x05010100, K::WeakReference, "ClassDefinition", 0, false, {}, {}, true,
         {{"MetaDictionary", "ClassDefinitions"}}},
        {"DataDefinitionWeakReference", 0x05010300, K::WeakReference, "DataDefinition", 0, false, {}, {}, false,
         {{"Header", "Dictionary"}, {"Dictionary", "DataDefinitions"}}},
        {"InterpolationDefinitionWeakReference", 0x05010500, K::WeakReference, "InterpolationDefinition", 0, false, {},
         {}, false, {{"Header", "Dictionary"}, {"Dictionary", "InterpolationDefinitions"}}},
        {"OperationDefinitionWeakReference", 0x05010700, K::WeakReference, "OperationDefinition", 0, false, {}, {},
         false, {{"Header", "Dictionary"}, {"Dictionary", "OperationDefinitions"}}},
        {"ParameterDefinitionWeakReference", 0x05010800, K::WeakReference, "ParameterDefinition", 0, false, {}, {},
         false, {{"Header", "Dictionary"}, {"Dictionary", "ParameterDefinitions"}}},
        {"TypeDefinitionWeakReference", 0x05010900, K::WeakReference, "TypeDefinition", 0, false, {}, {}, true,
         {{"MetaDictionary", "TypeDefinitions"}}},
        {"ParameterDefinitionWeakReferenceSet", 0x05030E00, K::Set, "ParameterDefinitionWeakReference"},
        {"TypeDefinitionWeakReferenceVector", 0x05040200, K::VariableArray, "TypeDefinitionWeakReference"},
    };
    return table;
}

aaf::Auid TypeId(const TypeEntry& t) {
    return {t.d1, 0x0000, 0x0000, {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x04, 0x01, 0x01}};
}

const TypeEntry* FindType(std::string_view name) {
    for (const TypeEntry& t : Types())
        if (name == t.name) return &t;
    return nullptr;
}

const char* TypeClass(TypeKind kind) {
    switch (kind) {
    case TypeKind::Integer: return "TypeDefinitionInteger";
    case TypeKind::Enumeration: return "TypeDefinitionEnumeration";
    case TypeKind::Record: return "TypeDefinitionRecord";
    case TypeKind::FixedArray: return "TypeDefinitionFixedArray";
    case TypeKind::VariableArray: return "TypeDefinitionVariableArray";
    case TypeKind::Set: return "TypeDefinitionSet";
    case TypeKind::String: return "TypeDefinitionString";
    case TypeKind::Character: return "TypeDefinitionCharacter";
    case TypeKind::Stream: return "TypeDefinitionStream";
    case TypeKind::Indirect: return "TypeDefinitionIndirect";
    case TypeKind::Rename: return "TypeDefinitionRename";
    case TypeKind::StrongReference: return "TypeDefinitionStrongObjectReference";
    case TypeKind::WeakReference: return "TypeDefinitionWeakObjectReference";
    }
    return "TypeDefinition";
}

// [SECTION] Closure and stored definitions

struct Closure {
    std::set<std::string> classes, types;
    bool grew = false;

    void AddClass(const char* name) {
        for (const ClassEntry* c = FindClass(name); c;) {
            if (!classes.insert(c->name).second) return;
            grew = true;
            if (std::string_view(c->parent) == c->name) return;
            c = FindClass(c->parent);
        }
    }

    void AddType(const char* name) {
        const TypeEntry* t = name ? FindType(name) : nullptr;
        if (!t || !types.insert(t->name).second) return;
        grew = true;
        AddClass(TypeClass(t->kind));
        if (t->kind == TypeKind::StrongReference || t->kind == TypeKind::WeakReference) {
            AddClass(t->element);
        } else {
            AddType(t->element);
        }
        for (const auto& [member, type] : t->members) AddType(type);
    }
};

std::vector<std::uint8_t> Bool(bool b) { return {static_cast<std::uint8_t>(b ? 1 : 0)}; }

std::vector<std::uint8_t> StringArray(const std::vector<const char*>& names) {
    std::vector<std::uint8_t> out;
    for (const char* n : names) aaf::AppendString(out, aaf::ToU16(n));
    return out;
}

void SetWeakType(aaf::StoredObject& o, std::uint16_t pid, const char* type) {
    o.SetWeakReference(pid, kTypeDefinitionsPath, kIdentification, aaf::EncodeAuid(TypeId(*FindType(type))));
}

std::unique_ptr<aaf::StoredObject> StoredType(const TypeEntry& t) {
    auto o = std::make_unique<aaf::StoredObject>(ClassId(*FindClass(TypeClass(t.kind))));
    o->SetData(kIdentification, aaf::EncodeAuid(TypeId(t)));
    o->SetData(kName, aaf::EncodeString(aaf::ToU16(t.name)));
    switch (t.kind) {
    case TypeKind::Integer:
        o->SetData(kIntegerSize, {static_cast<std::uint8_t>(t.count)});
        o->SetData(kIntegerIsSigned, Bool(t.isSigned));
        break;
    case TypeKind::Enumeration: {
        SetWeakType(*o, kEnumElementType, t.element);
        std::vector<const char*> names;
        std::vector<std::uint8_t> values;
        for (const auto& [name, value] : t.enumerators) {
            names.push_back(name);
            aaf::AppendU64(values, static_cast<std::uint64_t>(value));
        }
        o->SetData(kEnumElementNames, StringArray(names));
        o->SetData(kEnumElementValues, values);
        break;
    }
    case TypeKind::Record: {
        std::vector<const char*> names;
        std::vector<std::vector<std::uint8_t>> keys;
        for (const auto& [name, type] : t.members) {
            names.push_back(name);
            keys.push_back(aaf::EncodeAuid(TypeId(*FindType(type))));
        }
        o->SetWeakReferences(kRecordMemberTypes, "MemberTypes", aaf::StoredForm::WeakReferenceVector,
                             kTypeDefinitionsPath, kIdentification, std::move(keys));
        o->SetData(kRecordMemberNames, StringArray(names));
        break;
    }
    case TypeKind::FixedArray: {
        SetWeakType(*o, kFixedElementType, t.element);
        std::vector<std::uint8_t> count;
        aaf::AppendU32(count, t.count);
        o->SetData(kFixedElementCount, count);
        break;
    }
    case TypeKind::VariableArray: SetWeakType(*o, kVariableElementType, t.element); break;
    case TypeKind::Set: SetWeakType(*o, kSetElementType, t.element); break;
    case TypeKind::String: SetWeakType(*o, kStringElementType, t.element); break;
    case TypeKind::Rename: SetWeakType(*o, kRenamedType, t.element); break;
    case TypeKind::StrongReference:
        o->SetWeakReference(kStrongReferencedType, kClassDefinitionsPath, kIdentification,
                            aaf::EncodeAuid(ClassId(*FindClass(t.element))));
        break;
    case TypeKind::WeakReference: {
        o->SetWeakReference(kWeakReferencedType, kClassDefinitionsPath, kIdentification,
                            aaf::EncodeAuid(ClassId(*FindClass(t.element))));
        std::vector<std::uint8_t> target;
        aaf::AppendAuid(target, t.fromMetaDictionary ? kRootMetaDictionaryId : kRootHeaderId);
        for (const auto& [owner, name] : t.target) aaf::AppendAuid(target, PropertyId(*FindProperty(owner, name)));
        o->SetData(kWeakTargetSet, target);
        break;
    }
    case TypeKind::Character:
    case TypeKind::Stream:
    case TypeKind::Indirect:
        break;
    }
    return o;
}

std::unique_ptr<aaf::StoredObject> StoredProperty(const PropertyEntry& p) {
    auto o = std::make_unique<aaf::StoredObject>(ClassId(*FindClass("PropertyDefinition")));
    o->SetData(kIdentification, aaf::EncodeAuid(PropertyId(p)));
    o->SetData(kName, aaf::EncodeString(aaf::ToU16(p.name)));
    o->SetData(kPropertyType, aaf::EncodeAuid(TypeId(*FindType(p.type))));
    o->SetData(kIsOptional, Bool(p.optional));
    std::vector<std::uint8_t> pid;
    aaf::AppendU16(pid, p.pid);
    o->SetData(kLocalIdentification, pid);
    if (p.unique) o->SetData(kIsUniqueIdentifier, Bool(true));
    return o;
}

std::unique_ptr<aaf::StoredObject> StoredClass(const ClassEntry& c) {
    auto o = std::make_unique<aaf::StoredObject>(ClassId(*FindClass("ClassDefinition")));
    o->SetData(kIdentification, aaf::EncodeAuid(ClassId(c)));
    o->SetData(kName, aaf::EncodeString(aaf::ToU16(c.name)));
    o->SetWeakReference(kParentClass, kClassDefinitionsPath, kIdentification,
                        aaf::EncodeAuid(ClassId(*FindClass(c.parent))));
    std::vector<std::unique_ptr<aaf::StoredObject>> properties;
    std::vector<std::vector<std::uint8_t>> keys;
    for (const PropertyEntry& p : Properties()) {
        if (std::string_view(p.owner) != c.name) continue;
        properties.push_back(StoredProperty(p));
        keys.push_back(aaf::EncodeAuid(PropertyId(p)));
    }
    o->SetStrongReferenceSet(kProperties, "Properties", kIdentification, std::move(properties), std::move(keys));
    o->properties.back().emptyKeySize = 16;
    o->SetData(kIsConcrete, Bool(c.concrete));
    return o;
}

}  // namespace

std::unique_ptr<aaf::StoredObject> BuildMetaDictionary(const std::vector<aaf::Auid>& usedClasses) {
    Closure closure;
    for (const aaf::Auid& id : usedClasses)
        for (const ClassEntry& c : Classes())
            if (ClassId(c) == id) closure.AddClass(c.name);
    // The meta-dictionary describes its own objects too.
    for (const char* meta : {"MetaDictionary", "ClassDefinition", "PropertyDefinition"}) closure.AddClass(meta);
    do {
        closure.grew = false;
        const std::set<std::string> classes = closure.classes;
        for (const PropertyEntry& p : Properties())
            if (classes.count(p.owner)) closure.AddType(p.type);
    } while (closure.grew);

    auto meta = std::make_unique<aaf::StoredObject>(ClassId(*FindClass("MetaDictionary")));
    std::vector<std::unique_ptr<aaf::StoredObject>> classes, types;
    std::vector<std::vector<std::uint8_t>> classKeys, typeKeys;
    for (const ClassEntry& c : Classes()) {
        if (!closure.classes.count(c.name)) continue;
        classes.push_back(StoredClass(c));
        classKeys.push_back(aaf::EncodeAuid(ClassId(c)));
    }
    for (const TypeEntry& t : Types()) {
        if (!closure.types.count(t.name)) continue;
        types.push_back(StoredType(t));
        typeKeys.push_back(aaf::EncodeAuid(TypeId(t)));
    }
    meta->SetStrongReferenceSet(kClassDefinitions, "ClassDefinitions", kIdentification, std::move(classes),
                                std::move(classKeys));
    meta->SetStrongReferenceSet(kTypeDefinitions, "TypeDefinitions", kIdentification, std::move(types),
                                std::move(typeKeys));
    return meta;
}

}  // namespace korvel::aafrt
