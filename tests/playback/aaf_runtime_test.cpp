// The AAF runtime library through its loader: the loader's result codes with
// stand-in libraries, the object model through the forwarders, and the
// written file read back by the independent readers in tests/support.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "playback/aaf_loader.h"
#include "support/aaf_reader.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

std::string Fake(const char* name) { return std::string(KORVEL_FAKE_AAF_DIR) + "/libfake_aaf_" + name + ".so"; }

// Leaves no runtime loaded, whatever a test did.
struct Unloaded {
    Unloaded() { UnloadAAFDLL(); }
    ~Unloaded() { UnloadAAFDLL(); }
};

TEST(AAFLoader, ResultCodesForEachKindOfLibrary) {
    struct Case {
        const char* name;
        std::string library;
        AAFRESULT load;
        AAFRESULT openNew;  // the forwarder's result afterwards (when loaded)
    };
    const std::vector<Case> cases = {
        {"not found", "/nonexistent/libAAFCOAPI.so", static_cast<AAFRESULT>(0x8007007E), 0},
        {"lacks a required entry point", Fake("no_plugin_manager"), static_cast<AAFRESULT>(0x8007007F), 0},
        {"lacks the optional open call", Fake("no_open_ex"), 0, static_cast<AAFRESULT>(0x80120401)},
        {"memory storage without disk storage", Fake("memory_without_disk"), static_cast<AAFRESULT>(0x8007007F), 0},
        {"memory storage with its companions", Fake("memory_with_disk"), 0, static_cast<AAFRESULT>(0x8012ABCD)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Unloaded guard;
        EXPECT_EQ(AAFLoad(c.library.c_str()), c.load);
        if (c.load != 0) {
            // A failed load leaves nothing behind, so the next export tries again.
            EXPECT_EQ(AAFDLLInstance, nullptr);
            continue;
        }
        ASSERT_NE(AAFDLLInstance, nullptr);
        EXPECT_NE(AAFDLLInstance->handle, nullptr);
        EXPECT_NE(AAFDLLInstance->AAFGetPluginManager, nullptr);
        IAAFFile* file = nullptr;
        aafProductIdentification_t id{};
        EXPECT_EQ(AAFFileOpenNewModifyEx(u"x.aaf", &kAAFFileKind_Aaf512Binary, 0, &id, &file), c.openNew);
        EXPECT_EQ(file, nullptr);
    }
}

TEST(AAFLoader, SecondLoadUnloadAndNullArguments) {
    Unloaded guard;
    // The default name is found beside the test binary.
    ASSERT_EQ(AAFLoad(nullptr), 0);
    AAFDLL* first = AAFDLLInstance;
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first->AAFFileOpenNewModifyEx, nullptr);
    EXPECT_EQ(AAFLoad(nullptr), static_cast<AAFRESULT>(0x80120166));
    EXPECT_EQ(AAFDLLInstance, first);
    AAFDLL* got = nullptr;
    EXPECT_EQ(GetAAFDLL(&got), 0);
    EXPECT_EQ(got, first);
    EXPECT_EQ(UnloadAAFDLL(), 0);
    EXPECT_EQ(AAFDLLInstance, nullptr);
    EXPECT_EQ(UnloadAAFDLL(), 0);
    // GetAAFDLL loads on first use.
    EXPECT_EQ(GetAAFDLL(&got), 0);
    EXPECT_NE(got, nullptr);

    void* handle = nullptr;
    void* entry = nullptr;
    const AAFRESULT nullParam = static_cast<AAFRESULT>(0x80120164);
    EXPECT_EQ(LoadAAFLibrary(nullptr, &handle), nullParam);
    EXPECT_EQ(LoadAAFLibrary("libAAFCOAPI.so", nullptr), nullParam);
    EXPECT_EQ(FindAAFSymbol(nullptr, "AAFGetPluginManager", &entry), nullParam);
    EXPECT_EQ(FindAAFSymbol(got->handle, nullptr, &entry), nullParam);
    EXPECT_EQ(FindAAFSymbol(got->handle, "AAFGetPluginManager", nullptr), nullParam);
    EXPECT_EQ(FindAAFSymbol(got->handle, "NoSuchEntryPoint", &entry), static_cast<AAFRESULT>(0x8007007F));
    EXPECT_EQ(FreeAAFLibrary(nullptr), nullParam);
    EXPECT_EQ(GetAAFDLL(nullptr), nullParam);

    IAAFPluginManager* manager = nullptr;
    ASSERT_EQ(AAFGetPluginManager(&manager), 0);
    EXPECT_EQ(manager->RegisterSharedPlugins(), 0);
    manager->Release();
    EXPECT_LT(AAFGetPluginManager(nullptr), 0);
}

