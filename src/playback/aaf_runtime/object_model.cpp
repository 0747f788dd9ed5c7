// Index of this file:
// [SECTION] Identifiers, pids and the class table
// [SECTION] Object basics: interfaces, references, properties
// [SECTION] File and header
// [SECTION] Dictionary and definitions
// [SECTION] Mobs, descriptors and locators
// [SECTION] Components, parameters, slots and events
// [SECTION] Saving: stored objects and the meta-dictionary
// [SECTION] New files
#include "playback/aaf_runtime/object_model.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <new>
#include <random>

#include "playback/aaf_runtime/meta_model.h"

namespace korvel::aafrt {

namespace {

// Every method runs its body here: no exception leaves the runtime.
template <typename Body>
AAFRESULT Guard(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return AAFRESULT_NOMEMORY;
    } catch (...) {
        return AAFRESULT_UNEXPECTED_EXCEPTION;
    }
}

// [SECTION] Identifiers, pids and the class table

// Answers the runtime's own object behind an interface pointer.
constexpr aafUID_t kIID_RuntimeObject = {0x4b5652ffu, 0x4141, 0x4646, {0x80, 0x00, 0x4b, 0x6f, 0x72, 0x76, 0x65, 0x6c}};

aaf::Auid ToAuid(const aafUID_t& u) {
    aaf::Auid a;
    a.data1 = u.Data1;
    a.data2 = u.Data2;
    a.data3 = u.Data3;
    for (int i = 0; i < 8; ++i) a.data4[i] = u.Data4[i];
    return a;
}

constexpr aafUID_t kClassDefinitionClass = {0x0d010101u, 0x0201, 0x0000, {0x06, 0x0e, 0x2b, 0x34, 0x02, 0x06, 0x01, 0x01}};
constexpr aafUID_t kTypeDefinitionRecordClass = {0x0d010101u, 0x020d, 0x0000, {0x06, 0x0e, 0x2b, 0x34, 0x02, 0x06, 0x01, 0x01}};
constexpr aafUID_t kMetaDictionaryClass = {0x0d010101u, 0x0225, 0x0000, {0x06, 0x0e, 0x2b, 0x34, 0x02, 0x06, 0x01, 0x01}};

constexpr aafUID_t kSoundDef = {0x01030202, 0x0200, 0x0000, {0x06, 0x0e, 0x2b, 0x34, 0x04, 0x01, 0x01, 0x01}};
constexpr aafUID_t kTimecodeDef = {0x01030201, 0x0100, 0x0000, {0x06, 0x0e, 0x2b, 0x34, 0x04, 0x01, 0x01, 0x01}};
constexpr aafUID_t kRationalType = {0x03010100, 0x0000, 0x0000, {0x06, 0x0e, 0x2b, 0x34, 0x01, 0x04, 0x01, 0x01}};

// Pids of the properties written (local identifiers of the baseline).
enum Pid : std::uint16_t {
    kRootMetaDictionary = 0x0001, kRootHeader = 0x0002,
    kMetaClassDefinitions = 0x0003, kMetaTypeDefinitions = 0x0004,
    kMetaIdentification = 0x0005, kMetaName = 0x0006, kMetaDescription = 0x0007,
    kClassParent = 0x0008, kClassIsConcrete = 0x000A,
    kComponentDataDefinition = 0x0201, kComponentLength = 0x0202,
    kEventPosition = 0x0601, kEventComment = 0x0602,
    kOperationGroupOperation = 0x0B01, kOperationGroupInputs = 0x0B02, kOperationGroupParameters = 0x0B03,
    kSequenceComponents = 0x1001,
    kSourceReferenceID = 0x1101, kSourceReferenceSlotID = 0x1102,
    kSourceClipStartTime = 0x1201,
    kTimecodeStart = 0x1501, kTimecodeFPS = 0x1502, kTimecodeDrop = 0x1503,
    kTransitionOperationGroup = 0x1801, kTransitionCutPoint = 0x1802,
    kContentMobs = 0x1901, kContentEssenceData = 0x1902,
    kEssenceDataMobID = 0x2701,
    kControlPointValue = 0x1A02, kControlPointTime = 0x1A03,
    kDefIdentification = 0x1B01, kDefName = 0x1B02, kDefDescription = 0x1B03,
    kOperationDefDataDefinition = 0x1E01, kOperationDefIsTimeWarp = 0x1E02, kOperationDefNumberInputs = 0x1E07,
    kOperationDefParametersDefined = 0x1E09,
    kParameterDefType = 0x1F01,
    kDictionaryOperationDefinitions = 0x2603, kDictionaryParameterDefinitions = 0x2604,
    kDictionaryDataDefinitions = 0x2605, kDictionaryInterpolationDefinitions = 0x2609,
    kEssenceDescriptorLocator = 0x2F01,
    kFileDescriptorSampleRate = 0x3001, kFileDescriptorLength = 0x3002,
    kWAVEDescriptorSummary = 0x3801,
    kHeaderByteOrder = 0x3B01, kHeaderLastModified = 0x3B02, kHeaderContent = 0x3B03, kHeaderDictionary = 0x3B04,
    kHeaderVersion = 0x3B05, kHeaderIdentificationList = 0x3B06, kHeaderObjectModelVersion = 0x3B07,
    kIdentCompanyName = 0x3C01, kIdentProductName = 0x3C02, kIdentProductVersion = 0x3C03,
    kIdentProductVersionString = 0x3C04, kIdentProductID = 0x3C05, kIdentDate = 0x3C06,
    kIdentToolkitVersion = 0x3C07, kIdentPlatform = 0x3C08, kIdentGenerationAUID = 0x3C09,
    kNetworkLocatorURL = 0x4001,
    kMobID = 0x4401, kMobName = 0x4402, kMobSlots = 0x4403, kMobLastModified = 0x4404, kMobCreationTime = 0x4405,
    kSourceMobEssenceDescription = 0x4701,
    kSlotID = 0x4801, kSlotName = 0x4802, kSlotSegment = 0x4803,
    kEventSlotEditRate = 0x4901,
    kTimelineSlotEditRate = 0x4B01, kTimelineSlotOrigin = 0x4B02,
    kParameterDefinition = 0x4C01,
    kConstantValueValue = 0x4D01,
    kVaryingValueInterpolation = 0x4E01, kVaryingValuePointList = 0x4E02,
};

// Names that strong references and collections take their storages from.
const char* PropertyName(std::uint16_t pid) {
    switch (pid) {
    case kRootMetaDictionary: return "MetaDictionary";
    case kRootHeader: return "Header";
    case kMetaClassDefinitions: return "ClassDefinitions";
    case kMetaTypeDefinitions: return "TypeDefinitions";
    case kOperationGroupInputs: return "InputSegments";
    case kOperationGroupParameters: return "Parameters";
    case kSequenceComponents: return "Components";
    case kTransitionOperationGroup: return "OperationGroup";
    case kContentMobs: return "Mobs";
    case kContentEssenceData: return "EssenceData";
    case kOperationDefParametersDefined: return "ParametersDefined";
    case kDictionaryOperationDefinitions: return "OperationDefinitions";
    case kDictionaryParameterDefinitions: return "ParameterDefinitions";
    case kDictionaryDataDefinitions: return "DataDefinitions";
    case kDictionaryInterpolationDefinitions: return "InterpolationDefinitions";
    case kEssenceDescriptorLocator: return "Locator";
    case kHeaderContent: return "Content";
    case kHeaderDictionary: return "Dictionary";
    case kHeaderIdentificationList: return "IdentificationList";
    case kMobSlots: return "Slots";
    case kSourceMobEssenceDescription: return "EssenceDescription";
    case kSlotSegment: return "Segment";
    case kVaryingValuePointList: return "PointList";
    default: return "Property";
    }
}

// The size of the key a set is indexed by: a mob id or an AUID.
std::uint8_t KeySizeOf(std::uint16_t keyPid) {
    return keyPid == kMobID || keyPid == kEssenceDataMobID ? 32 : 16;
}

// Where weak references point: paths of pids from the root.
const aaf::PropertyPath kDataDefinitionsPath = {kRootHeader, kHeaderDictionary, kDictionaryDataDefinitions};
const aaf::PropertyPath kOperationDefinitionsPath = {kRootHeader, kHeaderDictionary, kDictionaryOperationDefinitions};
const aaf::PropertyPath kParameterDefinitionsPath = {kRootHeader, kHeaderDictionary, kDictionaryParameterDefinitions};
const aaf::PropertyPath kInterpolationDefinitionsPath = {kRootHeader, kHeaderDictionary,
                                                         kDictionaryInterpolationDefinitions};
const aaf::PropertyPath kTypeDefinitionsPath = {kRootMetaDictionary, kMetaTypeDefinitions};

struct ClassInfo {
    aafUID_t id;
    const char* name;
    aafUID_t parent;
    Kind kind;        // what CreateInstance makes
    bool concrete;
};

const std::vector<ClassInfo>& ClassTable() {
    static const std::vector<ClassInfo> table = {
        {AUID_AAFInterchangeObject, "InterchangeObject", AUID_AAFInterchangeObject, Kind::File, false},
        {AUID_AAFComponent, "Component", AUID_AAFInterchangeObject, Kind::File, false},
        {AUID_AAFSegment, "Segment", AUID_AAFComponent, Kind::File, false},
        {AUID_AAFEvent, "Event", AUID_AAFSegment, Kind::File, false},
        {AUID_AAFCommentMarker, "CommentMarker", AUID_AAFEvent, Kind::CommentMarker, true},
        {AUID_AAFFiller, "Filler", AUID_AAFSegment, Kind::Filler, true},
        {AUID_AAFOperationGroup, "OperationGroup", AUID_AAFSegment, Kind::OperationGroup, true},
        {AUID_AAFSequence, "Sequence", AUID_AAFSegment, Kind::Sequence, true},
        {AUID_AAFSourceReference, "SourceReference", AUID_AAFSegment, Kind::File, false},
        {AUID_AAFSourceClip, "SourceClip", AUID_AAFSourceReference, Kind::SourceClip, true},
        {AUID_AAFTimecode, "Timecode", AUID_AAFSegment, Kind::Timecode, true},
        {AUID_AAFTransition, "Transition", AUID_AAFComponent, Kind::Transition, true},
        {AUID_AAFContentStorage, "ContentStorage", AUID_AAFInterchangeObject, Kind::ContentStorage, true},
        {AUID_AAFControlPoint, "ControlPoint", AUID_AAFInterchangeObject, Kind::ControlPoint, true},
        {AUID_AAFDefinitionObject, "DefinitionObject", AUID_AAFInterchangeObject, Kind::File, false},
        {AUID_AAFDataDefinition, "DataDefinition", AUID_AAFDefinitionObject, Kind::DataDef, true},
        {AUID_AAFOperationDefinition, "OperationDefinition", AUID_AAFDefinitionObject, Kind::OperationDef, true},
        {AUID_AAFParameterDefinition, "ParameterDefinition", AUID_AAFDefinitionObject, Kind::ParameterDef, true},
        {AUID_AAFInterpolationDefinition, "InterpolationDefinition", AUID_AAFDefinitionObject,
         Kind::InterpolationDef, true},
        {AUID_AAFDictionary, "Dictionary", AUID_AAFInterchangeObject, Kind::Dictionary, true},
        {AUID_AAFEssenceDescriptor, "EssenceDescriptor", AUID_AAFInterchangeObject, Kind::File, false},
        {AUID_AAFFileDescriptor, "FileDescriptor", AUID_AAFEssenceDescriptor, Kind::File, false},
        {AUID_AAFWAVEDescriptor, "WAVEDescriptor", AUID_AAFFileDescriptor, Kind::WAVEDescriptor, true},
        {AUID_AAFHeader, "Header", AUID_AAFInterchangeObject, Kind::Header, true},
        {AUID_AAFIdentification, "Identification", AUID_AAFInterchangeObject, Kind::Identification, true},
        {AUID_AAFLocator, "Locator", AUID_AAFInterchangeObject, Kind::File, false},
        {AUID_AAFNetworkLocator, "NetworkLocator", AUID_AAFLocator, Kind::NetworkLocator, true},
        {AUID_AAFMob, "Mob", AUID_AAFInterchangeObject, Kind::File, false},
        {AUID_AAFCompositionMob, "CompositionMob", AUID_AAFMob, Kind::CompositionMob, true},
        {AUID_AAFMasterMob, "MasterMob", AUID_AAFMob, Kind::MasterMob, true},
        {AUID_AAFSourceMob, "SourceMob", AUID_AAFMob, Kind::SourceMob, true},
        {AUID_AAFMobSlot, "MobSlot", AUID_AAFInterchangeObject, Kind::File, false},
        {AUID_AAFEventMobSlot, "EventMobSlot", AUID_AAFMobSlot, Kind::EventMobSlot, true},
        {AUID_AAFTimelineMobSlot, "TimelineMobSlot", AUID_AAFMobSlot, Kind::TimelineMobSlot, true},
        {AUID_AAFParameter, "Parameter", AUID_AAFInterchangeObject, Kind::File, false},
        {AUID_AAFConstantValue, "ConstantValue", AUID_AAFParameter, Kind::ConstantValue, true},
        {AUID_AAFVaryingValue, "VaryingValue", AUID_AAFParameter, Kind::VaryingValue, true},
    };
    return table;
}

const ClassInfo* FindClass(const aafUID_t& id) {
    for (const ClassInfo& c : ClassTable())
        if (c.id == id) return &c;
    return nullptr;
}

const ClassInfo* FindClass(const aaf::Auid& id) {
    for (const ClassInfo& c : ClassTable())
        if (ToAuid(c.id) == id) return &c;
    return nullptr;
}

aaf::Auid ClassOf(Kind kind) {
    switch (kind) {
    case Kind::MetaDictionary: return ToAuid(kMetaDictionaryClass);
    case Kind::MetaClass: return ToAuid(kClassDefinitionClass);
    case Kind::MetaType: return ToAuid(kTypeDefinitionRecordClass);
    default: break;
    }
    for (const ClassInfo& c : ClassTable())
        if (c.concrete && c.kind == kind) return ToAuid(c.id);
    return {};
}

std::u16string Text(const aafCharacter* s) {
    std::u16string out;
    if (s)
        while (*s) out.push_back(*s++);
    return out;
}

std::vector<std::uint8_t> U16(std::uint16_t v) { std::vector<std::uint8_t> b; aaf::AppendU16(b, v); return b; }
std::vector<std::uint8_t> U32(std::uint32_t v) { std::vector<std::uint8_t> b; aaf::AppendU32(b, v); return b; }
std::vector<std::uint8_t> I64(std::int64_t v) {
    std::vector<std::uint8_t> b;
    aaf::AppendU64(b, static_cast<std::uint64_t>(v));
    return b;
}
std::vector<std::uint8_t> Rational(const aafRational_t& r) {
    std::vector<std::uint8_t> b;
    aaf::AppendRational(b, {r.numerator, r.denominator});
    return b;
}
std::vector<std::uint8_t> MobIdBytes(const aafMobID_t& id) {
    std::vector<std::uint8_t> b(reinterpret_cast<const std::uint8_t*>(id.SMPTELabel),
                                reinterpret_cast<const std::uint8_t*>(id.SMPTELabel) + 16);
    aaf::AppendAuid(b, ToAuid(id.material));
    return b;
}
std::vector<std::uint8_t> Now() {
    const std::time_t t = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&t, &utc);
    std::vector<std::uint8_t> b;
    aaf::AppendTimeStamp(b, {static_cast<std::int16_t>(utc.tm_year + 1900), static_cast<std::uint8_t>(utc.tm_mon + 1),
                             static_cast<std::uint8_t>(utc.tm_mday), static_cast<std::uint8_t>(utc.tm_hour),
                             static_cast<std::uint8_t>(utc.tm_min), static_cast<std::uint8_t>(utc.tm_sec), 0});
    return b;
}

