#pragma once
// The AAF runtime's object model: one reference-counted object type that
// answers, by its AAF class, the interfaces of aaf_api.h, holds its
// properties by pid and turns itself into stored objects at save time.
//
// Threading: a file and its objects belong to the thread that opened it;
// nothing here is shared between files.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "playback/aaf/stored_object.h"
#include "playback/aaf_api.h"

namespace korvel::aafrt {

enum class Kind {
    File, Header, Dictionary, ClassDef, PluginManager, ContentStorage, Identification, MetaDictionary,
    MetaClass, MetaType, DataDef, TypeDef, ParameterDef, OperationDef, InterpolationDef,
    SourceMob, MasterMob, CompositionMob, WAVEDescriptor, NetworkLocator,
    SourceClip, Sequence, Filler, Transition, Timecode, OperationGroup, CommentMarker,
    ConstantValue, VaryingValue, ControlPoint, TimelineMobSlot, EventMobSlot,
};

class Object;

// What every object of one file reaches: the file's header and
// meta-dictionary, owned by the file object and cleared when it goes, so an
// object the caller still holds never follows a dangling pointer.
struct FileState {
    Object* header = nullptr;
    Object* metaDictionary = nullptr;
};

// One property as the object holds it until the file is saved.
struct Property {
    std::uint16_t pid = 0;
    aaf::StoredForm form = aaf::StoredForm::Data;
    std::vector<std::uint8_t> bytes;   // data
    std::vector<Object*> objects;      // strong references (each holds a reference)
    aaf::PropertyPath target;          // weak references
    std::uint16_t keyPid = 0;          // sets and weak references
    std::vector<std::vector<std::uint8_t>> keys;  // weak references
};

class Object final : public IAAFFile, public IAAFHeader, public IAAFDictionary, public IAAFClassDef,
                     public IAAFPluginManager, public IAAFDataDef, public IAAFTypeDef, public IAAFParameterDef,
                     public IAAFOperationDef, public IAAFInterpolationDef, public IAAFMob, public IAAFSourceMob,
                     public IAAFMasterMob, public IAAFCompositionMob, public IAAFEssenceDescriptor,
                     public IAAFFileDescriptor, public IAAFWAVEDescriptor, public IAAFLocator,
                     public IAAFNetworkLocator, public IAAFComponent, public IAAFSegment, public IAAFSourceClip,
                     public IAAFSequence, public IAAFFiller, public IAAFTransition, public IAAFTimecode,
                     public IAAFOperationGroup, public IAAFParameter, public IAAFConstantValue,
                     public IAAFVaryingValue, public IAAFControlPoint, public IAAFMobSlot,
                     public IAAFTimelineMobSlot, public IAAFEventMobSlot, public IAAFEvent,
                     public IAAFCommentMarker {
public:
    Object(Kind kind, std::shared_ptr<FileState> state);
    ~Object();
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    Kind kind() const { return kind_; }
    // The object behind any interface pointer this runtime handed out; null
    // for a foreign or null pointer.
    static Object* From(IAAFUnknown* p);
    IAAFUnknown* Unknown() { return static_cast<IAAFFile*>(this); }

    // IAAFUnknown
    AAFRESULT QueryInterface(const aafUID_t& iid, void** out) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;

    // IAAFFile
    AAFRESULT GetHeader(IAAFHeader** header) override;
    AAFRESULT Save() override;
    AAFRESULT Close() override;
    // IAAFHeader
    AAFRESULT GetDictionary(IAAFDictionary** dictionary) override;
    AAFRESULT AddMob(IAAFMob* mob) override;
    AAFRESULT CountMobs(aafNumSlots_t* count) override;
    // IAAFDictionary
    AAFRESULT LookupClassDef(const aafUID_t& id, IAAFClassDef** out) override;
    AAFRESULT LookupDataDef(const aafUID_t& id, IAAFDataDef** out) override;
    AAFRESULT LookupTypeDef(const aafUID_t& id, IAAFTypeDef** out) override;
    AAFRESULT LookupParameterDef(const aafUID_t& id, IAAFParameterDef** out) override;
    AAFRESULT LookupOperationDef(const aafUID_t& id, IAAFOperationDef** out) override;
    AAFRESULT LookupInterpolationDef(const aafUID_t& id, IAAFInterpolationDef** out) override;
    AAFRESULT RegisterDataDef(IAAFDataDef* def) override;
    AAFRESULT RegisterParameterDef(IAAFParameterDef* def) override;
    AAFRESULT RegisterOperationDef(IAAFOperationDef* def) override;
    AAFRESULT RegisterInterpolationDef(IAAFInterpolationDef* def) override;
    // IAAFClassDef
    AAFRESULT CreateInstance(const aafUID_t& iid, IAAFUnknown** out) override;
    // IAAFPluginManager
    AAFRESULT RegisterSharedPlugins() override;
    // IAAFParameterDef
    AAFRESULT Initialize(const aafUID_t& id, const aafCharacter* name, const aafCharacter* description,
                         IAAFTypeDef* type) override;
    // IAAFOperationDef, IAAFInterpolationDef
    AAFRESULT Initialize(const aafUID_t& id, const aafCharacter* name, const aafCharacter* description) override;
    AAFRESULT SetDataDef(IAAFDataDef* def) override;  // also IAAFComponent
    AAFRESULT SetNumberInputs(aafInt32 count) override;
    AAFRESULT SetIsTimeWarp(aafBoolean_t isTimeWarp) override;
    AAFRESULT AddParameterDef(IAAFParameterDef* def) override;
    // IAAFMob
    AAFRESULT SetName(const aafCharacter* name) override;
    AAFRESULT GetMobID(aafMobID_t* id) override;
    AAFRESULT AppendNewTimelineSlot(aafRational_t editRate, IAAFSegment* segment, aafSlotID_t slotID,
                                    const aafCharacter* name, aafPosition_t origin,
                                    IAAFTimelineMobSlot** newSlot) override;
    AAFRESULT CountSlots(aafNumSlots_t* count) override;
    AAFRESULT AppendSlot(IAAFMobSlot* slot) override;
    // IAAFSourceMob
    AAFRESULT SetEssenceDescriptor(IAAFEssenceDescriptor* descriptor) override;
    // IAAFEssenceDescriptor, IAAFFileDescriptor, IAAFWAVEDescriptor
    AAFRESULT AppendLocator(IAAFLocator* locator) override;
    AAFRESULT SetSampleRate(const aafRational_t& rate) override;
    AAFRESULT SetLength(aafLength_t length) override;  // also IAAFComponent
    AAFRESULT SetSummary(aafUInt32 size, const aafUInt8* summary) override;
    // IAAFLocator
    AAFRESULT SetPath(const aafCharacter* path) override;
    // Components
    AAFRESULT Initialize(IAAFDataDef* def, aafLength_t length, aafSourceRef_t sourceRef) override;
    AAFRESULT Initialize(IAAFDataDef* def) override;
    AAFRESULT AppendComponent(IAAFComponent* component) override;
    AAFRESULT Initialize(IAAFDataDef* def, aafLength_t length) override;
    AAFRESULT Initialize(IAAFDataDef* def, aafLength_t length, aafPosition_t cutPoint,
                         IAAFOperationGroup* group) override;
    AAFRESULT Initialize(aafLength_t length, const aafTimecode_t* timecode) override;
    AAFRESULT Initialize(IAAFDataDef* def, aafLength_t length, IAAFOperationDef* operation) override;
    AAFRESULT AppendInputSegment(IAAFSegment* segment) override;
    AAFRESULT AddParameter(IAAFParameter* parameter) override;
    // Parameters
    AAFRESULT Initialize(IAAFParameterDef* def, aafUInt32 size, const aafUInt8* value) override;
    AAFRESULT Initialize(IAAFParameterDef* def, IAAFInterpolationDef* interpolation) override;
    AAFRESULT AddControlPoint(IAAFControlPoint* point) override;
    AAFRESULT Initialize(IAAFVaryingValue* owner, const aafRational_t& time, aafUInt32 size,
                         const aafUInt8* value) override;
    // Slots and events
    AAFRESULT SetSegment(IAAFSegment* segment) override;
    AAFRESULT SetSlotID(aafSlotID_t id) override;
    AAFRESULT SetEditRate(const aafRational_t* rate) override;
    AAFRESULT SetPosition(aafPosition_t position) override;
    AAFRESULT SetComment(const aafCharacter* comment) override;

    // Runtime side (not part of any interface).
    const aaf::Auid& ClassAuid() const { return classId_; }
    void SetClassAuid(const aaf::Auid& id) { classId_ = id; }
    Property& Prop(std::uint16_t pid, aaf::StoredForm form);
    const Property* FindProp(std::uint16_t pid) const;
    void SetData(std::uint16_t pid, std::vector<std::uint8_t> bytes);
    // Takes a reference on `child`; false when it already has an owner.
    bool AppendChild(std::uint16_t pid, aaf::StoredForm form, Object* child);
    bool SetChild(std::uint16_t pid, Object* child);
    void SetWeak(std::uint16_t pid, const aaf::PropertyPath& target, std::uint16_t keyPid,
                 std::vector<std::uint8_t> key);
    std::vector<std::uint8_t> Identification() const;  // a definition's AUID bytes
    std::unique_ptr<aaf::StoredObject> ToStored() const;

    const std::shared_ptr<FileState>& State() const { return state_; }

    // File-level state (kind File only).
    std::string path;
    bool open = false;

private:
    Object* Dictionary() const;  // of this object's file
    Object* DictionaryElement(std::uint16_t setPid, const aafUID_t& id) const;
    bool Supports(const aafUID_t& iid) const;

    Kind kind_;
    aaf::Auid classId_;
    std::shared_ptr<FileState> state_;
    std::uint32_t refs_ = 1;
    bool attached_ = false;
    bool initialized_ = false;
    std::vector<Property> properties_;
};

// Creates a new file object for `path` with the header, identification,
// content storage, dictionary and meta-dictionary a new file holds.
AAFRESULT CreateNewFile(const std::u16string& path, const aafProductIdentification_t& identification,
                        Object** file);
AAFRESULT GetPluginManager(Object** manager);

// UTF-8 of UTF-16 text; a lone unit U+DC80..U+DCFF is the byte it carries
// (unit - 0xDC00), so a path that is not UTF-8 comes back byte for byte.
std::string ToUtf8(const std::u16string& text);

}  // namespace korvel::aafrt