// ---------------------------------------------------------------------------
// Object model
// ---------------------------------------------------------------------------

constexpr aafUID_t kSound = {0x01030202, 0x0200, 0x0000, {0x06, 0x0e, 0x2b, 0x34, 0x04, 0x01, 0x01, 0x01}};
constexpr aafUID_t kTimecodeDef = {0x01030201, 0x0100, 0x0000, {0x06, 0x0e, 0x2b, 0x34, 0x04, 0x01, 0x01, 0x01}};
constexpr aafUID_t kRationalType = {0x03010100, 0x0000, 0x0000, {0x06, 0x0e, 0x2b, 0x34, 0x01, 0x04, 0x01, 0x01}};
constexpr aafUID_t kGainOp = {0x9D2EA894, 0x0968, 0x11D3, {0x8A, 0x38, 0x00, 0x50, 0x04, 0x0E, 0xF7, 0xD2}};
constexpr aafUID_t kAmplitude = {0xE4962321, 0x2267, 0x11D3, {0x8A, 0x4C, 0x00, 0x50, 0x04, 0x0E, 0xF7, 0xD2}};
constexpr aafUID_t kLinear = {0x5B6C85A4, 0x0EDE, 0x11D3, {0x80, 0xA9, 0x00, 0x60, 0x08, 0x14, 0x3E, 0x6F}};

template <typename I>
I* Create(IAAFDictionary* d, const aafUID_t& cls, const aafUID_t& iid) {
    IAAFClassDef* def = nullptr;
    if (d->LookupClassDef(cls, &def) != 0) return nullptr;
    IAAFUnknown* out = nullptr;
    def->CreateInstance(iid, &out);
    def->Release();
    return reinterpret_cast<I*>(out);
}

template <typename I>
I* QI(IAAFUnknown* p, const aafUID_t& iid) {
    void* out = nullptr;
    if (!p || p->QueryInterface(iid, &out) != 0) return nullptr;
    return static_cast<I*>(out);
}

std::string U16Bytes(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    out.append(2, '\0');
    return out;
}

std::string Bytes(const void* p, std::size_t n) { return std::string(static_cast<const char*>(p), n); }

// The stored form of an AUID: three little-endian fields and eight bytes.
std::string AuidBytes(const aafUID_t& u) {
    std::string out = Bytes(&u.Data1, 4) + Bytes(&u.Data2, 2) + Bytes(&u.Data3, 2);
    return out + Bytes(u.Data4, 8);
}

std::string MobIdBytes(const aafMobID_t& id) { return Bytes(id.SMPTELabel, 16) + AuidBytes(id.material); }

std::int64_t I64(const std::string& v) {
    std::int64_t x = 0;
    for (int i = 7; i >= 0; --i) x = x << 8 | static_cast<unsigned char>(v.at(i));
    return x;
}

const test::aafr::Object& Strong(const test::aafr::Object& o, std::uint16_t pid) {
    const test::aafr::Property* p = o.Find(pid);
    EXPECT_NE(p, nullptr) << std::hex << pid;
    static const test::aafr::Object none;
    return p && p->objects.size() == 1 ? p->objects.front() : none;
}

std::vector<const test::aafr::Object*> Elements(const test::aafr::Object& o, std::uint16_t pid) {
    std::vector<const test::aafr::Object*> out;
    if (const test::aafr::Property* p = o.Find(pid))
        for (const auto& e : p->objects) out.push_back(&e);
    return out;
}

std::string Value(const test::aafr::Object& o, std::uint16_t pid) {
    const test::aafr::Property* p = o.Find(pid);
    return p ? p->value : std::string("<missing>");
}