// A fresh random AUID (version 4 layout) for mob materials and generations.
aaf::Auid RandomAuid() {
    static thread_local std::mt19937_64 rng{std::random_device{}() ^
                                            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    const std::uint64_t a = rng(), b = rng();
    aaf::Auid id;
    id.data1 = static_cast<std::uint32_t>(a);
    id.data2 = static_cast<std::uint16_t>(a >> 32);
    id.data3 = static_cast<std::uint16_t>(((a >> 48) & 0x0FFF) | 0x4000);
    for (int i = 0; i < 8; ++i) id.data4[i] = static_cast<std::uint8_t>(b >> (8 * i));
    id.data4[0] = static_cast<std::uint8_t>((id.data4[0] & 0x3F) | 0x80);
    return id;
}

aafUID_t ToUid(const aaf::Auid& a) {
    aafUID_t u{a.data1, a.data2, a.data3, {}};
    for (int i = 0; i < 8; ++i) u.Data4[i] = a.data4[i];
    return u;
}

}  // namespace

std::string ToUtf8(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xDC80 && c < 0xDD00) {
            // A lone U+DC80..U+DCFF carries a path byte that is not UTF-8.
            out.push_back(static_cast<char>(c - 0xDC00));
            continue;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// [SECTION] Object basics: interfaces, references, properties

Object::Object(Kind kind, std::shared_ptr<FileState> state)
    : kind_(kind), classId_(ClassOf(kind)), state_(std::move(state)) {}

Object::~Object() {
    for (Property& p : properties_)
        for (Object* o : p.objects) o->Release();
    if (kind_ == Kind::File && state_) {
        Object* header = state_->header;
        Object* meta = state_->metaDictionary;
        state_->header = nullptr;
        state_->metaDictionary = nullptr;
        if (header) header->Release();
        if (meta) meta->Release();
    }
}

Object* Object::From(IAAFUnknown* p) {
    if (!p) return nullptr;
    void* out = nullptr;
    if (p->QueryInterface(kIID_RuntimeObject, &out) != AAFRESULT_SUCCESS) return nullptr;
    return static_cast<Object*>(out);
}

bool Object::Supports(const aafUID_t& iid) const {
    const bool component = kind_ == Kind::SourceClip || kind_ == Kind::Sequence || kind_ == Kind::Filler ||
                           kind_ == Kind::Transition || kind_ == Kind::Timecode || kind_ == Kind::OperationGroup ||
                           kind_ == Kind::CommentMarker;
    const bool mob = kind_ == Kind::SourceMob || kind_ == Kind::MasterMob || kind_ == Kind::CompositionMob;
    if (iid == IID_IAAFUnknown) return true;
    if (iid == IID_IAAFFile) return kind_ == Kind::File;
    if (iid == IID_IAAFHeader) return kind_ == Kind::Header;
    if (iid == IID_IAAFDictionary) return kind_ == Kind::Dictionary;
    if (iid == IID_IAAFClassDef) return kind_ == Kind::ClassDef;
    if (iid == IID_IAAFPluginManager) return kind_ == Kind::PluginManager;
    if (iid == IID_IAAFDataDef) return kind_ == Kind::DataDef;
    if (iid == IID_IAAFTypeDef) return kind_ == Kind::MetaType;
    if (iid == IID_IAAFParameterDef) return kind_ == Kind::ParameterDef;
    if (iid == IID_IAAFOperationDef) return kind_ == Kind::OperationDef;
    if (iid == IID_IAAFInterpolationDef) return kind_ == Kind::InterpolationDef;
    if (iid == IID_IAAFMob) return mob;
    if (iid == IID_IAAFSourceMob) return kind_ == Kind::SourceMob;
    if (iid == IID_IAAFMasterMob) return kind_ == Kind::MasterMob;
    if (iid == IID_IAAFCompositionMob) return kind_ == Kind::CompositionMob;
    if (iid == IID_IAAFEssenceDescriptor || iid == IID_IAAFFileDescriptor || iid == IID_IAAFWAVEDescriptor)
        return kind_ == Kind::WAVEDescriptor;
    if (iid == IID_IAAFLocator || iid == IID_IAAFNetworkLocator) return kind_ == Kind::NetworkLocator;
    if (iid == IID_IAAFComponent) return component;
    if (iid == IID_IAAFSegment) return component && kind_ != Kind::Transition;
    if (iid == IID_IAAFSourceClip) return kind_ == Kind::SourceClip;
    if (iid == IID_IAAFSequence) return kind_ == Kind::Sequence;
    if (iid == IID_IAAFFiller) return kind_ == Kind::Filler;
    if (iid == IID_IAAFTransition) return kind_ == Kind::Transition;
    if (iid == IID_IAAFTimecode) return kind_ == Kind::Timecode;
    if (iid == IID_IAAFOperationGroup) return kind_ == Kind::OperationGroup;
    if (iid == IID_IAAFParameter) return kind_ == Kind::ConstantValue || kind_ == Kind::VaryingValue;
    if (iid == IID_IAAFConstantValue) return kind_ == Kind::ConstantValue;
    if (iid == IID_IAAFVaryingValue) return kind_ == Kind::VaryingValue;
    if (iid == IID_IAAFControlPoint) return kind_ == Kind::ControlPoint;
    if (iid == IID_IAAFMobSlot) return kind_ == Kind::TimelineMobSlot || kind_ == Kind::EventMobSlot;
    if (iid == IID_IAAFTimelineMobSlot) return kind_ == Kind::TimelineMobSlot;
    if (iid == IID_IAAFEventMobSlot) return kind_ == Kind::EventMobSlot;
    if (iid == IID_IAAFEvent || iid == IID_IAAFCommentMarker) return kind_ == Kind::CommentMarker;
    return false;
}

AAFRESULT Object::QueryInterface(const aafUID_t& iid, void** out) {
    return Guard([&]() -> AAFRESULT {
        if (!out) return AAFRESULT_NULL_PARAM;
        *out = nullptr;
        if (iid == kIID_RuntimeObject) {
            *out = this;
            return AAFRESULT_SUCCESS;
        }
        if (!Supports(iid)) return AAFRESULT_NO_INTERFACE;
        void* p = nullptr;
#define KORVEL_QI(name) \
    if (iid == IID_##name) p = static_cast<name*>(this);
        KORVEL_QI(IAAFFile) KORVEL_QI(IAAFHeader) KORVEL_QI(IAAFDictionary) KORVEL_QI(IAAFClassDef)
        KORVEL_QI(IAAFPluginManager) KORVEL_QI(IAAFDataDef) KORVEL_QI(IAAFTypeDef) KORVEL_QI(IAAFParameterDef)
        KORVEL_QI(IAAFOperationDef) KORVEL_QI(IAAFInterpolationDef) KORVEL_QI(IAAFMob) KORVEL_QI(IAAFSourceMob)
        KORVEL_QI(IAAFMasterMob) KORVEL_QI(IAAFCompositionMob) KORVEL_QI(IAAFEssenceDescriptor)
        KORVEL_QI(IAAFFileDescriptor) KORVEL_QI(IAAFWAVEDescriptor) KORVEL_QI(IAAFLocator)
        KORVEL_QI(IAAFNetworkLocator) KORVEL_QI(IAAFComponent) KORVEL_QI(IAAFSegment) KORVEL_QI(IAAFSourceClip)
        KORVEL_QI(IAAFSequence) KORVEL_QI(IAAFFiller) KORVEL_QI(IAAFTransition) KORVEL_QI(IAAFTimecode)
        KORVEL_QI(IAAFOperationGroup) KORVEL_QI(IAAFParameter) KORVEL_QI(IAAFConstantValue)
        KORVEL_QI(IAAFVaryingValue) KORVEL_QI(IAAFControlPoint) KORVEL_QI(IAAFMobSlot)
        KORVEL_QI(IAAFTimelineMobSlot) KORVEL_QI(IAAFEventMobSlot) KORVEL_QI(IAAFEvent) KORVEL_QI(IAAFCommentMarker)
#undef KORVEL_QI
        if (iid == IID_IAAFUnknown) p = Unknown();
        if (!p) return AAFRESULT_NO_INTERFACE;
        ++refs_;
        *out = p;
        return AAFRESULT_SUCCESS;
    });
}

std::uint32_t Object::AddRef() { return ++refs_; }

std::uint32_t Object::Release() {
    const std::uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
}

Property& Object::Prop(std::uint16_t pid, aaf::StoredForm form) {
    for (Property& p : properties_)
        if (p.pid == pid) return p;
    Property p;
    p.pid = pid;
    p.form = form;
    properties_.push_back(std::move(p));
    return properties_.back();
}

const Property* Object::FindProp(std::uint16_t pid) const {
    for (const Property& p : properties_)
        if (p.pid == pid) return &p;
    return nullptr;
}

void Object::SetData(std::uint16_t pid, std::vector<std::uint8_t> bytes) {
    Prop(pid, aaf::StoredForm::Data).bytes = std::move(bytes);
}

bool Object::AppendChild(std::uint16_t pid, aaf::StoredForm form, Object* child) {
    if (child->attached_ || child == this || child->kind_ == Kind::File) return false;
    Prop(pid, form).objects.push_back(child);
    child->AddRef();
    child->attached_ = true;
    return true;
}

bool Object::SetChild(std::uint16_t pid, Object* child) {
    if (child->attached_ || child == this) return false;
    Property& p = Prop(pid, aaf::StoredForm::StrongReference);
    for (Object* old : p.objects) {
        old->attached_ = false;
        old->Release();
    }
    p.objects.clear();
    p.objects.push_back(child);
    child->AddRef();
    child->attached_ = true;
    return true;
}

void Object::SetWeak(std::uint16_t pid, const aaf::PropertyPath& target, std::uint16_t keyPid,
                     std::vector<std::uint8_t> key) {
    Property& p = Prop(pid, aaf::StoredForm::WeakReference);
    p.target = target;
    p.keyPid = keyPid;
    p.keys.assign(1, std::move(key));
}

std::vector<std::uint8_t> Object::Identification() const {
    const std::uint16_t pid = (kind_ == Kind::MetaClass || kind_ == Kind::MetaType) ? kMetaIdentification
                                                                                      : kDefIdentification;
    const Property* p = FindProp(pid);
    return p ? p->bytes : std::vector<std::uint8_t>{};
}

Object* Object::Dictionary() const {
    if (!state_ || !state_->header) return nullptr;
    const Property* p = state_->header->FindProp(kHeaderDictionary);
    return p && !p->objects.empty() ? p->objects.front() : nullptr;
}

Object* Object::DictionaryElement(std::uint16_t setPid, const aafUID_t& id) const {
    const std::vector<std::uint8_t> key = aaf::EncodeAuid(ToAuid(id));
    const Object* owner = Dictionary();
    if (setPid == kMetaTypeDefinitions) owner = state_ ? state_->metaDictionary : nullptr;
    if (!owner) return nullptr;
    const Property* p = owner->FindProp(setPid);
    if (!p) return nullptr;
    for (Object* o : p->objects)
        if (o->Identification() == key) return o;
    return nullptr;
}

// Typed out-pointer helpers.
namespace {

template <typename I>
AAFRESULT HandOut(Object* o, const aafUID_t& iid, I** out) {
    if (!o) return AAFRESULT_OBJECT_NOT_FOUND;
    return o->QueryInterface(iid, reinterpret_cast<void**>(out));
}

}  // namespace

// [SECTION] File and header

AAFRESULT Object::GetHeader(IAAFHeader** out) {
    return Guard([&]() -> AAFRESULT {
        if (!out) return AAFRESULT_NULL_PARAM;
        *out = nullptr;
        if (!open) return AAFRESULT_NOT_OPEN;
        return HandOut(state_->header, IID_IAAFHeader, out);
    });
}

AAFRESULT Object::Save() {
    return Guard([&]() -> AAFRESULT {
        if (kind_ != Kind::File) return AAFRESULT_INVALID_PARAM;
        if (!open) return AAFRESULT_NOT_OPEN;
        state_->header->SetData(kHeaderLastModified, Now());
        aaf::StoredObject root(ToAuid(AUID_AAFRoot));
        root.SetStrongReference(kRootMetaDictionary, PropertyName(kRootMetaDictionary),
                                state_->metaDictionary->ToStored());
        root.SetStrongReference(kRootHeader, PropertyName(kRootHeader), state_->header->ToStored());
        std::string error;
        if (!aaf::SaveStoredFile(path, aaf::ToClassId(ToAuid(kAAFFileKind_Aaf512Binary)), root, error))
            return AAFRESULT_FILE_WRITE;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::Close() {
    return Guard([&]() -> AAFRESULT {
        if (kind_ != Kind::File) return AAFRESULT_INVALID_PARAM;
        if (!open) return AAFRESULT_NOT_OPEN;
        open = false;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::GetDictionary(IAAFDictionary** out) {
    return Guard([&]() -> AAFRESULT {
        if (!out) return AAFRESULT_NULL_PARAM;
        *out = nullptr;
        return HandOut(Dictionary(), IID_IAAFDictionary, out);
    });
}

AAFRESULT Object::AddMob(IAAFMob* mob) {
    return Guard([&]() -> AAFRESULT {
        Object* m = Object::From(mob);
        if (!m) return AAFRESULT_NULL_PARAM;
        const Property* content = FindProp(kHeaderContent);
        if (!content || content->objects.empty()) return AAFRESULT_NOT_INITIALIZED;
        if (!content->objects.front()->AppendChild(kContentMobs, aaf::StoredForm::StrongReferenceSet, m))
            return AAFRESULT_OBJECT_ALREADY_ATTACHED;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::CountMobs(aafNumSlots_t* count) {
    return Guard([&]() -> AAFRESULT {
        if (!count) return AAFRESULT_NULL_PARAM;
        const Property* content = FindProp(kHeaderContent);
        const Property* mobs = content && !content->objects.empty() ? content->objects.front()->FindProp(kContentMobs)
                                                                    : nullptr;
        *count = mobs ? static_cast<aafNumSlots_t>(mobs->objects.size()) : 0;
        return AAFRESULT_SUCCESS;
    });
}

// [SECTION] Dictionary and definitions

AAFRESULT Object::LookupClassDef(const aafUID_t& id, IAAFClassDef** out) {
    return Guard([&]() -> AAFRESULT {
        if (!out) return AAFRESULT_NULL_PARAM;
        *out = nullptr;
        const ClassInfo* info = FindClass(id);
        if (!info) return AAFRESULT_OBJECT_NOT_FOUND;
        auto* def = new Object(Kind::ClassDef, state_);
        def->SetClassAuid(ToAuid(id));
        *out = static_cast<IAAFClassDef*>(def);
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::LookupDataDef(const aafUID_t& id, IAAFDataDef** out) {
    return Guard([&]() -> AAFRESULT {
        if (!out) return AAFRESULT_NULL_PARAM;
        *out = nullptr;
        return HandOut(DictionaryElement(kDictionaryDataDefinitions, id), IID_IAAFDataDef, out);
    });
}

AAFRESULT Object::LookupTypeDef(const aafUID_t& id, IAAFTypeDef** out) {
    return Guard([&]() -> AAFRESULT {
        if (!out) return AAFRESULT_NULL_PARAM;
        *out = nullptr;
        return HandOut(DictionaryElement(kMetaTypeDefinitions, id), IID_IAAFTypeDef, out);
    });
}

AAFRESULT Object::LookupParameterDef(const aafUID_t& id, IAAFParameterDef** out) {
    return Guard([&]() -> AAFRESULT {
        if (!out) return AAFRESULT_NULL_PARAM;
        *out = nullptr;
        return HandOut(DictionaryElement(kDictionaryParameterDefinitions, id), IID_IAAFParameterDef, out);
    });
}

AAFRESULT Object::LookupOperationDef(const aafUID_t& id, IAAFOperationDef** out) {
    return Guard([&]() -> AAFRESULT {
        if (!out) return AAFRESULT_NULL_PARAM;
        *out = nullptr;
        return HandOut(DictionaryElement(kDictionaryOperationDefinitions, id), IID_IAAFOperationDef, out);
    });
}

AAFRESULT Object::LookupInterpolationDef(const aafUID_t& id, IAAFInterpolationDef** out) {
    return Guard([&]() -> AAFRESULT {
        if (!out) return AAFRESULT_NULL_PARAM;
        *out = nullptr;
        return HandOut(DictionaryElement(kDictionaryInterpolationDefinitions, id), IID_IAAFInterpolationDef, out);
    });
}

namespace {

// Adds an initialised definition to one of the dictionary's sets, once.
AAFRESULT Register(Object* dictionary, std::uint16_t setPid, IAAFUnknown* def, Kind kind) {
    Object* d = Object::From(def);
    if (!d) return AAFRESULT_NULL_PARAM;
    if (d->kind() != kind) return AAFRESULT_INVALID_PARAM;
    const std::vector<std::uint8_t> key = d->Identification();
    if (key.empty()) return AAFRESULT_NOT_INITIALIZED;
    if (const Property* set = dictionary->FindProp(setPid))
        for (const Object* o : set->objects)
            if (o->Identification() == key) return AAFRESULT_OBJECT_ALREADY_ATTACHED;
    if (!dictionary->AppendChild(setPid, aaf::StoredForm::StrongReferenceSet, d))
        return AAFRESULT_OBJECT_ALREADY_ATTACHED;
    dictionary->Prop(setPid, aaf::StoredForm::StrongReferenceSet).keyPid = kDefIdentification;
    return AAFRESULT_SUCCESS;
}

}  // namespace

AAFRESULT Object::RegisterDataDef(IAAFDataDef* def) {
    return Guard([&] { return Register(this, kDictionaryDataDefinitions, def, Kind::DataDef); });
}
AAFRESULT Object::RegisterParameterDef(IAAFParameterDef* def) {
    return Guard([&] { return Register(this, kDictionaryParameterDefinitions, def, Kind::ParameterDef); });
}
AAFRESULT Object::RegisterOperationDef(IAAFOperationDef* def) {
    return Guard([&] { return Register(this, kDictionaryOperationDefinitions, def, Kind::OperationDef); });
}
AAFRESULT Object::RegisterInterpolationDef(IAAFInterpolationDef* def) {
    return Guard([&] { return Register(this, kDictionaryInterpolationDefinitions, def, Kind::InterpolationDef); });
}

AAFRESULT Object::CreateInstance(const aafUID_t& iid, IAAFUnknown** out) {
    return Guard([&]() -> AAFRESULT {
        if (!out) return AAFRESULT_NULL_PARAM;
        *out = nullptr;
        const ClassInfo* info = FindClass(classId_);
        if (!info || !info->concrete) return AAFRESULT_INVALID_PARAM;
        // Files, headers and dictionaries come with the file, not from here.
        if (info->kind == Kind::Header || info->kind == Kind::Dictionary || info->kind == Kind::ContentStorage)
            return AAFRESULT_INVALID_PARAM;
        auto* o = new Object(info->kind, state_);
        if (o->kind_ == Kind::SourceMob || o->kind_ == Kind::MasterMob || o->kind_ == Kind::CompositionMob) {
            aafMobID_t id{};
            static const std::uint8_t label[12] = {0x06, 0x0a, 0x2b, 0x34, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x0f, 0x00};
            std::copy(label, label + 12, id.SMPTELabel);
            id.length = 0x13;
            id.material = ToUid(RandomAuid());
            o->SetData(kMobID, MobIdBytes(id));
            o->SetData(kMobLastModified, Now());
            o->SetData(kMobCreationTime, Now());
        }
        const AAFRESULT r = o->QueryInterface(iid, reinterpret_cast<void**>(out));
        o->Release();
        return r;
    });
}

AAFRESULT Object::RegisterSharedPlugins() { return AAFRESULT_SUCCESS; }

AAFRESULT Object::Initialize(const aafUID_t& id, const aafCharacter* name, const aafCharacter* description,
                             IAAFTypeDef* type) {
    return Guard([&]() -> AAFRESULT {
        Object* t = Object::From(type);
        if (!name || !description || !t) return AAFRESULT_NULL_PARAM;
        if (initialized_) return AAFRESULT_ALREADY_INITIALIZED;
        SetData(kDefIdentification, aaf::EncodeAuid(ToAuid(id)));
        SetData(kDefName, aaf::EncodeString(Text(name)));
        SetData(kDefDescription, aaf::EncodeString(Text(description)));
        SetWeak(kParameterDefType, kTypeDefinitionsPath, kMetaIdentification, t->Identification());
        initialized_ = true;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::Initialize(const aafUID_t& id, const aafCharacter* name, const aafCharacter* description) {
    return Guard([&]() -> AAFRESULT {
        if (!name || !description) return AAFRESULT_NULL_PARAM;
        if (initialized_) return AAFRESULT_ALREADY_INITIALIZED;
        SetData(kDefIdentification, aaf::EncodeAuid(ToAuid(id)));
        SetData(kDefName, aaf::EncodeString(Text(name)));
        SetData(kDefDescription, aaf::EncodeString(Text(description)));
        if (kind_ == Kind::OperationDef) {
            // Required, and left alone by callers that have no time warp.
            SetData(kOperationDefIsTimeWarp, {0});
            SetData(kOperationDefNumberInputs, U32(1));
        }
        initialized_ = true;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::SetDataDef(IAAFDataDef* def) {
    return Guard([&]() -> AAFRESULT {
        Object* d = Object::From(def);
        if (!d) return AAFRESULT_NULL_PARAM;
        const std::uint16_t pid = kind_ == Kind::OperationDef ? kOperationDefDataDefinition : kComponentDataDefinition;
        SetWeak(pid, kDataDefinitionsPath, kDefIdentification, d->Identification());
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::SetNumberInputs(aafInt32 count) {
    return Guard([&]() -> AAFRESULT {
        SetData(kOperationDefNumberInputs, U32(static_cast<std::uint32_t>(count)));
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::SetIsTimeWarp(aafBoolean_t isTimeWarp) {
    return Guard([&]() -> AAFRESULT {
        SetData(kOperationDefIsTimeWarp, {static_cast<std::uint8_t>(isTimeWarp ? 1 : 0)});
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::AddParameterDef(IAAFParameterDef* def) {
    return Guard([&]() -> AAFRESULT {
        Object* d = Object::From(def);
        if (!d) return AAFRESULT_NULL_PARAM;
        Property& p = Prop(kOperationDefParametersDefined, aaf::StoredForm::WeakReferenceSet);
        p.target = kParameterDefinitionsPath;
        p.keyPid = kDefIdentification;
        const std::vector<std::uint8_t> key = d->Identification();
        if (std::find(p.keys.begin(), p.keys.end(), key) != p.keys.end()) return AAFRESULT_OBJECT_ALREADY_ATTACHED;
        p.keys.push_back(key);
        return AAFRESULT_SUCCESS;
    });
}

// [SECTION] Mobs, descriptors and locators

AAFRESULT Object::SetName(const aafCharacter* name) {
    return Guard([&]() -> AAFRESULT {
        if (!name) return AAFRESULT_NULL_PARAM;
        SetData(kMobName, aaf::EncodeString(Text(name)));
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::GetMobID(aafMobID_t* id) {
    return Guard([&]() -> AAFRESULT {
        if (!id) return AAFRESULT_NULL_PARAM;
        const Property* p = FindProp(kMobID);
        if (!p || p->bytes.size() != 32) return AAFRESULT_NOT_INITIALIZED;
        std::copy(p->bytes.begin(), p->bytes.begin() + 16, id->SMPTELabel);
        const std::uint8_t* m = p->bytes.data() + 16;
        id->material.Data1 = static_cast<std::uint32_t>(m[0] | m[1] << 8 | m[2] << 16 | static_cast<std::uint32_t>(m[3]) << 24);
        id->material.Data2 = static_cast<std::uint16_t>(m[4] | m[5] << 8);
        id->material.Data3 = static_cast<std::uint16_t>(m[6] | m[7] << 8);
        std::copy(m + 8, m + 16, id->material.Data4);
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::AppendNewTimelineSlot(aafRational_t editRate, IAAFSegment* segment, aafSlotID_t slotID,
                                        const aafCharacter* name, aafPosition_t origin,
                                        IAAFTimelineMobSlot** newSlot) {
    return Guard([&]() -> AAFRESULT {
        Object* s = Object::From(segment);
        if (!s || !name) return AAFRESULT_NULL_PARAM;
        if (newSlot) *newSlot = nullptr;
        auto* slot = new Object(Kind::TimelineMobSlot, state_);
        if (!slot->SetChild(kSlotSegment, s)) {
            slot->Release();
            return AAFRESULT_OBJECT_ALREADY_ATTACHED;
        }
        slot->SetData(kSlotID, U32(slotID));
        slot->SetData(kSlotName, aaf::EncodeString(Text(name)));
        slot->SetData(kTimelineSlotEditRate, Rational(editRate));
        slot->SetData(kTimelineSlotOrigin, I64(origin));
        AppendChild(kMobSlots, aaf::StoredForm::StrongReferenceVector, slot);
        AAFRESULT r = AAFRESULT_SUCCESS;
        if (newSlot) r = slot->QueryInterface(IID_IAAFTimelineMobSlot, reinterpret_cast<void**>(newSlot));
        slot->Release();
        return r;
    });
}

AAFRESULT Object::CountSlots(aafNumSlots_t* count) {
    return Guard([&]() -> AAFRESULT {
        if (!count) return AAFRESULT_NULL_PARAM;
        const Property* p = FindProp(kMobSlots);
        *count = p ? static_cast<aafNumSlots_t>(p->objects.size()) : 0;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::AppendSlot(IAAFMobSlot* slot) {
    return Guard([&]() -> AAFRESULT {
        Object* s = Object::From(slot);
        if (!s) return AAFRESULT_NULL_PARAM;
        if (!AppendChild(kMobSlots, aaf::StoredForm::StrongReferenceVector, s))
            return AAFRESULT_OBJECT_ALREADY_ATTACHED;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::SetEssenceDescriptor(IAAFEssenceDescriptor* descriptor) {
    return Guard([&]() -> AAFRESULT {
        Object* d = Object::From(descriptor);
        if (!d) return AAFRESULT_NULL_PARAM;
        return SetChild(kSourceMobEssenceDescription, d) ? AAFRESULT_SUCCESS : AAFRESULT_OBJECT_ALREADY_ATTACHED;
    });
}

AAFRESULT Object::AppendLocator(IAAFLocator* locator) {
    return Guard([&]() -> AAFRESULT {
        Object* l = Object::From(locator);
        if (!l) return AAFRESULT_NULL_PARAM;
        return AppendChild(kEssenceDescriptorLocator, aaf::StoredForm::StrongReferenceVector, l)
                   ? AAFRESULT_SUCCESS
                   : AAFRESULT_OBJECT_ALREADY_ATTACHED;
    });
}

AAFRESULT Object::SetSampleRate(const aafRational_t& rate) {
    return Guard([&]() -> AAFRESULT {
        SetData(kFileDescriptorSampleRate, Rational(rate));
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::SetLength(aafLength_t length) {
    return Guard([&]() -> AAFRESULT {
        if (length < 0) return AAFRESULT_BAD_SIZE;
        SetData(kind_ == Kind::WAVEDescriptor ? kFileDescriptorLength : kComponentLength, I64(length));
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::SetSummary(aafUInt32 size, const aafUInt8* summary) {
    return Guard([&]() -> AAFRESULT {
        if (!summary) return AAFRESULT_NULL_PARAM;
        if (size == 0 || size > 0xFFFF) return AAFRESULT_BAD_SIZE;
        SetData(kWAVEDescriptorSummary, std::vector<std::uint8_t>(summary, summary + size));
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::SetPath(const aafCharacter* p) {
    return Guard([&]() -> AAFRESULT {
        if (!p) return AAFRESULT_NULL_PARAM;
        SetData(kNetworkLocatorURL, aaf::EncodeString(Text(p)));
        return AAFRESULT_SUCCESS;
    });
}

// [SECTION] Components, parameters, slots and events

namespace {

// Data definition and length, which every component carries.
AAFRESULT InitComponent(Object& o, IAAFDataDef* def, aafLength_t length) {
    Object* d = Object::From(def);
    if (!d) return AAFRESULT_NULL_PARAM;
    if (length < 0) return AAFRESULT_BAD_SIZE;
    o.SetWeak(kComponentDataDefinition, kDataDefinitionsPath, kDefIdentification, d->Identification());
    o.SetData(kComponentLength, I64(length));
    return AAFRESULT_SUCCESS;
}

}  // namespace

AAFRESULT Object::Initialize(IAAFDataDef* def, aafLength_t length, aafSourceRef_t ref) {
    return Guard([&]() -> AAFRESULT {
        if (initialized_) return AAFRESULT_ALREADY_INITIALIZED;
        const AAFRESULT r = InitComponent(*this, def, length);
        if (r != AAFRESULT_SUCCESS) return r;
        SetData(kSourceReferenceID, MobIdBytes(ref.sourceID));
        SetData(kSourceReferenceSlotID, U32(ref.sourceSlotID));
        SetData(kSourceClipStartTime, I64(ref.startTime));
        initialized_ = true;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::Initialize(IAAFDataDef* def) {
    return Guard([&]() -> AAFRESULT {
        if (initialized_) return AAFRESULT_ALREADY_INITIALIZED;
        const AAFRESULT r = InitComponent(*this, def, 0);
        if (r != AAFRESULT_SUCCESS) return r;
        Prop(kSequenceComponents, aaf::StoredForm::StrongReferenceVector);
        initialized_ = true;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::AppendComponent(IAAFComponent* component) {
    return Guard([&]() -> AAFRESULT {
        Object* c = Object::From(component);
        if (!c) return AAFRESULT_NULL_PARAM;
        if (!initialized_) return AAFRESULT_NOT_INITIALIZED;
        // A sequence's length follows its components: transitions overlap
        // their neighbours, so they take their length off again.
        const Property* lengthProp = c->FindProp(kComponentLength);
        std::int64_t length = 0;
        if (lengthProp && lengthProp->bytes.size() == 8)
            for (int i = 7; i >= 0; --i) length = length << 8 | lengthProp->bytes[i];
        const Property* own = FindProp(kComponentLength);
        std::int64_t total = 0;
        if (own && own->bytes.size() == 8)
            for (int i = 7; i >= 0; --i) total = total << 8 | own->bytes[i];
        const bool transition = c->kind_ == Kind::Transition;
        const Property* list = FindProp(kSequenceComponents);
        if (transition) {
            // A transition overlaps the segment before it, so that segment
            // must be there, be no transition and be at least as long.
            if (!list || list->objects.empty()) return AAFRESULT_INVALID_PARAM;
            const Object* before = list->objects.back();
            const Property* beforeLength = before->FindProp(kComponentLength);
            std::int64_t previous = 0;
            if (beforeLength && beforeLength->bytes.size() == 8)
                for (int i = 7; i >= 0; --i) previous = previous << 8 | beforeLength->bytes[i];
            if (before->kind_ == Kind::Transition || length > previous) return AAFRESULT_INVALID_PARAM;
        }
        if (!AppendChild(kSequenceComponents, aaf::StoredForm::StrongReferenceVector, c))
            return AAFRESULT_OBJECT_ALREADY_ATTACHED;
        if (c->kind_ != Kind::CommentMarker) SetData(kComponentLength, I64(transition ? total - length : total + length));
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::Initialize(IAAFDataDef* def, aafLength_t length) {
    return Guard([&]() -> AAFRESULT {
        if (initialized_) return AAFRESULT_ALREADY_INITIALIZED;
        const AAFRESULT r = InitComponent(*this, def, length);
        if (r == AAFRESULT_SUCCESS) initialized_ = true;
        return r;
    });
}

AAFRESULT Object::Initialize(IAAFDataDef* def, aafLength_t length, aafPosition_t cutPoint,
                             IAAFOperationGroup* group) {
    return Guard([&]() -> AAFRESULT {
        Object* g = Object::From(group);
        if (!g) return AAFRESULT_NULL_PARAM;
        if (initialized_) return AAFRESULT_ALREADY_INITIALIZED;
        const AAFRESULT r = InitComponent(*this, def, length);
        if (r != AAFRESULT_SUCCESS) return r;
        if (!SetChild(kTransitionOperationGroup, g)) return AAFRESULT_OBJECT_ALREADY_ATTACHED;
        SetData(kTransitionCutPoint, I64(cutPoint));
        initialized_ = true;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::Initialize(aafLength_t length, const aafTimecode_t* timecode) {
    return Guard([&]() -> AAFRESULT {
        if (!timecode) return AAFRESULT_NULL_PARAM;
        if (length < 0) return AAFRESULT_BAD_SIZE;
        if (initialized_) return AAFRESULT_ALREADY_INITIALIZED;
        SetData(kComponentLength, I64(length));
        SetData(kTimecodeStart, I64(timecode->startFrame));
        SetData(kTimecodeFPS, U16(timecode->fps));
        SetData(kTimecodeDrop, {static_cast<std::uint8_t>(timecode->drop ? 1 : 0)});
        initialized_ = true;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::Initialize(IAAFDataDef* def, aafLength_t length, IAAFOperationDef* operation) {
    return Guard([&]() -> AAFRESULT {
        Object* op = Object::From(operation);
        if (!op) return AAFRESULT_NULL_PARAM;
        if (initialized_) return AAFRESULT_ALREADY_INITIALIZED;
        const AAFRESULT r = InitComponent(*this, def, length);
        if (r != AAFRESULT_SUCCESS) return r;
        SetWeak(kOperationGroupOperation, kOperationDefinitionsPath, kDefIdentification, op->Identification());
        initialized_ = true;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::AppendInputSegment(IAAFSegment* segment) {
    return Guard([&]() -> AAFRESULT {
        Object* s = Object::From(segment);
        if (!s) return AAFRESULT_NULL_PARAM;
        return AppendChild(kOperationGroupInputs, aaf::StoredForm::StrongReferenceVector, s)
                   ? AAFRESULT_SUCCESS
                   : AAFRESULT_OBJECT_ALREADY_ATTACHED;
    });
}

AAFRESULT Object::AddParameter(IAAFParameter* parameter) {
    return Guard([&]() -> AAFRESULT {
        Object* p = Object::From(parameter);
        if (!p) return AAFRESULT_NULL_PARAM;
        return AppendChild(kOperationGroupParameters, aaf::StoredForm::StrongReferenceVector, p)
                   ? AAFRESULT_SUCCESS
                   : AAFRESULT_OBJECT_ALREADY_ATTACHED;
    });
}

namespace {

// The type of a parameter's values: the type its definition names.
aaf::Auid ParameterType(const Object& def) {
    const Property* p = def.FindProp(kParameterDefType);
    aaf::Auid type = ToAuid(kRationalType);
    if (p && p->keys.size() == 1 && p->keys.front().size() == 16) {
        const std::vector<std::uint8_t>& k = p->keys.front();
        type.data1 = static_cast<std::uint32_t>(k[0] | k[1] << 8 | k[2] << 16 | static_cast<std::uint32_t>(k[3]) << 24);
        type.data2 = static_cast<std::uint16_t>(k[4] | k[5] << 8);
        type.data3 = static_cast<std::uint16_t>(k[6] | k[7] << 8);
        std::copy(k.begin() + 8, k.end(), type.data4.begin());
    }
    return type;
}

}  // namespace

AAFRESULT Object::Initialize(IAAFParameterDef* def, aafUInt32 size, const aafUInt8* value) {
    return Guard([&]() -> AAFRESULT {
        Object* d = Object::From(def);
        if (!d || !value) return AAFRESULT_NULL_PARAM;
        if (size == 0 || size > 0xFF00) return AAFRESULT_BAD_SIZE;
        if (initialized_) return AAFRESULT_ALREADY_INITIALIZED;
        SetData(kParameterDefinition, d->Identification());
        SetData(kConstantValueValue, aaf::EncodeIndirect(ParameterType(*d), std::vector<std::uint8_t>(value, value + size)));
        initialized_ = true;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::Initialize(IAAFParameterDef* def, IAAFInterpolationDef* interpolation) {
    return Guard([&]() -> AAFRESULT {
        Object* d = Object::From(def);
        Object* i = Object::From(interpolation);
        if (!d || !i) return AAFRESULT_NULL_PARAM;
        if (initialized_) return AAFRESULT_ALREADY_INITIALIZED;
        SetData(kParameterDefinition, d->Identification());
        SetWeak(kVaryingValueInterpolation, kInterpolationDefinitionsPath, kDefIdentification, i->Identification());
        Prop(kVaryingValuePointList, aaf::StoredForm::StrongReferenceVector);
        initialized_ = true;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::AddControlPoint(IAAFControlPoint* point) {
    return Guard([&]() -> AAFRESULT {
        Object* p = Object::From(point);
        if (!p) return AAFRESULT_NULL_PARAM;
        if (!initialized_) return AAFRESULT_NOT_INITIALIZED;
        return AppendChild(kVaryingValuePointList, aaf::StoredForm::StrongReferenceVector, p)
                   ? AAFRESULT_SUCCESS
                   : AAFRESULT_OBJECT_ALREADY_ATTACHED;
    });
}

AAFRESULT Object::Initialize(IAAFVaryingValue* owner, const aafRational_t& time, aafUInt32 size,
                             const aafUInt8* value) {
    return Guard([&]() -> AAFRESULT {
        Object* o = Object::From(owner);
        if (!o || !value) return AAFRESULT_NULL_PARAM;
        if (size == 0 || size > 0xFF00) return AAFRESULT_BAD_SIZE;
        if (time.denominator == 0) return AAFRESULT_INVALID_PARAM;
        if (initialized_) return AAFRESULT_ALREADY_INITIALIZED;
        aaf::Auid type = ToAuid(kRationalType);
        if (const Property* def = o->FindProp(kParameterDefinition)) {
            aafUID_t id{};
            if (def->bytes.size() == 16) {
                const std::uint8_t* k = def->bytes.data();
                id.Data1 = static_cast<std::uint32_t>(k[0] | k[1] << 8 | k[2] << 16 | static_cast<std::uint32_t>(k[3]) << 24);
                id.Data2 = static_cast<std::uint16_t>(k[4] | k[5] << 8);
                id.Data3 = static_cast<std::uint16_t>(k[6] | k[7] << 8);
                std::copy(k + 8, k + 16, id.Data4);
                if (Object* pd = DictionaryElement(kDictionaryParameterDefinitions, id)) type = ParameterType(*pd);
            }
        }
        SetData(kControlPointTime, Rational(time));
        SetData(kControlPointValue, aaf::EncodeIndirect(type, std::vector<std::uint8_t>(value, value + size)));
        initialized_ = true;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::SetSegment(IAAFSegment* segment) {
    return Guard([&]() -> AAFRESULT {
        Object* s = Object::From(segment);
        if (!s) return AAFRESULT_NULL_PARAM;
        return SetChild(kSlotSegment, s) ? AAFRESULT_SUCCESS : AAFRESULT_OBJECT_ALREADY_ATTACHED;
    });
}

AAFRESULT Object::SetSlotID(aafSlotID_t id) {
    return Guard([&]() -> AAFRESULT {
        SetData(kSlotID, U32(id));
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::SetEditRate(const aafRational_t* rate) {
    return Guard([&]() -> AAFRESULT {
        if (!rate) return AAFRESULT_NULL_PARAM;
        SetData(kEventSlotEditRate, Rational(*rate));
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::SetPosition(aafPosition_t position) {
    return Guard([&]() -> AAFRESULT {
        SetData(kEventPosition, I64(position));
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT Object::SetComment(const aafCharacter* comment) {
    return Guard([&]() -> AAFRESULT {
        if (!comment) return AAFRESULT_NULL_PARAM;
        SetData(kEventComment, aaf::EncodeString(Text(comment)));
        return AAFRESULT_SUCCESS;
    });
}

// [SECTION] Saving: stored objects and the meta-dictionary

std::unique_ptr<aaf::StoredObject> Object::ToStored() const {
    // The meta-dictionary is made at save time from the classes of the
    // objects below the header, with every definition they need.
    if (kind_ == Kind::MetaDictionary) {
        std::vector<aaf::Auid> used;
        std::vector<const Object*> stack;
        if (state_ && state_->header) stack.push_back(state_->header);
        while (!stack.empty()) {
            const Object* o = stack.back();
            stack.pop_back();
            if (std::find(used.begin(), used.end(), o->classId_) == used.end()) used.push_back(o->classId_);
            for (const Property& p : o->properties_)
                for (const Object* child : p.objects) stack.push_back(child);
        }
        return BuildMetaDictionary(used);
    }
    auto out = std::make_unique<aaf::StoredObject>(classId_);
    out->properties.reserve(properties_.size() + 1);
    for (const Property& p : properties_) {
        switch (p.form) {
        case aaf::StoredForm::Data:
            out->SetData(p.pid, p.bytes);
            break;
        case aaf::StoredForm::StrongReference:
            if (!p.objects.empty()) out->SetStrongReference(p.pid, PropertyName(p.pid), p.objects.front()->ToStored());
            break;
        case aaf::StoredForm::StrongReferenceVector: {
            std::vector<std::unique_ptr<aaf::StoredObject>> elements;
            elements.reserve(p.objects.size());
            for (const Object* o : p.objects) elements.push_back(o->ToStored());
            out->SetStrongReferenceVector(p.pid, PropertyName(p.pid), std::move(elements));
            break;
        }
        case aaf::StoredForm::StrongReferenceSet: {
            std::vector<std::unique_ptr<aaf::StoredObject>> elements;
            std::vector<std::vector<std::uint8_t>> keys;
            for (const Object* o : p.objects) {
                elements.push_back(o->ToStored());
                const Property* key = o->FindProp(p.keyPid);
                keys.push_back(key ? key->bytes : std::vector<std::uint8_t>{});
            }
            out->SetStrongReferenceSet(p.pid, PropertyName(p.pid), p.keyPid, std::move(elements), std::move(keys));
            // An empty set still names the size of its keys.
            out->properties.back().emptyKeySize = KeySizeOf(p.keyPid);
            break;
        }
        case aaf::StoredForm::WeakReference:
            out->SetWeakReference(p.pid, p.target, p.keyPid, p.keys.empty() ? std::vector<std::uint8_t>{} : p.keys.front());
            break;
        case aaf::StoredForm::WeakReferenceVector:
        case aaf::StoredForm::WeakReferenceSet:
            out->SetWeakReferences(p.pid, PropertyName(p.pid), p.form, p.target, p.keyPid, p.keys);
            break;
        }
    }
    return out;
}

// [SECTION] New files

namespace {

Object* NewDefinition(const std::shared_ptr<FileState>& file, Kind kind, const aafUID_t& id, const char16_t* name, std::uint16_t idPid,
                      std::uint16_t namePid) {
    auto* o = new Object(kind, file);
    o->SetData(idPid, aaf::EncodeAuid(ToAuid(id)));
    o->SetData(namePid, aaf::EncodeString(name));
    return o;
}

}  // namespace

AAFRESULT CreateNewFile(const std::u16string& path, const aafProductIdentification_t& ident, Object** out) {
    return Guard([&]() -> AAFRESULT {
        *out = nullptr;
        auto state = std::make_shared<FileState>();
        auto* file = new Object(Kind::File, state);
        file->path = ToUtf8(path);
        // Claim the name now, so a folder that cannot be written fails the open.
        if (std::FILE* probe = std::fopen(file->path.c_str(), "wb")) {
            std::fclose(probe);
        } else {
            file->Release();
            return AAFRESULT_FILE_WRITE;
        }
        file->open = true;

        Object* header = new Object(Kind::Header, state);
        state->header = header;
        header->SetData(kHeaderByteOrder, U16(0x4949));
        header->SetData(kHeaderLastModified, Now());
        header->SetData(kHeaderVersion, {1, 1});
        header->SetData(kHeaderObjectModelVersion, U32(1));

        auto* identification = new Object(Kind::Identification, state);
        identification->SetData(kIdentCompanyName, aaf::EncodeString(Text(ident.companyName)));
        identification->SetData(kIdentProductName, aaf::EncodeString(Text(ident.productName)));
        aafProductVersion_t v = ident.productVersion ? *ident.productVersion : aafProductVersion_t{};
        std::vector<std::uint8_t> version;
        for (std::uint16_t part : {v.major, v.minor, v.tertiary, v.patchLevel}) aaf::AppendU16(version, part);
        version.push_back(static_cast<std::uint8_t>(v.type));
        identification->SetData(kIdentProductVersion, version);
        const std::string versionText = std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
                                        std::to_string(v.tertiary) + "." + std::to_string(v.patchLevel);
        identification->SetData(kIdentProductVersionString,
                                aaf::EncodeString(ident.productVersionString ? Text(ident.productVersionString)
                                                                             : aaf::ToU16(versionText)));
        identification->SetData(kIdentProductID, aaf::EncodeAuid(ToAuid(ident.productID)));
        identification->SetData(kIdentDate, Now());
        std::vector<std::uint8_t> toolkit;
        for (std::uint16_t part : {1, 0, 0, 0}) aaf::AppendU16(toolkit, part);
        toolkit.push_back(0);
        identification->SetData(kIdentToolkitVersion, toolkit);
        identification->SetData(kIdentPlatform, aaf::EncodeString(ident.platform ? Text(ident.platform) : u"Linux"));
        identification->SetData(kIdentGenerationAUID, aaf::EncodeAuid(RandomAuid()));
        header->AppendChild(kHeaderIdentificationList, aaf::StoredForm::StrongReferenceVector, identification);
        identification->Release();

        auto* content = new Object(Kind::ContentStorage, state);
        content->Prop(kContentMobs, aaf::StoredForm::StrongReferenceSet).keyPid = kMobID;
        // Required, and always empty: the essence lives in files beside the AAF.
        content->Prop(kContentEssenceData, aaf::StoredForm::StrongReferenceSet).keyPid = kEssenceDataMobID;
        header->SetChild(kHeaderContent, content);
        content->Release();

        auto* dictionary = new Object(Kind::Dictionary, state);
        header->SetChild(kHeaderDictionary, dictionary);
        dictionary->Release();
        for (const auto& [id, name] : {std::pair{kSoundDef, u"Sound"}, std::pair{kTimecodeDef, u"Timecode"}}) {
            Object* def = NewDefinition(state, Kind::DataDef, id, name, kDefIdentification, kDefName);
            def->SetData(kDefDescription, aaf::EncodeString(u""));
            Register(dictionary, kDictionaryDataDefinitions, def->Unknown(), Kind::DataDef);
            def->Release();
        }

        auto* meta = new Object(Kind::MetaDictionary, state);
        state->metaDictionary = meta;
        Object* rational = NewDefinition(state, Kind::MetaType, kRationalType, u"Rational", kMetaIdentification, kMetaName);
        meta->AppendChild(kMetaTypeDefinitions, aaf::StoredForm::StrongReferenceSet, rational);
        meta->Prop(kMetaTypeDefinitions, aaf::StoredForm::StrongReferenceSet).keyPid = kMetaIdentification;
        rational->Release();

        *out = file;
        return AAFRESULT_SUCCESS;
    });
}

AAFRESULT GetPluginManager(Object** out) {
    return Guard([&]() -> AAFRESULT {
        *out = new Object(Kind::PluginManager, std::make_shared<FileState>());
        return AAFRESULT_SUCCESS;
    });
}

}  // namespace korvel::aafrt
