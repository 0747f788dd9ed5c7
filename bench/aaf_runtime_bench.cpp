// The AAF runtime through its loader: 100,000 source clips in one sequence,
// created and saved, beside the storage layer writing stored objects of the
// same shape and property bytes directly (the limit).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "playback/aaf/stored_object.h"
#include "playback/aaf_loader.h"

namespace {

using namespace korvel;

constexpr int kClips = 100000;
constexpr aafUID_t kSound = {0x01030202, 0x0200, 0x0000, {0x06, 0x0e, 0x2b, 0x34, 0x04, 0x01, 0x01, 0x01}};

std::string ScratchPath(const char* name) {
    std::error_code error;
    const auto dir = std::filesystem::temp_directory_path(error) / "korvel_bench";
    std::filesystem::create_directories(dir, error);
    return (dir / name).string();
}

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
    return p && p->QueryInterface(iid, &out) == 0 ? static_cast<I*>(out) : nullptr;
}

bool WriteThroughRuntime(const std::string& path) {
    const std::u16string name = aaf::ToU16(path);
    aafProductVersion_t version{1, 0, 0, 0, 0};
    aafProductIdentification_t ident{u"Korvel", u"Korvel", nullptr, {}, nullptr, &version};
    IAAFFile* file = nullptr;
    if (AAFFileOpenNewModifyEx(name.c_str(), &kAAFFileKind_Aaf512Binary, 0, &ident, &file) != 0) return false;
    IAAFHeader* header = nullptr;
    IAAFDictionary* dict = nullptr;
    IAAFDataDef* sound = nullptr;
    file->GetHeader(&header);
    header->GetDictionary(&dict);
    dict->LookupDataDef(kSound, &sound);
    IAAFMob* comp = Create<IAAFMob>(dict, AUID_AAFCompositionMob, IID_IAAFMob);
    auto* seq = Create<IAAFSequence>(dict, AUID_AAFSequence, IID_IAAFSequence);
    seq->Initialize(sound);
    aafMobID_t id{};
    comp->GetMobID(&id);
    for (int i = 0; i < kClips; ++i) {
        auto* clip = Create<IAAFSourceClip>(dict, AUID_AAFSourceClip, IID_IAAFSourceClip);
        clip->Initialize(sound, 1000, aafSourceRef_t{id, 1, i});
        IAAFComponent* c = QI<IAAFComponent>(clip, IID_IAAFComponent);
        seq->AppendComponent(c);
        c->Release();
        clip->Release();
    }
    IAAFSegment* seg = QI<IAAFSegment>(seq, IID_IAAFSegment);
    comp->AppendNewTimelineSlot({48000, 1}, seg, 1, u"Track 1", 0, nullptr);
    header->AddMob(comp);
    const bool ok = file->Save() == 0 && file->Close() == 0;
    for (IAAFUnknown* p : {static_cast<IAAFUnknown*>(seg), static_cast<IAAFUnknown*>(seq),
                           static_cast<IAAFUnknown*>(comp), static_cast<IAAFUnknown*>(sound),
                           static_cast<IAAFUnknown*>(dict), static_cast<IAAFUnknown*>(header),
                           static_cast<IAAFUnknown*>(file)})
        p->Release();
    return ok;
}

// The same clips as stored objects, written by the storage layer alone.
bool WriteThroughStorage(const std::string& path) {
    const aaf::Auid soundKey{kSound.Data1, kSound.Data2, kSound.Data3, {0x06, 0x0e, 0x2b, 0x34, 0x04, 0x01, 0x01, 0x01}};
    const aaf::Auid clipClass{AUID_AAFSourceClip.Data1, AUID_AAFSourceClip.Data2, AUID_AAFSourceClip.Data3,
                              {0x06, 0x0e, 0x2b, 0x34, 0x02, 0x06, 0x01, 0x01}};
    const aaf::PropertyPath target = {0x0002, 0x3b04, 0x2605};
    aaf::StoredObject root(clipClass);
    std::vector<std::unique_ptr<aaf::StoredObject>> clips;
    clips.reserve(kClips);
    for (int i = 0; i < kClips; ++i) {
        auto clip = std::make_unique<aaf::StoredObject>(clipClass);
        clip->SetWeakReference(0x0201, target, 0x1b01, aaf::EncodeAuid(soundKey));
        std::vector<std::uint8_t> length, start, slot;
        aaf::AppendU64(length, 1000);
        aaf::AppendU64(start, static_cast<std::uint64_t>(i));
        aaf::AppendU32(slot, 1);
        clip->SetData(0x0202, length);
        clip->SetData(0x1101, std::vector<std::uint8_t>(32, 7));
        clip->SetData(0x1102, slot);
        clip->SetData(0x1201, start);
        clips.push_back(std::move(clip));
    }
    root.SetStrongReferenceVector(0x1001, "Components", std::move(clips));
    std::string error;
    return aaf::SaveStoredFile(path, {}, root, error);
}

void BM_AAFRuntimeClipsVsStorageLayer(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    if (AAFLoad(KORVEL_AAF_RUNTIME) != 0) {
        state.SkipWithError("the AAF runtime did not load");
        return;
    }
    const std::string ours = ScratchPath("bench_runtime.aaf");
    const std::string plain = ScratchPath("bench_storage.aaf");
    double oursSeconds = 0.0, plainSeconds = 0.0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (!WriteThroughRuntime(ours)) state.SkipWithError("runtime write failed");
        const auto t1 = Clock::now();
        if (!WriteThroughStorage(plain)) state.SkipWithError("storage write failed");
        const auto t2 = Clock::now();
        oursSeconds += std::chrono::duration<double>(t1 - t0).count();
        plainSeconds += std::chrono::duration<double>(t2 - t1).count();
    }
    std::error_code error;
    const double n = static_cast<double>(state.iterations());
    state.counters["runtime_ms"] = oursSeconds / n * 1000.0;
    state.counters["storage_ms"] = plainSeconds / n * 1000.0;
    state.counters["runtime_vs_storage"] = plainSeconds / oursSeconds;  // 1 would be the storage layer's speed
    state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(ours, error));
    std::filesystem::remove(ours, error);
    std::filesystem::remove(plain, error);
    UnloadAAFDLL();
}
BENCHMARK(BM_AAFRuntimeClipsVsStorageLayer)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