TEST(AAFRuntime, ANewFileWithEveryKindOfMobReadsBack) {
    Unloaded guard;
    test::TempDir dir;
    // A blank and characters beyond ASCII in the path, as 16-bit units.
    const std::string path = dir.file("Sp\xC3\xA9" "cial cue.aaf");
    const std::u16string path16 = u"Sp\u00e9cial cue.aaf";
    const std::u16string fullPath = std::u16string(dir.path().u16string()) + u"/" + path16;

    aafProductVersion_t version{1, 0, 0, 0, 0};
    aafProductIdentification_t ident{u"Korvel", u"Korvel", nullptr, {}, nullptr, &version};
    IAAFFile* file = nullptr;
    ASSERT_EQ(AAFFileOpenNewModifyEx(fullPath.c_str(), &kAAFFileKind_Aaf512Binary, 0, &ident, &file), 0);
    IAAFHeader* header = nullptr;
    ASSERT_EQ(file->GetHeader(&header), 0);
    IAAFDictionary* dict = nullptr;
    ASSERT_EQ(header->GetDictionary(&dict), 0);
    IAAFDataDef* sound = nullptr;
    ASSERT_EQ(dict->LookupDataDef(kSound, &sound), 0);
    IAAFDataDef* tcDef = nullptr;
    ASSERT_EQ(dict->LookupDataDef(kTimecodeDef, &tcDef), 0);

    // Source mob: WAVE descriptor with a network locator, one timeline slot.
    auto* source = Create<IAAFSourceMob>(dict, AUID_AAFSourceMob, IID_IAAFSourceMob);
    ASSERT_NE(source, nullptr);
    IAAFMob* sourceMob = QI<IAAFMob>(source, IID_IAAFMob);
    ASSERT_EQ(sourceMob->SetName(u"boom"), 0);
    auto* wave = Create<IAAFWAVEDescriptor>(dict, AUID_AAFWAVEDescriptor, IID_IAAFWAVEDescriptor);
    IAAFFileDescriptor* fileDesc = QI<IAAFFileDescriptor>(wave, IID_IAAFFileDescriptor);
    EXPECT_EQ(fileDesc->SetSampleRate({48000, 1}), 0);
    EXPECT_EQ(fileDesc->SetLength(96000), 0);
    const std::uint8_t summary[44] = {'R', 'I', 'F', 'F'};
    EXPECT_EQ(wave->SetSummary(44, summary), 0);
    auto* locator = Create<IAAFLocator>(dict, AUID_AAFNetworkLocator, IID_IAAFLocator);
    EXPECT_EQ(locator->SetPath(u"file:///tmp/boom.wav"), 0);
    IAAFEssenceDescriptor* essence = QI<IAAFEssenceDescriptor>(wave, IID_IAAFEssenceDescriptor);
    EXPECT_EQ(essence->AppendLocator(locator), 0);
    EXPECT_EQ(source->SetEssenceDescriptor(essence), 0);
    auto* clip = Create<IAAFSourceClip>(dict, AUID_AAFSourceClip, IID_IAAFSourceClip);
    EXPECT_EQ(clip->Initialize(sound, 96000, aafSourceRef_t{}), 0);
    IAAFSegment* clipSeg = QI<IAAFSegment>(clip, IID_IAAFSegment);
    EXPECT_EQ(sourceMob->AppendNewTimelineSlot({48000, 1}, clipSeg, 1, u"Audio", 0, nullptr), 0);
    aafMobID_t sourceId{};
    ASSERT_EQ(sourceMob->GetMobID(&sourceId), 0);
    EXPECT_EQ(header->AddMob(sourceMob), 0);
    EXPECT_LT(header->AddMob(sourceMob), 0);  // one owner only
    for (IAAFUnknown* p : std::initializer_list<IAAFUnknown*>{clipSeg, clip, essence, locator, fileDesc, wave})
        p->Release();

    // Master mob playing the source mob.
    IAAFMob* master = Create<IAAFMob>(dict, AUID_AAFMasterMob, IID_IAAFMob);
    ASSERT_NE(master, nullptr);
    EXPECT_EQ(master->SetName(u"boom \u00e9"), 0);
    clip = Create<IAAFSourceClip>(dict, AUID_AAFSourceClip, IID_IAAFSourceClip);
    EXPECT_EQ(clip->Initialize(sound, 96000, aafSourceRef_t{sourceId, 1, 0}), 0);
    clipSeg = QI<IAAFSegment>(clip, IID_IAAFSegment);
    EXPECT_EQ(master->AppendNewTimelineSlot({48000, 1}, clipSeg, 1, u"Audio", 0, nullptr), 0);
    aafMobID_t masterId{};
    EXPECT_EQ(master->GetMobID(&masterId), 0);
    EXPECT_NE(std::memcmp(&masterId, &sourceId, sizeof masterId), 0);
    EXPECT_EQ(header->AddMob(master), 0);
    clipSeg->Release();
    clip->Release();

    // Definitions the composition registers.
    IAAFTypeDef* rational = nullptr;
    ASSERT_EQ(dict->LookupTypeDef(kRationalType, &rational), 0);
    IAAFParameterDef* amplitude = nullptr;
    EXPECT_LT(dict->LookupParameterDef(kAmplitude, &amplitude), 0);
    amplitude = Create<IAAFParameterDef>(dict, AUID_AAFParameterDefinition, IID_IAAFParameterDef);
    EXPECT_EQ(amplitude->Initialize(kAmplitude, u"Amplitude", u"Gain amplitude parameter", rational), 0);
    EXPECT_EQ(dict->RegisterParameterDef(amplitude), 0);
    auto* linear = Create<IAAFInterpolationDef>(dict, AUID_AAFInterpolationDefinition, IID_IAAFInterpolationDef);
    EXPECT_EQ(linear->Initialize(kLinear, u"LinearInterp", u"Linear interpolation"), 0);
    EXPECT_EQ(dict->RegisterInterpolationDef(linear), 0);
    auto* gain = Create<IAAFOperationDef>(dict, AUID_AAFOperationDefinition, IID_IAAFOperationDef);
    EXPECT_EQ(gain->Initialize(kGainOp, u"Mono Audio Gain", u"A mono audio gain adjustment"), 0);
    EXPECT_EQ(gain->SetDataDef(sound), 0);
    EXPECT_EQ(gain->SetNumberInputs(1), 0);
    EXPECT_EQ(gain->SetIsTimeWarp(0), 0);
    EXPECT_EQ(gain->AddParameterDef(amplitude), 0);
    EXPECT_EQ(dict->RegisterOperationDef(gain), 0);
    IAAFOperationDef* found = nullptr;
    EXPECT_EQ(dict->LookupOperationDef(kGainOp, &found), 0);
    found->Release();

    // Composition: timecode slot, a sequence of filler, clip in a gain
    // group with a varying value, transition; an event slot with a marker.
    IAAFMob* comp = Create<IAAFMob>(dict, AUID_AAFCompositionMob, IID_IAAFMob);
    EXPECT_EQ(comp->SetName(u"Korvel Timeline"), 0);
    auto* tc = Create<IAAFTimecode>(dict, AUID_AAFTimecode, IID_IAAFTimecode);
    aafTimecode_t tcValue{0, 0, 25};
    EXPECT_EQ(tc->Initialize(480000, &tcValue), 0);
    IAAFComponent* tcComp = QI<IAAFComponent>(tc, IID_IAAFComponent);
    EXPECT_EQ(tcComp->SetDataDef(tcDef), 0);
    IAAFSegment* tcSeg = QI<IAAFSegment>(tc, IID_IAAFSegment);
    EXPECT_EQ(comp->AppendNewTimelineSlot({48000, 1}, tcSeg, 100, u"TC", 0, nullptr), 0);
    for (IAAFUnknown* p : std::initializer_list<IAAFUnknown*>{tcSeg, tcComp, tc}) p->Release();

    auto* seq = Create<IAAFSequence>(dict, AUID_AAFSequence, IID_IAAFSequence);
    EXPECT_EQ(seq->Initialize(sound), 0);
    auto* filler = Create<IAAFFiller>(dict, AUID_AAFFiller, IID_IAAFFiller);
    EXPECT_EQ(filler->Initialize(sound, 1000), 0);
    IAAFComponent* fillerComp = QI<IAAFComponent>(filler, IID_IAAFComponent);
    EXPECT_EQ(seq->AppendComponent(fillerComp), 0);
    clip = Create<IAAFSourceClip>(dict, AUID_AAFSourceClip, IID_IAAFSourceClip);
    EXPECT_EQ(clip->Initialize(sound, 5000, aafSourceRef_t{masterId, 1, 250}), 0);
    clipSeg = QI<IAAFSegment>(clip, IID_IAAFSegment);
    auto* group = Create<IAAFOperationGroup>(dict, AUID_AAFOperationGroup, IID_IAAFOperationGroup);
    EXPECT_EQ(group->Initialize(sound, 5000, gain), 0);
    EXPECT_EQ(group->AppendInputSegment(clipSeg), 0);
    auto* varying = Create<IAAFVaryingValue>(dict, AUID_AAFVaryingValue, IID_IAAFVaryingValue);
    EXPECT_EQ(varying->Initialize(amplitude, linear), 0);
    for (int j = 0; j < 3; ++j) {
        auto* point = Create<IAAFControlPoint>(dict, AUID_AAFControlPoint, IID_IAAFControlPoint);
        const aafRational_t value{500 * j, 1000};
        EXPECT_EQ(point->Initialize(varying, {j, 2}, 8, reinterpret_cast<const aafUInt8*>(&value)), 0);
        EXPECT_EQ(varying->AddControlPoint(point), 0);
        point->Release();
    }
    IAAFParameter* varyingParam = QI<IAAFParameter>(varying, IID_IAAFParameter);
    EXPECT_EQ(group->AddParameter(varyingParam), 0);
    auto* constant = Create<IAAFConstantValue>(dict, AUID_AAFConstantValue, IID_IAAFConstantValue);
    const aafRational_t two{2, 1};
    EXPECT_EQ(constant->Initialize(amplitude, 8, reinterpret_cast<const aafUInt8*>(&two)), 0);
    IAAFParameter* constantParam = QI<IAAFParameter>(constant, IID_IAAFParameter);
    EXPECT_EQ(group->AddParameter(constantParam), 0);
    IAAFComponent* groupComp = QI<IAAFComponent>(group, IID_IAAFComponent);
    EXPECT_EQ(seq->AppendComponent(groupComp), 0);
    auto* transition = Create<IAAFTransition>(dict, AUID_AAFTransition, IID_IAAFTransition);
    auto* fade = Create<IAAFOperationGroup>(dict, AUID_AAFOperationGroup, IID_IAAFOperationGroup);
    EXPECT_EQ(fade->Initialize(sound, 100, gain), 0);
    EXPECT_EQ(transition->Initialize(sound, 100, 50, fade), 0);
    IAAFComponent* transitionComp = QI<IAAFComponent>(transition, IID_IAAFComponent);
    EXPECT_EQ(seq->AppendComponent(transitionComp), 0);
    IAAFSegment* seqSeg = QI<IAAFSegment>(seq, IID_IAAFSegment);
    EXPECT_EQ(comp->AppendNewTimelineSlot({48000, 1}, seqSeg, 1, u"Track 1", 0, nullptr), 0);
    for (IAAFUnknown* p : std::initializer_list<IAAFUnknown*>{seqSeg, transitionComp, transition, fade, groupComp,
                                                               constantParam, constant, varyingParam, varying, group,
                                                               clipSeg, clip, fillerComp, filler, seq})
        p->Release();

    auto* markers = Create<IAAFSequence>(dict, AUID_AAFSequence, IID_IAAFSequence);
    EXPECT_EQ(markers->Initialize(sound), 0);
    auto* marker = Create<IAAFEvent>(dict, AUID_AAFCommentMarker, IID_IAAFEvent);
    EXPECT_EQ(marker->SetPosition(24000), 0);
    EXPECT_EQ(marker->SetComment(u"Impact, 1.0 s"), 0);
    IAAFComponent* markerComp = QI<IAAFComponent>(marker, IID_IAAFComponent);
    EXPECT_EQ(markerComp->SetDataDef(sound), 0);
    EXPECT_EQ(markerComp->SetLength(0), 0);
    EXPECT_EQ(markers->AppendComponent(markerComp), 0);
    auto* eventSlot = Create<IAAFEventMobSlot>(dict, AUID_AAFEventMobSlot, IID_IAAFEventMobSlot);
    const aafRational_t rate{48000, 1};
    EXPECT_EQ(eventSlot->SetEditRate(&rate), 0);
    IAAFMobSlot* slot = QI<IAAFMobSlot>(eventSlot, IID_IAAFMobSlot);
    IAAFSegment* markerSeg = QI<IAAFSegment>(markers, IID_IAAFSegment);
    EXPECT_EQ(slot->SetSegment(markerSeg), 0);
    aafNumSlots_t slots = 0;
    EXPECT_EQ(comp->CountSlots(&slots), 0);
    EXPECT_EQ(slots, 2u);
    EXPECT_EQ(slot->SetSlotID(slots + 1), 0);
    EXPECT_EQ(comp->AppendSlot(slot), 0);
    EXPECT_EQ(header->AddMob(comp), 0);
    aafMobID_t compId{};
    EXPECT_EQ(comp->GetMobID(&compId), 0);
    for (IAAFUnknown* p : std::initializer_list<IAAFUnknown*>{markerSeg, slot, eventSlot, markerComp, marker, markers,
                                                               comp, gain, linear, amplitude, rational, master,
                                                               sourceMob, source})
        p->Release();
    aafNumSlots_t mobs = 0;
    EXPECT_EQ(header->CountMobs(&mobs), 0);
    EXPECT_EQ(mobs, 3u);

    EXPECT_EQ(file->Save(), 0);
    EXPECT_EQ(file->Close(), 0);
    EXPECT_LT(file->Save(), 0);  // closed
    for (IAAFUnknown* p : std::initializer_list<IAAFUnknown*>{tcDef, sound, dict, header, file}) p->Release();

    // Read back independently.
    const test::aafr::File f = test::aafr::Read(test::ReadBytes(path));
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ(Bytes(f.storage.classId.data(), 16), AuidBytes(kAAFFileKind_Aaf512Binary));
    EXPECT_EQ(Bytes(f.root.classId.data(), 16), AuidBytes(AUID_AAFRoot));
    const test::aafr::Object& h = Strong(f.root, 0x0002);
    EXPECT_EQ(Bytes(h.classId.data(), 16), AuidBytes(AUID_AAFHeader));
    EXPECT_EQ(Value(h, 0x3b01), std::string("II"));
    EXPECT_EQ(Value(h, 0x3b02).size(), 8u);
    EXPECT_EQ(Value(h, 0x3b05), std::string("\x01\x01", 2));
    EXPECT_EQ(Value(h, 0x3b07), std::string("\x01\0\0\0", 4));
    const std::vector<const test::aafr::Object*> idents = Elements(h, 0x3b06);
    ASSERT_EQ(idents.size(), 1u);
    EXPECT_EQ(Value(*idents[0], 0x3c01), U16Bytes(u"Korvel"));
    EXPECT_EQ(Value(*idents[0], 0x3c02), U16Bytes(u"Korvel"));
    EXPECT_EQ(Value(*idents[0], 0x3c06).size(), 8u);
    EXPECT_EQ(Value(*idents[0], 0x3c09).size(), 16u);

    const test::aafr::Object& content = Strong(h, 0x3b03);
    const test::aafr::Property* mobSet = content.Find(0x1901);
    ASSERT_NE(mobSet, nullptr);
    EXPECT_EQ(mobSet->form, test::aafr::kStrongSet);
    ASSERT_EQ(mobSet->objects.size(), 3u);
    // The essence lives beside the file, but readers require the set.
    const test::aafr::Property* essenceData = content.Find(0x1902);
    ASSERT_NE(essenceData, nullptr);
    EXPECT_EQ(essenceData->form, test::aafr::kStrongSet);
    EXPECT_EQ(essenceData->keyPid, 0x2701);
    EXPECT_TRUE(essenceData->objects.empty());
    struct MobCase {
        aafUID_t cls;
        aafMobID_t id;
        std::u16string name;
        std::size_t slots;
    };
    const std::vector<MobCase> mobCases = {
        {AUID_AAFSourceMob, sourceId, u"boom", 1},
        {AUID_AAFMasterMob, masterId, u"boom \u00e9", 1},
        {AUID_AAFCompositionMob, compId, u"Korvel Timeline", 3},
    };
    for (std::size_t i = 0; i < mobCases.size(); ++i) {
        SCOPED_TRACE(i);
        const test::aafr::Object& m = mobSet->objects[i];
        EXPECT_EQ(Bytes(m.classId.data(), 16), AuidBytes(mobCases[i].cls));
        EXPECT_EQ(Value(m, 0x4401), MobIdBytes(mobCases[i].id));
        EXPECT_EQ(mobSet->keys[i], MobIdBytes(mobCases[i].id));
        EXPECT_EQ(Value(m, 0x4402), U16Bytes(mobCases[i].name));
        EXPECT_EQ(Value(m, 0x4404).size(), 8u);
        EXPECT_EQ(Value(m, 0x4405).size(), 8u);
        EXPECT_EQ(Elements(m, 0x4403).size(), mobCases[i].slots);
    }

    // The source mob's descriptor and the master mob's reference to it.
    const test::aafr::Object& desc = Strong(mobSet->objects[0], 0x4701);
    EXPECT_EQ(Value(desc, 0x3801).substr(0, 4), "RIFF");  // WAVEDescriptor::Summary
    EXPECT_EQ(Value(desc, 0x3001), std::string("\x80\xBB\0\0\x01\0\0\0", 8));
    EXPECT_EQ(I64(Value(desc, 0x3002)), 96000);
    EXPECT_EQ(Value(*Elements(desc, 0x2f01).at(0), 0x4001), U16Bytes(u"file:///tmp/boom.wav"));
    const test::aafr::Object& masterClip = Strong(*Elements(mobSet->objects[1], 0x4403).at(0), 0x4803);
    EXPECT_EQ(Value(masterClip, 0x1101), MobIdBytes(sourceId));
    const test::aafr::Property* dataDef = masterClip.Find(0x0201);
    ASSERT_NE(dataDef, nullptr);
    const test::aafr::Object* soundDef = test::aafr::ResolveWeak(f, dataDef->tag, dataDef->keyPid, dataDef->keys.at(0));
    ASSERT_NE(soundDef, nullptr);
    EXPECT_EQ(Value(*soundDef, 0x1b02), U16Bytes(u"Sound"));

    // The composition: timecode, the track's sequence with its length, the
    // gain group's parameters and the marker slot.
    const std::vector<const test::aafr::Object*> compSlots = Elements(mobSet->objects[2], 0x4403);
    ASSERT_EQ(compSlots.size(), 3u);
    EXPECT_EQ(Value(*compSlots[0], 0x4801), std::string("\x64\0\0\0", 4));
    EXPECT_EQ(Value(*compSlots[0], 0x4802), U16Bytes(u"TC"));
    const test::aafr::Object& timecode = Strong(*compSlots[0], 0x4803);
    EXPECT_EQ(Value(timecode, 0x1502), std::string("\x19\0", 2));
    const test::aafr::Object& track = Strong(*compSlots[1], 0x4803);
    EXPECT_EQ(I64(Value(track, 0x0202)), 1000 + 5000 - 100);
    const std::vector<const test::aafr::Object*> parts = Elements(track, 0x1001);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(Bytes(parts[0]->classId.data(), 16), AuidBytes(AUID_AAFFiller));
    EXPECT_EQ(Bytes(parts[2]->classId.data(), 16), AuidBytes(AUID_AAFTransition));
    EXPECT_EQ(I64(Value(*parts[2], 0x1802)), 50);
    const std::vector<const test::aafr::Object*> params = Elements(*parts[1], 0x0b03);
    ASSERT_EQ(params.size(), 2u);
    EXPECT_EQ(Value(*params[0], 0x4c01), AuidBytes(kAmplitude));
    const std::vector<const test::aafr::Object*> points = Elements(*params[0], 0x4e02);
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(Value(*points[2], 0x1a03), std::string("\x02\0\0\0\x02\0\0\0", 8));
    const std::string indirectTwo = "L" + AuidBytes(kRationalType) + std::string("\x02\0\0\0\x01\0\0\0", 8);
    EXPECT_EQ(Value(*params[1], 0x4d01), indirectTwo);
    EXPECT_EQ(Value(*Elements(*parts[1], 0x0b02).at(0), 0x1101), MobIdBytes(masterId));
    EXPECT_EQ(Value(*compSlots[2], 0x4801), std::string("\x03\0\0\0", 4));
    const test::aafr::Object& marks = Strong(*compSlots[2], 0x4803);
    ASSERT_EQ(Elements(marks, 0x1001).size(), 1u);
    EXPECT_EQ(Value(*Elements(marks, 0x1001)[0], 0x0602), U16Bytes(u"Impact, 1.0 s"));
    EXPECT_EQ(I64(Value(*Elements(marks, 0x1001)[0], 0x0601)), 24000);

    // The dictionary and the meta-dictionary.
    const test::aafr::Object& dictionary = Strong(h, 0x3b04);
    EXPECT_EQ(Elements(dictionary, 0x2605).size(), 2u);
    ASSERT_EQ(Elements(dictionary, 0x2603).size(), 1u);
    EXPECT_EQ(Value(*Elements(dictionary, 0x2603)[0], 0x1b02), U16Bytes(u"Mono Audio Gain"));
    EXPECT_EQ(Elements(dictionary, 0x2604).size(), 1u);
    EXPECT_EQ(Elements(dictionary, 0x2609).size(), 1u);
    const test::aafr::Object& meta = Strong(f.root, 0x0001);
    std::vector<std::string> classNames;
    for (const auto* c : Elements(meta, 0x0003)) classNames.push_back(Value(*c, 0x0006));
    for (const char16_t* name : {u"CompositionMob", u"MasterMob", u"SourceMob", u"Mob", u"InterchangeObject",
                                 u"CommentMarker", u"Transition", u"VaryingValue", u"WAVEDescriptor", u"Header"}) {
        EXPECT_NE(std::find(classNames.begin(), classNames.end(), U16Bytes(name)), classNames.end());
    }
    // The Rational type that the parameter definitions name is there, with
    // its members (the meta-dictionary as a whole is checked elsewhere).
    const std::vector<const test::aafr::Object*> types = Elements(meta, 0x0004);
    const auto rationalDef = std::find_if(types.begin(), types.end(), [&](const test::aafr::Object* t) {
        return Value(*t, 0x0005) == AuidBytes(kRationalType);
    });
    ASSERT_NE(rationalDef, types.end());
    EXPECT_EQ(Value(**rationalDef, 0x001d), U16Bytes(u"Numerator") + U16Bytes(u"Denominator"));
}

