#pragma once
// The binary interface between the AAF writer and the AAF runtime library
// (libAAFCOAPI.so): the value types, result codes, COM-style interfaces and
// the exported entry points' signatures. Both sides compile this header; the
// runtime is reached only through dlopen/dlsym and these vtables.
//
// Strings cross as char16_t (wchar_t is 32-bit here), terminated by a 0 unit.
// Every method returns a result code (negative on failure) and never throws.
#include <cstdint>

// ---------------------------------------------------------------------------
// Values
// ---------------------------------------------------------------------------

using AAFRESULT = std::int32_t;
using aafCharacter = char16_t;
using aafInt32 = std::int32_t;
using aafUInt32 = std::uint32_t;
using aafInt64 = std::int64_t;
using aafUInt8 = std::uint8_t;
using aafLength_t = std::int64_t;
using aafPosition_t = std::int64_t;
using aafSlotID_t = std::uint32_t;
using aafNumSlots_t = std::uint32_t;
using aafBoolean_t = std::int32_t;
using aafFileRev_t = std::int32_t;

struct aafUID_t {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

struct aafMobID_t {
    std::uint8_t SMPTELabel[12];
    std::uint8_t length;
    std::uint8_t instanceHigh;
    std::uint8_t instanceMid;
    std::uint8_t instanceLow;
    aafUID_t material;
};

struct aafRational_t {
    std::int32_t numerator;
    std::int32_t denominator;
};

struct aafSourceRef_t {
    aafMobID_t sourceID;
    aafSlotID_t sourceSlotID;
    aafPosition_t startTime;
};

struct aafTimecode_t {
    aafPosition_t startFrame;
    std::int32_t drop;  // 0 non-drop
    std::uint16_t fps;
};

struct aafProductVersion_t {
    std::uint16_t major;
    std::uint16_t minor;
    std::uint16_t tertiary;
    std::uint16_t patchLevel;
    std::int32_t type;
};

struct aafProductIdentification_t {
    const aafCharacter* companyName;
    const aafCharacter* productName;
    const aafCharacter* productVersionString;
    aafUID_t productID;
    const aafCharacter* platform;
    aafProductVersion_t* productVersion;
};

inline bool operator==(const aafUID_t& a, const aafUID_t& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

// ---------------------------------------------------------------------------
// Result codes
// ---------------------------------------------------------------------------

inline constexpr AAFRESULT AAFRESULT_SUCCESS = 0;
inline constexpr AAFRESULT AAFRESULT_NULL_PARAM = static_cast<AAFRESULT>(0x80120164);
inline constexpr AAFRESULT AAFRESULT_ALREADY_INITIALIZED = static_cast<AAFRESULT>(0x80120166);
inline constexpr AAFRESULT AAFRESULT_NOMEMORY = static_cast<AAFRESULT>(0x8012015E);
inline constexpr AAFRESULT AAFRESULT_DLL_SYMBOL_NOT_FOUND = static_cast<AAFRESULT>(0x80120401);
inline constexpr AAFRESULT AAFRESULT_UNEXPECTED_EXCEPTION = static_cast<AAFRESULT>(0x801201D1);
// Results the runtime gives; the writer relies only on their sign.
inline constexpr AAFRESULT AAFRESULT_NOT_INITIALIZED = static_cast<AAFRESULT>(0x80120165);
inline constexpr AAFRESULT AAFRESULT_NOT_IMPLEMENTED = static_cast<AAFRESULT>(0x80120168);
inline constexpr AAFRESULT AAFRESULT_NO_MORE_OBJECTS = static_cast<AAFRESULT>(0x80120111);
inline constexpr AAFRESULT AAFRESULT_OBJECT_NOT_FOUND = static_cast<AAFRESULT>(0x80120133);
inline constexpr AAFRESULT AAFRESULT_OBJECT_ALREADY_ATTACHED = static_cast<AAFRESULT>(0x80120135);
inline constexpr AAFRESULT AAFRESULT_NOT_WRITEABLE = static_cast<AAFRESULT>(0x80120126);
inline constexpr AAFRESULT AAFRESULT_NOT_OPEN = static_cast<AAFRESULT>(0x80120127);
inline constexpr AAFRESULT AAFRESULT_BAD_SIZE = static_cast<AAFRESULT>(0x80120053);
inline constexpr AAFRESULT AAFRESULT_INVALID_PARAM = static_cast<AAFRESULT>(0x8012016B);
inline constexpr AAFRESULT AAFRESULT_NOT_IN_CURRENT_VERSION = static_cast<AAFRESULT>(0x801201C9);
inline constexpr AAFRESULT AAFRESULT_FILE_EXISTS = static_cast<AAFRESULT>(0x80120011);
inline constexpr AAFRESULT AAFRESULT_FILE_WRITE = static_cast<AAFRESULT>(0x8012000D);
inline constexpr AAFRESULT AAFRESULT_NO_INTERFACE = static_cast<AAFRESULT>(0x80004002);

// ---------------------------------------------------------------------------
// Interfaces
// ---------------------------------------------------------------------------
// Interface identifiers pass only between our writer and our runtime.

struct IAAFUnknown {
    virtual AAFRESULT QueryInterface(const aafUID_t& iid, void** out) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IAAFUnknown() = default;
};

struct IAAFHeader;
struct IAAFDictionary;
struct IAAFClassDef;
struct IAAFDataDef;
struct IAAFTypeDef;
struct IAAFParameterDef;
struct IAAFOperationDef;
struct IAAFInterpolationDef;
struct IAAFMob;
struct IAAFMobSlot;
struct IAAFTimelineMobSlot;
struct IAAFSegment;
struct IAAFComponent;
struct IAAFEssenceDescriptor;
struct IAAFLocator;
struct IAAFOperationGroup;
struct IAAFParameter;
struct IAAFControlPoint;
struct IAAFVaryingValue;

struct IAAFFile : IAAFUnknown {
    virtual AAFRESULT GetHeader(IAAFHeader** header) = 0;
    virtual AAFRESULT Save() = 0;
    virtual AAFRESULT Close() = 0;
};

struct IAAFHeader : IAAFUnknown {
    virtual AAFRESULT GetDictionary(IAAFDictionary** dictionary) = 0;
    virtual AAFRESULT AddMob(IAAFMob* mob) = 0;
    virtual AAFRESULT CountMobs(aafNumSlots_t* count) = 0;
};

struct IAAFDictionary : IAAFUnknown {
    virtual AAFRESULT LookupClassDef(const aafUID_t& id, IAAFClassDef** out) = 0;
    virtual AAFRESULT LookupDataDef(const aafUID_t& id, IAAFDataDef** out) = 0;
    virtual AAFRESULT LookupTypeDef(const aafUID_t& id, IAAFTypeDef** out) = 0;
    virtual AAFRESULT LookupParameterDef(const aafUID_t& id, IAAFParameterDef** out) = 0;
    virtual AAFRESULT LookupOperationDef(const aafUID_t& id, IAAFOperationDef** out) = 0;
    virtual AAFRESULT LookupInterpolationDef(const aafUID_t& id, IAAFInterpolationDef** out) = 0;
    virtual AAFRESULT RegisterDataDef(IAAFDataDef* def) = 0;
    virtual AAFRESULT RegisterParameterDef(IAAFParameterDef* def) = 0;
    virtual AAFRESULT RegisterOperationDef(IAAFOperationDef* def) = 0;
    virtual AAFRESULT RegisterInterpolationDef(IAAFInterpolationDef* def) = 0;
};

struct IAAFClassDef : IAAFUnknown {
    // A new object of this class, handed out through interface `iid`.
    virtual AAFRESULT CreateInstance(const aafUID_t& iid, IAAFUnknown** out) = 0;
};

struct IAAFPluginManager : IAAFUnknown {
    virtual AAFRESULT RegisterSharedPlugins() = 0;
};

struct IAAFDataDef : IAAFUnknown {};
struct IAAFTypeDef : IAAFUnknown {};

struct IAAFParameterDef : IAAFUnknown {
    virtual AAFRESULT Initialize(const aafUID_t& id, const aafCharacter* name, const aafCharacter* description,
                                 IAAFTypeDef* type) = 0;
};

struct IAAFOperationDef : IAAFUnknown {
    virtual AAFRESULT Initialize(const aafUID_t& id, const aafCharacter* name, const aafCharacter* description) = 0;
    virtual AAFRESULT SetDataDef(IAAFDataDef* def) = 0;
    virtual AAFRESULT SetNumberInputs(aafInt32 count) = 0;
    virtual AAFRESULT SetIsTimeWarp(aafBoolean_t isTimeWarp) = 0;
    virtual AAFRESULT AddParameterDef(IAAFParameterDef* def) = 0;
};

struct IAAFInterpolationDef : IAAFUnknown {
    virtual AAFRESULT Initialize(const aafUID_t& id, const aafCharacter* name, const aafCharacter* description) = 0;
};

struct IAAFMob : IAAFUnknown {
    virtual AAFRESULT SetName(const aafCharacter* name) = 0;
    virtual AAFRESULT GetMobID(aafMobID_t* id) = 0;
    virtual AAFRESULT AppendNewTimelineSlot(aafRational_t editRate, IAAFSegment* segment, aafSlotID_t slotID,
                                            const aafCharacter* name, aafPosition_t origin,
                                            IAAFTimelineMobSlot** newSlot) = 0;
    virtual AAFRESULT CountSlots(aafNumSlots_t* count) = 0;
    virtual AAFRESULT AppendSlot(IAAFMobSlot* slot) = 0;
};

struct IAAFSourceMob : IAAFUnknown {
    virtual AAFRESULT SetEssenceDescriptor(IAAFEssenceDescriptor* descriptor) = 0;
};
struct IAAFMasterMob : IAAFUnknown {};
struct IAAFCompositionMob : IAAFUnknown {};

struct IAAFEssenceDescriptor : IAAFUnknown {
    virtual AAFRESULT AppendLocator(IAAFLocator* locator) = 0;
};

struct IAAFFileDescriptor : IAAFUnknown {
    virtual AAFRESULT SetSampleRate(const aafRational_t& rate) = 0;
    virtual AAFRESULT SetLength(aafLength_t length) = 0;
};

struct IAAFWAVEDescriptor : IAAFUnknown {
    virtual AAFRESULT SetSummary(aafUInt32 size, const aafUInt8* summary) = 0;
};

struct IAAFLocator : IAAFUnknown {
    virtual AAFRESULT SetPath(const aafCharacter* path) = 0;
};
struct IAAFNetworkLocator : IAAFUnknown {};

struct IAAFComponent : IAAFUnknown {
    virtual AAFRESULT SetDataDef(IAAFDataDef* def) = 0;
    virtual AAFRESULT SetLength(aafLength_t length) = 0;
};
struct IAAFSegment : IAAFUnknown {};

struct IAAFSourceClip : IAAFUnknown {
    virtual AAFRESULT Initialize(IAAFDataDef* def, aafLength_t length, aafSourceRef_t sourceRef) = 0;
};

struct IAAFSequence : IAAFUnknown {
    virtual AAFRESULT Initialize(IAAFDataDef* def) = 0;
    virtual AAFRESULT AppendComponent(IAAFComponent* component) = 0;
};

struct IAAFFiller : IAAFUnknown {
    virtual AAFRESULT Initialize(IAAFDataDef* def, aafLength_t length) = 0;
};

struct IAAFTransition : IAAFUnknown {
    virtual AAFRESULT Initialize(IAAFDataDef* def, aafLength_t length, aafPosition_t cutPoint,
                                 IAAFOperationGroup* group) = 0;
};

struct IAAFTimecode : IAAFUnknown {
    virtual AAFRESULT Initialize(aafLength_t length, const aafTimecode_t* timecode) = 0;
};

struct IAAFOperationGroup : IAAFUnknown {
    virtual AAFRESULT Initialize(IAAFDataDef* def, aafLength_t length, IAAFOperationDef* operation) = 0;
    virtual AAFRESULT AppendInputSegment(IAAFSegment* segment) = 0;
    virtual AAFRESULT AddParameter(IAAFParameter* parameter) = 0;
};

struct IAAFParameter : IAAFUnknown {};

struct IAAFConstantValue : IAAFUnknown {
    virtual AAFRESULT Initialize(IAAFParameterDef* def, aafUInt32 size, const aafUInt8* value) = 0;
};

struct IAAFVaryingValue : IAAFUnknown {
    virtual AAFRESULT Initialize(IAAFParameterDef* def, IAAFInterpolationDef* interpolation) = 0;
    virtual AAFRESULT AddControlPoint(IAAFControlPoint* point) = 0;
};

struct IAAFControlPoint : IAAFUnknown {
    virtual AAFRESULT Initialize(IAAFVaryingValue* owner, const aafRational_t& time, aafUInt32 size,
                                 const aafUInt8* value) = 0;
};

struct IAAFMobSlot : IAAFUnknown {
    virtual AAFRESULT SetSegment(IAAFSegment* segment) = 0;
    virtual AAFRESULT SetSlotID(aafSlotID_t id) = 0;
};
struct IAAFTimelineMobSlot : IAAFUnknown {};

struct IAAFEventMobSlot : IAAFUnknown {
    virtual AAFRESULT SetEditRate(const aafRational_t* rate) = 0;
};

struct IAAFEvent : IAAFUnknown {
    virtual AAFRESULT SetPosition(aafPosition_t position) = 0;
    virtual AAFRESULT SetComment(const aafCharacter* comment) = 0;
};
struct IAAFCommentMarker : IAAFUnknown {};

// Interface identifiers.
#define KORVEL_AAF_IID(name, n) \
    inline constexpr aafUID_t IID_##name = {0x4b565200u + (n), 0x4141, 0x4646, {0x80, 0x00, 0x4b, 0x6f, 0x72, 0x76, 0x65, 0x6c}}
KORVEL_AAF_IID(IAAFUnknown, 0);
KORVEL_AAF_IID(IAAFFile, 1);
KORVEL_AAF_IID(IAAFHeader, 2);
KORVEL_AAF_IID(IAAFDictionary, 3);
KORVEL_AAF_IID(IAAFClassDef, 4);
KORVEL_AAF_IID(IAAFPluginManager, 5);
KORVEL_AAF_IID(IAAFDataDef, 6);
KORVEL_AAF_IID(IAAFTypeDef, 7);
KORVEL_AAF_IID(IAAFParameterDef, 8);
KORVEL_AAF_IID(IAAFOperationDef, 9);
KORVEL_AAF_IID(IAAFInterpolationDef, 10);
KORVEL_AAF_IID(IAAFMob, 11);
KORVEL_AAF_IID(IAAFSourceMob, 12);
KORVEL_AAF_IID(IAAFMasterMob, 13);
KORVEL_AAF_IID(IAAFCompositionMob, 14);
KORVEL_AAF_IID(IAAFEssenceDescriptor, 15);
KORVEL_AAF_IID(IAAFFileDescriptor, 16);
KORVEL_AAF_IID(IAAFWAVEDescriptor, 17);
KORVEL_AAF_IID(IAAFLocator, 18);
KORVEL_AAF_IID(IAAFNetworkLocator, 19);
KORVEL_AAF_IID(IAAFComponent, 20);
KORVEL_AAF_IID(IAAFSegment, 21);
KORVEL_AAF_IID(IAAFSourceClip, 22);
KORVEL_AAF_IID(IAAFSequence, 23);
KORVEL_AAF_IID(IAAFFiller, 24);
KORVEL_AAF_IID(IAAFTransition, 25);
KORVEL_AAF_IID(IAAFTimecode, 26);
KORVEL_AAF_IID(IAAFOperationGroup, 27);
KORVEL_AAF_IID(IAAFParameter, 28);
KORVEL_AAF_IID(IAAFConstantValue, 29);
KORVEL_AAF_IID(IAAFVaryingValue, 30);
KORVEL_AAF_IID(IAAFControlPoint, 31);
KORVEL_AAF_IID(IAAFMobSlot, 32);
KORVEL_AAF_IID(IAAFTimelineMobSlot, 33);
KORVEL_AAF_IID(IAAFEventMobSlot, 34);
KORVEL_AAF_IID(IAAFEvent, 35);
KORVEL_AAF_IID(IAAFCommentMarker, 36);
#undef KORVEL_AAF_IID

// ---------------------------------------------------------------------------
// Class identifiers of the published AAF object model
// ---------------------------------------------------------------------------

#define KORVEL_AAF_CLASS(name, code) \
    inline constexpr aafUID_t AUID_AAF##name = {0x0d010101u, 0x0101, (code), {0x06, 0x0e, 0x2b, 0x34, 0x02, 0x06, 0x01, 0x01}}
KORVEL_AAF_CLASS(InterchangeObject, 0x0100);
KORVEL_AAF_CLASS(Component, 0x0200);
KORVEL_AAF_CLASS(Segment, 0x0300);
KORVEL_AAF_CLASS(Event, 0x0600);
KORVEL_AAF_CLASS(CommentMarker, 0x0800);
KORVEL_AAF_CLASS(Filler, 0x0900);
KORVEL_AAF_CLASS(OperationGroup, 0x0A00);
KORVEL_AAF_CLASS(Sequence, 0x0F00);
KORVEL_AAF_CLASS(SourceReference, 0x1000);
KORVEL_AAF_CLASS(SourceClip, 0x1100);
KORVEL_AAF_CLASS(Timecode, 0x1400);
KORVEL_AAF_CLASS(Transition, 0x1700);
KORVEL_AAF_CLASS(ContentStorage, 0x1800);
KORVEL_AAF_CLASS(ControlPoint, 0x1900);
KORVEL_AAF_CLASS(DefinitionObject, 0x1A00);
KORVEL_AAF_CLASS(DataDefinition, 0x1B00);
KORVEL_AAF_CLASS(OperationDefinition, 0x1C00);
KORVEL_AAF_CLASS(ParameterDefinition, 0x1D00);
KORVEL_AAF_CLASS(InterpolationDefinition, 0x2100);
KORVEL_AAF_CLASS(Dictionary, 0x2200);
KORVEL_AAF_CLASS(EssenceDescriptor, 0x2400);
KORVEL_AAF_CLASS(FileDescriptor, 0x2500);
KORVEL_AAF_CLASS(WAVEDescriptor, 0x2C00);
KORVEL_AAF_CLASS(Header, 0x2F00);
KORVEL_AAF_CLASS(Identification, 0x3000);
KORVEL_AAF_CLASS(Locator, 0x3100);
KORVEL_AAF_CLASS(NetworkLocator, 0x3200);
KORVEL_AAF_CLASS(Mob, 0x3400);
KORVEL_AAF_CLASS(CompositionMob, 0x3500);
KORVEL_AAF_CLASS(MasterMob, 0x3600);
KORVEL_AAF_CLASS(SourceMob, 0x3700);
KORVEL_AAF_CLASS(MobSlot, 0x3800);
KORVEL_AAF_CLASS(EventMobSlot, 0x3900);
KORVEL_AAF_CLASS(TimelineMobSlot, 0x3B00);
KORVEL_AAF_CLASS(Parameter, 0x3C00);
KORVEL_AAF_CLASS(ConstantValue, 0x3D00);
KORVEL_AAF_CLASS(VaryingValue, 0x3E00);
#undef KORVEL_AAF_CLASS

// The file kind: structured storage with 512-byte sectors.
inline constexpr aafUID_t kAAFFileKind_Aaf512Binary = {0x42464141, 0x000d, 0x4d4f,
                                                      {0x06, 0x0e, 0x2b, 0x34, 0x01, 0x01, 0x01, 0xff}};
inline constexpr aafUID_t AUID_AAFRoot = {0xb3b398a5, 0x1c90, 0x11d4, {0x80, 0x53, 0x08, 0x00, 0x36, 0x21, 0x08, 0x04}};

// ---------------------------------------------------------------------------
// Exported entry points
// ---------------------------------------------------------------------------

extern "C" {
using AAFFileOpenNewModifyEx_t = AAFRESULT (*)(const aafCharacter* fileName, const aafUID_t* fileKind,
                                               aafUInt32 modeFlags, aafProductIdentification_t* identification,
                                               IAAFFile** file);
using AAFGetPluginManager_t = AAFRESULT (*)(IAAFPluginManager** manager);
// The other exports share one shape here: the writer never calls them.
using AAFUnusedEntryPoint_t = AAFRESULT (*)();
}