TEST(AAFRuntime, NullArgumentsAndUnwritableFoldersFailWithACode) {
    Unloaded guard;
    aafProductVersion_t version{1, 0, 0, 0, 0};
    aafProductIdentification_t ident{u"Korvel", u"Korvel", nullptr, {}, nullptr, &version};
    IAAFFile* file = nullptr;
    EXPECT_LT(AAFFileOpenNewModifyEx(nullptr, &kAAFFileKind_Aaf512Binary, 0, &ident, &file), 0);
    EXPECT_LT(AAFFileOpenNewModifyEx(u"a.aaf", nullptr, 0, &ident, &file), 0);
    EXPECT_LT(AAFFileOpenNewModifyEx(u"a.aaf", &kAAFFileKind_Aaf512Binary, 0, nullptr, &file), 0);
    EXPECT_LT(AAFFileOpenNewModifyEx(u"a.aaf", &kAAFFileKind_Aaf512Binary, 0, &ident, nullptr), 0);
    EXPECT_LT(AAFFileOpenNewModifyEx(u"/nonexistent folder/a.aaf", &kAAFFileKind_Aaf512Binary, 0, &ident, &file), 0);
    EXPECT_EQ(file, nullptr);

    test::TempDir dir;
    const std::u16string path = dir.path().u16string() + u"/nulls.aaf";
    ASSERT_EQ(AAFFileOpenNewModifyEx(path.c_str(), &kAAFFileKind_Aaf512Binary, 0, &ident, &file), 0);
    IAAFHeader* header = nullptr;
    file->GetHeader(&header);
    IAAFDictionary* dict = nullptr;
    header->GetDictionary(&dict);
    IAAFDataDef* sound = nullptr;
    dict->LookupDataDef(kSound, &sound);
    IAAFMob* mob = Create<IAAFMob>(dict, AUID_AAFCompositionMob, IID_IAAFMob);
    auto* seq = Create<IAAFSequence>(dict, AUID_AAFSequence, IID_IAAFSequence);
    auto* clip = Create<IAAFSourceClip>(dict, AUID_AAFSourceClip, IID_IAAFSourceClip);
    auto* group = Create<IAAFOperationGroup>(dict, AUID_AAFOperationGroup, IID_IAAFOperationGroup);
    auto* varying = Create<IAAFVaryingValue>(dict, AUID_AAFVaryingValue, IID_IAAFVaryingValue);
    auto* slot = Create<IAAFMobSlot>(dict, AUID_AAFEventMobSlot, IID_IAAFMobSlot);
    auto* marker = Create<IAAFEvent>(dict, AUID_AAFCommentMarker, IID_IAAFEvent);
    auto* wave = Create<IAAFWAVEDescriptor>(dict, AUID_AAFWAVEDescriptor, IID_IAAFWAVEDescriptor);
    auto* locator = Create<IAAFLocator>(dict, AUID_AAFNetworkLocator, IID_IAAFLocator);
    ASSERT_TRUE(mob && seq && clip && group && varying && slot && marker && wave && locator);

    struct Case {
        const char* name;
        std::function<AAFRESULT()> call;
    };
    const std::vector<Case> cases = {
        {"GetHeader", [&] { return file->GetHeader(nullptr); }},
        {"GetDictionary", [&] { return header->GetDictionary(nullptr); }},
        {"AddMob", [&] { return header->AddMob(nullptr); }},
        {"CountMobs", [&] { return header->CountMobs(nullptr); }},
        {"LookupClassDef", [&] { return dict->LookupClassDef(AUID_AAFSequence, nullptr); }},
        {"LookupClassDef unknown", [&] {
             IAAFClassDef* c = nullptr;
             return dict->LookupClassDef(kSound, &c);
         }},
        {"LookupDataDef", [&] { return dict->LookupDataDef(kSound, nullptr); }},
        {"RegisterOperationDef", [&] { return dict->RegisterOperationDef(nullptr); }},
        {"QueryInterface", [&] { return mob->QueryInterface(IID_IAAFMob, nullptr); }},
        {"QueryInterface unsupported", [&] {
             void* p = nullptr;
             return mob->QueryInterface(IID_IAAFSequence, &p);
         }},
        {"SetName", [&] { return mob->SetName(nullptr); }},
        {"GetMobID", [&] { return mob->GetMobID(nullptr); }},
        {"AppendNewTimelineSlot", [&] { return mob->AppendNewTimelineSlot({1, 1}, nullptr, 1, u"x", 0, nullptr); }},
        {"AppendSlot", [&] { return mob->AppendSlot(nullptr); }},
        {"CountSlots", [&] { return mob->CountSlots(nullptr); }},
        {"Sequence Initialize", [&] { return seq->Initialize(nullptr); }},
        {"AppendComponent", [&] { return seq->AppendComponent(nullptr); }},
        {"SourceClip Initialize", [&] { return clip->Initialize(nullptr, 1, aafSourceRef_t{}); }},
        {"SourceClip negative length", [&] { return clip->Initialize(sound, -1, aafSourceRef_t{}); }},
        {"OperationGroup Initialize", [&] { return group->Initialize(sound, 1, nullptr); }},
        {"AppendInputSegment", [&] { return group->AppendInputSegment(nullptr); }},
        {"AddParameter", [&] { return group->AddParameter(nullptr); }},
        {"VaryingValue Initialize", [&] { return varying->Initialize(nullptr, nullptr); }},
        {"AddControlPoint", [&] { return varying->AddControlPoint(nullptr); }},
        {"SetSegment", [&] { return slot->SetSegment(nullptr); }},
        {"SetComment", [&] { return marker->SetComment(nullptr); }},
        {"SetSummary", [&] { return wave->SetSummary(44, nullptr); }},
        {"SetPath", [&] { return locator->SetPath(nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_LT(c.call(), 0);
    }
    for (IAAFUnknown* p : std::initializer_list<IAAFUnknown*>{locator, wave, marker, slot, varying, group, clip, seq,
                                                               mob, sound, dict, header})
        p->Release();
    EXPECT_EQ(file->Close(), 0);
    file->Release();
}

}  // namespace
}  // namespace korvel
