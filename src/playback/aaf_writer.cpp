// Index of this file:
// [SECTION] Text and summary helpers
// [SECTION] Interface references and checked calls
// [SECTION] Opening the file
// [SECTION] Source and master mobs
// [SECTION] Composition: definitions
// [SECTION] Composition: tracks
// [SECTION] Markers
// [SECTION] Entry points
#include "playback/aaf_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <numeric>
#include <set>

#include "playback/aaf_loader.h"

namespace korvel {

bool AAFPluginsRegistered = false;
const char* AAFRuntimeLibraryPath = nullptr;

namespace {

constexpr aafUID_t kSoundDataDef = {0x01030202, 0x0200, 0x0000, {0x06, 0x0e, 0x2b, 0x34, 0x04, 0x01, 0x01, 0x01}};
constexpr aafUID_t kTimecodeDataDef = {0x01030201, 0x0100, 0x0000, {0x06, 0x0e, 0x2b, 0x34, 0x04, 0x01, 0x01, 0x01}};
constexpr aafUID_t kRationalTypeDef = {0x03010100, 0x0000, 0x0000, {0x06, 0x0e, 0x2b, 0x34, 0x01, 0x04, 0x01, 0x01}};
constexpr aafUID_t kLevelParameter = {0xE4962320, 0x2267, 0x11D3, {0x8A, 0x4C, 0x00, 0x50, 0x04, 0x0E, 0xF7, 0xD2}};
constexpr aafUID_t kAmplitudeParameter = {0xE4962321, 0x2267, 0x11D3, {0x8A, 0x4C, 0x00, 0x50, 0x04, 0x0E, 0xF7, 0xD2}};
constexpr aafUID_t kDissolveOperation = {0x0C3BEA41, 0xFC05, 0x11D2, {0x8A, 0x29, 0x00, 0x50, 0x04, 0x0E, 0xF7, 0xD2}};
constexpr aafUID_t kGainOperation = {0x9D2EA894, 0x0968, 0x11D3, {0x8A, 0x38, 0x00, 0x50, 0x04, 0x0E, 0xF7, 0xD2}};
constexpr aafUID_t kLinearInterpolation = {0x5B6C85A4, 0x0EDE, 0x11D3, {0x80, 0xA9, 0x00, 0x60, 0x08, 0x14, 0x3E, 0x6F}};

// 2^31 / 25 truncated: the largest gain, 25, still fits a 32-bit numerator.
constexpr std::int32_t kGainDenominator = 85899345;
constexpr double kGainNumeratorScale = 85899344.0;
constexpr float kMaxGain = 25.0f;

void PrintFailure(const char* what, AAFRESULT hr) {
    std::printf("[AAF] %s FAILED hr=0x%08lX\n", what, static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
}

}  // namespace

// [SECTION] Text and summary helpers

std::string MakeFileURL(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char b : path) {
        const bool plain = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
                           b == '.' || b == '_' || b == '~' || b == '/';
        if (plain) {
            url.push_back(static_cast<char>(b));
        } else {
            url.push_back('%');
            url.push_back(hex[b >> 4]);
            url.push_back(hex[b & 0x0F]);
        }
    }
    return url;
}

namespace {

// The length of the well-formed UTF-8 sequence at `at` (1 to 4) and its
// character, or 0 when the byte there starts none (a stray continuation, a
// lead without its continuations, an overlong form, a surrogate or a value
// beyond U+10FFFF).
int DecodeUtf8(const std::string& text, std::size_t at, char32_t& c) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = b(0);
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    int n = 0;
    char32_t min = 0;
    if ((lead & 0xE0) == 0xC0) {
        n = 2, c = lead & 0x1Fu, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        n = 3, c = lead & 0x0Fu, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        n = 4, c = lead & 0x07u, min = 0x10000;
    } else {
        return 0;
    }
    if (at + static_cast<std::size_t>(n) > text.size()) return 0;
    for (int k = 1; k < n; ++k) {
        if ((b(static_cast<std::size_t>(k)) & 0xC0) != 0x80) return 0;
        c = c << 6 | (b(static_cast<std::size_t>(k)) & 0x3Fu);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return 0;
    return n;
}

// UTF-16 of `text`, each byte that starts no character becoming `invalid`
// (or, when `invalid` is 0, the unit U+DC00 + the byte).
std::u16string ToAAFUnits(const std::string& text, char16_t invalid) {
    std::u16string out;
    out.reserve(text.size() + 1);
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const int n = DecodeUtf8(text, i, c);
        if (n == 0) {
            out.push_back(invalid ? invalid : static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(text[i])));
            i += 1;
            continue;
        }
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += static_cast<std::size_t>(n);
    }
    out.push_back(0);
    return out;
}

}  // namespace

std::u16string Utf8ToAAFString(const std::string& text) { return ToAAFUnits(text, u'\uFFFD'); }

std::u16string PathToAAFString(const std::string& path) { return ToAAFUnits(path, 0); }

std::array<std::uint8_t, 44> MakeWaveSummary(std::int64_t length, std::int32_t sampleRate) {
    std::array<std::uint8_t, 44> s{};
    auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    auto tag = [&](std::size_t at, const char* t) {
        for (int i = 0; i < 4; ++i) s[at + i] = static_cast<std::uint8_t>(t[i]);
    };
    const std::int64_t bytes = std::max<std::int64_t>(0, length) * 3;
    const auto d = static_cast<std::uint32_t>(std::min<std::int64_t>(bytes, 4294967295LL));
    const auto rate = static_cast<std::uint32_t>(sampleRate);
    tag(0, "RIFF");
    put(4, d + 36u, 4);
    tag(8, "WAVE");
    tag(12, "fmt ");
    put(16, 16, 4);
    put(20, 1, 2);
    put(22, 1, 2);
    put(24, rate, 4);
    put(28, rate * 3u, 4);
    put(32, 3, 2);
    put(34, 24, 2);
    tag(36, "data");
    put(40, d, 4);
    return s;
}

// [SECTION] Interface references and checked calls

namespace {

// Holds one reference to an interface and releases it when it goes.
template <typename T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* p) : p_(p) {}
    ~Ref() { Reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    void Reset(T* p = nullptr) {
        if (p_) p_->Release();
        p_ = p;
    }
    T** Out() {
        Reset();
        return &p_;
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T* Take() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }

private:
    T* p_ = nullptr;
};

// Checks a runtime result: a failure prints its line and answers false.
bool Ok(AAFRESULT hr, const char* what) {
    if (hr >= 0) return true;
    PrintFailure(what, hr);
    return false;
}

// Creates an object of class `cls` through its class definition.
template <typename T>
bool Create(IAAFDictionary* dictionary, const aafUID_t& cls, const aafUID_t& iid, Ref<T>& out, const char* what) {
    Ref<IAAFClassDef> def;
    if (!Ok(dictionary->LookupClassDef(cls, def.Out()), "LookupClassDef")) return false;
    IAAFUnknown* created = nullptr;
    const AAFRESULT hr = def->CreateInstance(iid, &created);
    out.Reset(reinterpret_cast<T*>(created));
    return Ok(hr, what) && out;
}

template <typename T>
bool Query(IAAFUnknown* object, const aafUID_t& iid, Ref<T>& out, const char* what) {
    void* p = nullptr;
    const AAFRESULT hr = object->QueryInterface(iid, &p);
    out.Reset(static_cast<T*>(p));
    return Ok(hr, what) && out;
}

}  // namespace

// [SECTION] Opening the file

void ReleaseAAFWriter(AAFWriter& writer) {
    if (writer.soundDataDef) writer.soundDataDef->Release();
    if (writer.dictionary) writer.dictionary->Release();
    if (writer.header) writer.header->Release();
    if (writer.file) writer.file->Release();
    writer = AAFWriter{};
}

bool OpenAAFFile(AAFWriter& writer, const std::string& path) {
    if (!AAFPluginsRegistered) {
        // A library someone else loaded is used as it is.
        if (!AAFDLLInstance) {
            const AAFRESULT hr = AAFLoad(AAFRuntimeLibraryPath);
            if (hr != AAFRESULT_SUCCESS) {
                PrintFailure("AAFLoad", hr);
                return false;
            }
        }
        IAAFPluginManager* manager = nullptr;
        if (AAFGetPluginManager(&manager) >= 0 && manager) {
            manager->RegisterSharedPlugins();
            manager->Release();
        }
        AAFPluginsRegistered = true;
    }

    // Byte for byte: a folder whose name is not UTF-8 is still found.
    const std::u16string name = PathToAAFString(path);
    aafProductVersion_t version{1, 0, 0, 0, 0};
    aafProductIdentification_t identification{u"Korvel", u"Korvel", nullptr, {}, nullptr, &version};
    AAFRESULT hr = AAFFileOpenNewModifyEx(name.c_str(), &kAAFFileKind_Aaf512Binary, 0, &identification, &writer.file);
    if (hr < 0) {
        std::printf("[AAF] OpenNewModifyEx FAILED hr=0x%08lX path='%s'\n",
                    static_cast<unsigned long>(static_cast<std::uint32_t>(hr)), path.c_str());
        return false;
    }
    if (!Ok(writer.file->GetHeader(&writer.header), "GetHeader")) return false;
    if (!Ok(writer.header->GetDictionary(&writer.dictionary), "GetDictionary")) return false;
    hr = writer.dictionary->LookupDataDef(kSoundDataDef, &writer.soundDataDef);
    return Ok(hr, "LookupDataDef");
}

// [SECTION] Source and master mobs

namespace {

// A source clip of `length` on `sound` referencing `ref`, as timeline slot 1
// "Audio" of `mob`.
bool AppendAudioSlot(IAAFDictionary* dictionary, IAAFDataDef* sound, IAAFMob* mob, std::int64_t length,
                     const aafSourceRef_t& ref, std::int32_t sampleRate) {
    Ref<IAAFSourceClip> clip;
    if (!Create(dictionary, AUID_AAFSourceClip, IID_IAAFSourceClip, clip, "CreateInstance SourceClip")) return false;
    if (!Ok(clip->Initialize(sound, length, ref), "SourceClip Initialize")) return false;
    Ref<IAAFSegment> segment;
    if (!Query(clip.Get(), IID_IAAFSegment, segment, "QueryInterface IAAFSegment")) return false;
    return Ok(mob->AppendNewTimelineSlot({sampleRate, 1}, segment.Get(), 1, u"Audio", 0, nullptr),
              "AppendNewTimelineSlot");
}

}  // namespace

bool WriteAAFSourceMobs(IAAFHeader* header, IAAFDictionary* dictionary, IAAFDataDef* sound,
                        const std::string& essencePath, const std::string& clipName, std::int64_t length,
                        std::int32_t sampleRate, aafMobID_t& mobId, IAAFMob*& masterMob) {
    masterMob = nullptr;
    const std::u16string name = Utf8ToAAFString(clipName);

    Ref<IAAFSourceMob> source;
    if (!Create(dictionary, AUID_AAFSourceMob, IID_IAAFSourceMob, source, "CreateInstance SourceMob")) return false;
    Ref<IAAFMob> sourceMob;
    if (!Query(source.Get(), IID_IAAFMob, sourceMob, "QueryInterface IAAFMob")) return false;
    if (!Ok(sourceMob->SetName(name.c_str()), "SetName")) return false;

    Ref<IAAFWAVEDescriptor> wave;
    if (!Create(dictionary, AUID_AAFWAVEDescriptor, IID_IAAFWAVEDescriptor, wave, "CreateInstance WAVEDescriptor"))
        return false;
    Ref<IAAFFileDescriptor> fileDescriptor;
    if (!Query(wave.Get(), IID_IAAFFileDescriptor, fileDescriptor, "QueryInterface IAAFFileDescriptor")) return false;
    if (!Ok(fileDescriptor->SetSampleRate({sampleRate, 1}), "SetSampleRate")) return false;
    if (!Ok(fileDescriptor->SetLength(length), "SetLength")) return false;
    const std::array<std::uint8_t, 44> summary = MakeWaveSummary(length, sampleRate);
    if (!Ok(wave->SetSummary(static_cast<aafUInt32>(summary.size()), summary.data()), "SetSummary")) return false;

    Ref<IAAFLocator> locator;
    if (!Create(dictionary, AUID_AAFNetworkLocator, IID_IAAFLocator, locator, "CreateInstance NetworkLocator"))
        return false;
    const std::u16string url = Utf8ToAAFString(MakeFileURL(essencePath));
    if (!Ok(locator->SetPath(url.c_str()), "SetPath")) return false;
    Ref<IAAFEssenceDescriptor> essence;
    if (!Query(wave.Get(), IID_IAAFEssenceDescriptor, essence, "QueryInterface IAAFEssenceDescriptor")) return false;
    if (!Ok(essence->AppendLocator(locator.Get()), "AppendLocator")) return false;
    if (!Ok(source->SetEssenceDescriptor(essence.Get()), "SetEssenceDescriptor")) return false;

    if (!AppendAudioSlot(dictionary, sound, sourceMob.Get(), length, aafSourceRef_t{}, sampleRate)) return false;
    aafMobID_t sourceId{};
    if (!Ok(sourceMob->GetMobID(&sourceId), "GetMobID")) return false;
    if (!Ok(header->AddMob(sourceMob.Get()), "AddMob")) return false;

    Ref<IAAFMob> master;
    if (!Create(dictionary, AUID_AAFMasterMob, IID_IAAFMob, master, "CreateInstance MasterMob")) return false;
    if (!Ok(master->SetName(name.c_str()), "SetName")) return false;
    if (!AppendAudioSlot(dictionary, sound, master.Get(), length, aafSourceRef_t{sourceId, 1, 0}, sampleRate))
        return false;
    if (!Ok(master->GetMobID(&mobId), "GetMobID")) return false;
    if (!Ok(header->AddMob(master.Get()), "AddMob")) return false;
    masterMob = master.Take();
    return true;
}

// [SECTION] Composition: definitions

namespace {

struct Definitions {
    Ref<IAAFParameterDef> level, amplitude;
    Ref<IAAFOperationDef> dissolve, gain;
    Ref<IAAFInterpolationDef> linear;
};

// Looks a parameter definition up, or creates and registers it.
bool EnsureParameterDef(IAAFDictionary* dictionary, const aafUID_t& id, const char16_t* name,
                        const char16_t* description, Ref<IAAFParameterDef>& out) {
    if (dictionary->LookupParameterDef(id, out.Out()) >= 0 && out) return true;
    Ref<IAAFTypeDef> rational;
    if (!Ok(dictionary->LookupTypeDef(kRationalTypeDef, rational.Out()), "LookupTypeDef")) return false;
    if (!Create(dictionary, AUID_AAFParameterDefinition, IID_IAAFParameterDef, out, "CreateInstance ParameterDef"))
        return false;
    if (!Ok(out->Initialize(id, name, description, rational.Get()), "ParameterDef Initialize")) return false;
    return Ok(dictionary->RegisterParameterDef(out.Get()), "RegisterParameterDef");
}

bool EnsureOperationDef(IAAFDictionary* dictionary, IAAFDataDef* sound, const aafUID_t& id, const char16_t* name,
                        const char16_t* description, aafInt32 inputs, IAAFParameterDef* parameter,
                        Ref<IAAFOperationDef>& out) {
    if (dictionary->LookupOperationDef(id, out.Out()) >= 0 && out) return true;
    if (!Create(dictionary, AUID_AAFOperationDefinition, IID_IAAFOperationDef, out, "CreateInstance OperationDef"))
        return false;
    if (!Ok(out->Initialize(id, name, description), "OperationDef Initialize")) return false;
    if (!Ok(out->SetDataDef(sound), "SetDataDef")) return false;
    if (!Ok(out->SetNumberInputs(inputs), "SetNumberInputs")) return false;
    if (!Ok(out->SetIsTimeWarp(0), "SetIsTimeWarp")) return false;
    if (parameter && !Ok(out->AddParameterDef(parameter), "AddParameterDef")) return false;
    return Ok(dictionary->RegisterOperationDef(out.Get()), "RegisterOperationDef");
}

bool EnsureInterpolationDef(IAAFDictionary* dictionary, Ref<IAAFInterpolationDef>& out) {
    if (dictionary->LookupInterpolationDef(kLinearInterpolation, out.Out()) >= 0 && out) return true;
    if (!Create(dictionary, AUID_AAFInterpolationDefinition, IID_IAAFInterpolationDef, out,
                "CreateInstance InterpolationDef"))
        return false;
    if (!Ok(out->Initialize(kLinearInterpolation, u"LinearInterp", u"Linear interpolation"),
            "InterpolationDef Initialize"))
        return false;
    return Ok(dictionary->RegisterInterpolationDef(out.Get()), "RegisterInterpolationDef");
}

// A clip's gain with unusable values replaced: not finite or negative is
// unity, above the cap is the cap.
float UsableGain(float g) {
    if (!std::isfinite(g) || g < 0.0f) return 1.0f;
    return std::min(g, kMaxGain);
}

// An envelope point ready for the ×1000 conversion.
double UsablePoint(float p) {
    if (std::isnan(p)) return 1.0;
    return std::clamp(static_cast<double>(p), 0.0, static_cast<double>(kMaxGain));
}

std::int32_t GainNumerator(float g) {
    const double n = std::trunc(static_cast<double>(g) * kGainNumeratorScale + 0.5);
    return n >= static_cast<double>(std::numeric_limits<std::int32_t>::max()) ? std::numeric_limits<std::int32_t>::max()
                                                                               : static_cast<std::int32_t>(n);
}

// [SECTION] Composition: tracks

class TrackBuilder {
public:
    TrackBuilder(AAFWriter& w, Definitions& defs, IAAFSequence* sequence)
        : w_(w), defs_(defs), sequence_(sequence) {}

    bool Filler(std::int64_t length) {
        Ref<IAAFFiller> filler;
        if (!Create(w_.dictionary, AUID_AAFFiller, IID_IAAFFiller, filler, "CreateInstance Filler")) return false;
        if (!Ok(filler->Initialize(w_.soundDataDef, length), "Filler Initialize")) return false;
        return Append(filler.Get(), length);
    }

    // A dissolve of `length` with its cut point.
    bool Transition(std::int64_t length, std::int64_t cutPoint) {
        Ref<IAAFOperationGroup> group;
        if (!DissolveGroup(length, group)) return false;
        Ref<IAAFTransition> transition;
        if (!Create(w_.dictionary, AUID_AAFTransition, IID_IAAFTransition, transition, "CreateInstance Transition"))
            return false;
        if (!Ok(transition->Initialize(w_.soundDataDef, length, cutPoint, group.Get()), "Transition Initialize"))
            return false;
        Ref<IAAFComponent> component;
        if (!Query(transition.Get(), IID_IAAFComponent, component, "QueryInterface IAAFComponent")) return false;
        if (!Ok(sequence_->AppendComponent(component.Get()), "AppendComponent")) return false;
        lastLength_ = 0;  // a transition is never followed directly by another
        return true;
    }

    bool Clip(const aafMobID_t& mob, std::int64_t length, std::int64_t sourceStart, const ClipGainEnvelope* envelope,
              float gain) {
        Ref<IAAFSourceClip> clip;
        if (!Create(w_.dictionary, AUID_AAFSourceClip, IID_IAAFSourceClip, clip, "CreateInstance SourceClip"))
            return false;
        if (!Ok(clip->Initialize(w_.soundDataDef, length, aafSourceRef_t{mob, 1, sourceStart}),
                "SourceClip Initialize"))
            return false;
        Ref<IAAFSegment> input;
        if (!Query(clip.Get(), IID_IAAFSegment, input, "QueryInterface IAAFSegment")) return false;

        const bool withEnvelope = envelope && envelope->present && defs_.gain;
        const float g = UsableGain(gain);
        const bool withConstant = std::fabs(g - 1.0f) > 0.001f && defs_.gain;
        if (withConstant) {
            Ref<IAAFOperationGroup> group;
            if (!GainGroup(length, input.Get(), group)) return false;
            Ref<IAAFConstantValue> constant;
            if (!Create(w_.dictionary, AUID_AAFConstantValue, IID_IAAFConstantValue, constant,
                        "CreateInstance ConstantValue"))
                return false;
            const aafRational_t value{GainNumerator(g), kGainDenominator};
            if (!Ok(constant->Initialize(defs_.amplitude.Get(), 8, reinterpret_cast<const aafUInt8*>(&value)),
                    "ConstantValue Initialize"))
                return false;
            if (!AddParameter(group.Get(), constant.Get())) return false;
            if (!Query(group.Get(), IID_IAAFSegment, input, "QueryInterface IAAFSegment")) return false;
        }
        if (withEnvelope) {
            Ref<IAAFOperationGroup> group;
            if (!GainGroup(length, input.Get(), group)) return false;
            Ref<IAAFVaryingValue> varying;
            if (!Create(w_.dictionary, AUID_AAFVaryingValue, IID_IAAFVaryingValue, varying,
                        "CreateInstance VaryingValue"))
                return false;
            if (!Ok(varying->Initialize(defs_.amplitude.Get(), defs_.linear.Get()), "VaryingValue Initialize"))
                return false;
            for (int j = 0; j < 64; ++j) {
                Ref<IAAFControlPoint> point;
                if (!Create(w_.dictionary, AUID_AAFControlPoint, IID_IAAFControlPoint, point,
                            "CreateInstance ControlPoint"))
                    return false;
                const double p = UsablePoint(envelope->points[static_cast<std::size_t>(j)]);
                const aafRational_t value{static_cast<std::int32_t>(std::trunc(p * 1000.0 + 0.5)), 1000};
                if (!Ok(point->Initialize(varying.Get(), {j, 63}, 8, reinterpret_cast<const aafUInt8*>(&value)),
                        "ControlPoint Initialize"))
                    return false;
                if (!Ok(varying->AddControlPoint(point.Get()), "AddControlPoint")) return false;
            }
            if (!AddParameter(group.Get(), varying.Get())) return false;
            if (!Query(group.Get(), IID_IAAFSegment, input, "QueryInterface IAAFSegment")) return false;
        }
        return Append(input.Get(), length);
    }

    bool Empty() const { return count_ == 0; }
    std::int64_t LastLength() const { return lastLength_; }

private:
    bool Append(IAAFUnknown* object, std::int64_t length) {
        Ref<IAAFComponent> component;
        if (!Query(object, IID_IAAFComponent, component, "QueryInterface IAAFComponent")) return false;
        if (!Ok(sequence_->AppendComponent(component.Get()), "AppendComponent")) return false;
        ++count_;
        lastLength_ = length;
        return true;
    }

    bool DissolveGroup(std::int64_t length, Ref<IAAFOperationGroup>& group) {
        if (!Create(w_.dictionary, AUID_AAFOperationGroup, IID_IAAFOperationGroup, group,
                    "CreateInstance OperationGroup"))
            return false;
        if (!Ok(group->Initialize(w_.soundDataDef, length, defs_.dissolve.Get()), "OperationGroup Initialize"))
            return false;
        if (!defs_.level) return true;
        Ref<IAAFConstantValue> level;
        if (!Create(w_.dictionary, AUID_AAFConstantValue, IID_IAAFConstantValue, level, "CreateInstance ConstantValue"))
            return false;
        const aafRational_t one{1, 1};
        if (!Ok(level->Initialize(defs_.level.Get(), 8, reinterpret_cast<const aafUInt8*>(&one)),
                "ConstantValue Initialize"))
            return false;
        return AddParameter(group.Get(), level.Get());
    }

    bool GainGroup(std::int64_t length, IAAFSegment* input, Ref<IAAFOperationGroup>& group) {
        if (!Create(w_.dictionary, AUID_AAFOperationGroup, IID_IAAFOperationGroup, group,
                    "CreateInstance OperationGroup"))
            return false;
        if (!Ok(group->Initialize(w_.soundDataDef, length, defs_.gain.Get()), "OperationGroup Initialize")) return false;
        return Ok(group->AppendInputSegment(input), "AppendInputSegment");
    }

    bool AddParameter(IAAFOperationGroup* group, IAAFUnknown* value) {
        Ref<IAAFParameter> parameter;
        if (!Query(value, IID_IAAFParameter, parameter, "QueryInterface IAAFParameter")) return false;
        return Ok(group->AddParameter(parameter.Get()), "AddParameter");
    }

    AAFWriter& w_;
    Definitions& defs_;
    IAAFSequence* sequence_;
    std::size_t count_ = 0;
    std::int64_t lastLength_ = 0;  // of the last segment, which a following transition may overlap
};

template <typename T>
T At(const std::vector<T>& v, std::size_t i, T missing) {
    return i < v.size() ? v[i] : missing;
}

// One clip as the track walk sees it, with a negative position cut off.
struct PlacedClip {
    std::size_t index = 0;
    std::int64_t pos = 0, len = 0, src = 0;
};

bool PlaceClip(const AAFClipList& clips, std::size_t k, PlacedClip& out) {
    out.index = k;
    out.pos = clips.positions[k];
    out.len = clips.lengths[k];
    out.src = At<std::int64_t>(clips.sourceOffsets, k, 0);
    if (out.len <= 0) return false;
    if (out.pos < 0) {
        out.len += out.pos;
        out.src -= out.pos;
        out.pos = 0;
    }
    return out.len > 0;
}

// Splits a track's clips (sorted by position) into lanes that a sequence
// can hold with every clip at its own position: a clip joins the first lane
// it starts at or after the end of, or one whose last clip it overlaps
// partly (ending later) by no more than that clip has left after its own
// incoming crossfade or fade-in. A clip lying inside another, or starting with it,
// takes a lane of its own instead of pushing the clips after it later.
std::vector<std::vector<std::size_t>> SplitIntoLanes(const AAFClipList& clips, const std::vector<std::size_t>& order) {
    struct Lane {
        std::vector<std::size_t> clips;
        PlacedClip last;
        std::int64_t lastUsed = 0;  // of the last clip's length, taken by its incoming crossfade
        bool placed = false;
    };
    std::vector<Lane> lanes(1);
    for (std::size_t k : order) {
        PlacedClip c;
        if (!PlaceClip(clips, k, c)) {
            lanes[0].clips.push_back(k);  // left out by the walk anyway
            continue;
        }
        Lane* target = nullptr;
        std::int64_t used = 0;
        for (Lane& lane : lanes) {
            if (!lane.placed) {
                target = &lane;
                break;
            }
            const std::int64_t end = lane.last.pos + lane.last.len;
            if (c.pos >= end) {
                target = &lane;
                break;
            }
            if (lane.last.pos < c.pos && c.pos + c.len > end && end - c.pos <= lane.last.len - lane.lastUsed) {
                target = &lane;
                used = end - c.pos;
                break;
            }
        }
        if (!target) target = &lanes.emplace_back();
        if (used == 0) {
            // Its fade-in transition takes from its length as an incoming crossfade would.
            const std::int32_t fadeIn = At<std::int32_t>(clips.fadeIns, k, 0);
            used = fadeIn > 0 ? std::min<std::int64_t>(fadeIn, c.len / 2) : 0;
        }
        target->clips.push_back(k);
        target->last = c;
        target->lastUsed = used;
        target->placed = true;
    }
    std::vector<std::vector<std::size_t>> out;
    for (Lane& lane : lanes) out.push_back(std::move(lane.clips));
    return out;
}

bool WriteTrack(AAFWriter& w, Definitions& defs, IAAFSequence* sequence, const std::vector<aafMobID_t>& mobIds,
                const AAFClipList& clips, const std::vector<std::size_t>& order) {
    // Clips that cannot play are left out before the walk, so an overlap is
    // always with a clip that is written.
    std::vector<PlacedClip> placed;
    for (std::size_t k : order) {
        PlacedClip p;
        if (PlaceClip(clips, k, p)) placed.push_back(p);
    }
    TrackBuilder track(w, defs, sequence);
    std::int64_t cursor = 0;
    std::int64_t carried = 0;  // how much of this clip the previous transition overlaps
    for (std::size_t n = 0; n < placed.size(); ++n) {
        const PlacedClip& c = placed[n];
        const std::size_t k = c.index;
        const std::int32_t fadeIn = At<std::int32_t>(clips.fadeIns, k, 0);
        const std::int32_t fadeOut = At<std::int32_t>(clips.fadeOuts, k, 0);
        const std::int64_t fi = fadeIn > 0 ? std::min<std::int64_t>(fadeIn, c.len / 2) : 0;
        const std::int64_t fo = fadeOut > 0 ? std::min<std::int64_t>(fadeOut, c.len / 2) : 0;

        std::int64_t used = carried;  // of this clip's length, taken by transitions
        if (carried == 0) {
            std::int64_t gap = std::max<std::int64_t>(0, c.pos + fi - cursor);
            if (fi > 0 && gap < 1) gap = 1;
            if (gap > 0 && !track.Filler(gap)) return false;
            if (fi > 0 && !track.Empty()) {
                // Never longer than the segment it overlaps.
                const std::int64_t t = std::min(fi, track.LastLength());
                if (t > 0 && !track.Transition(t, 0)) return false;
                used = t;
            }
        }
        const ClipGainEnvelope* envelope = k < clips.envelopes.size() ? &clips.envelopes[k] : nullptr;
        if (!track.Clip(mobIds[k], c.len, c.src, envelope, At<float>(clips.gains, k, 1.0f))) return false;

        carried = 0;
        const PlacedClip* next = n + 1 < placed.size() ? &placed[n + 1] : nullptr;
        if (next && c.pos < next->pos && next->pos < c.pos + c.len) {
            const std::int64_t ov = std::min({c.pos + c.len - next->pos, c.len - used, next->len});
            if (ov > 0) {
                if (!track.Transition(ov, ov / 2)) return false;
                carried = ov;
            }
        } else if (fo > 0) {
            const std::int64_t t = std::min(fo, c.len - used);
            if (t > 0 && (!track.Transition(t, t) || !track.Filler(t))) return false;
        }
        cursor = c.pos + c.len;
    }
    return true;
}

}  // namespace

IAAFMob* WriteAAFComposition(AAFWriter& w, const std::vector<aafMobID_t>& mobIds, const AAFClipList& clips,
                             const std::vector<std::string>& trackNames, std::int32_t sampleRate) {
    const std::size_t n = std::min({mobIds.size(), clips.positions.size(), clips.lengths.size(), clips.tracks.size()});
    Ref<IAAFMob> comp;
    if (!Create(w.dictionary, AUID_AAFCompositionMob, IID_IAAFMob, comp, "CreateInstance CompositionMob")) return nullptr;
    const std::u16string title = Utf8ToAAFString("Korvel Timeline");
    if (!Ok(comp->SetName(title.c_str()), "SetName")) return nullptr;

    // Timecode slot.
    std::int64_t end = 0;
    for (std::size_t k = 0; k < n; ++k) end = std::max(end, clips.positions[k] + clips.lengths[k]);
    if (end <= 0) end = static_cast<std::int64_t>(sampleRate) * 60;
    {
        Ref<IAAFTimecode> timecode;
        if (!Create(w.dictionary, AUID_AAFTimecode, IID_IAAFTimecode, timecode, "CreateInstance Timecode"))
            return nullptr;
        const aafTimecode_t start{0, 0, 25};
        if (!Ok(timecode->Initialize(end, &start), "Timecode Initialize")) return nullptr;
        Ref<IAAFDataDef> timecodeDef;
        if (!Ok(w.dictionary->LookupDataDef(kTimecodeDataDef, timecodeDef.Out()), "LookupDataDef")) return nullptr;
        Ref<IAAFComponent> component;
        if (!Query(timecode.Get(), IID_IAAFComponent, component, "QueryInterface IAAFComponent")) return nullptr;
        if (!Ok(component->SetDataDef(timecodeDef.Get()), "SetDataDef")) return nullptr;
        Ref<IAAFSegment> segment;
        if (!Query(timecode.Get(), IID_IAAFSegment, segment, "QueryInterface IAAFSegment")) return nullptr;
        if (!Ok(comp->AppendNewTimelineSlot({sampleRate, 1}, segment.Get(), kAAFTimecodeSlotID, u"TC", 0, nullptr),
                "AppendNewTimelineSlot"))
            return nullptr;
    }

    // Definitions, only when some clip needs them.
    Definitions defs;
    bool anyFade = false, anyGain = false;
    for (std::size_t k = 0; k < n; ++k) {
        anyFade = anyFade || At<std::int32_t>(clips.fadeIns, k, 0) > 0 || At<std::int32_t>(clips.fadeOuts, k, 0) > 0;
        const bool envelope = k < clips.envelopes.size() && clips.envelopes[k].present;
        anyGain = anyGain || envelope || std::fabs(UsableGain(At<float>(clips.gains, k, 1.0f)) - 1.0f) > 0.001f;
    }
    // Overlapping clips meet in dissolves too.
    if (!anyFade) {
        std::map<std::int32_t, std::vector<std::pair<std::int64_t, std::int64_t>>> spans;
        for (std::size_t k = 0; k < n; ++k) spans[clips.tracks[k]].push_back({clips.positions[k], clips.lengths[k]});
        for (auto& [track, list] : spans) {
            std::sort(list.begin(), list.end());
            for (std::size_t i = 0; i + 1 < list.size(); ++i)
                if (list[i].first < list[i + 1].first && list[i + 1].first < list[i].first + list[i].second)
                    anyFade = true;
        }
    }
    if (anyFade) {
        if (!EnsureParameterDef(w.dictionary, kLevelParameter, u"Level", u"Dissolve level parameter", defs.level))
            return nullptr;
        if (!EnsureOperationDef(w.dictionary, w.soundDataDef, kDissolveOperation, u"Mono Audio Dissolve",
                                u"A mono audio dissolve", 2, defs.level.Get(), defs.dissolve))
            return nullptr;
    }
    if (anyGain) {
        if (!EnsureInterpolationDef(w.dictionary, defs.linear)) return nullptr;
        if (!EnsureParameterDef(w.dictionary, kAmplitudeParameter, u"Amplitude", u"Gain amplitude parameter",
                                defs.amplitude))
            return nullptr;
        if (!EnsureOperationDef(w.dictionary, w.soundDataDef, kGainOperation, u"Mono Audio Gain",
                                u"A mono audio gain adjustment", 1, defs.amplitude.Get(), defs.gain))
            return nullptr;
    }

    // Tracks in ascending order; audio slot IDs from 1, passing over the
    // timecode slot's ID.
    std::map<std::int32_t, std::vector<std::size_t>> byTrack;
    for (std::size_t k = 0; k < n; ++k) byTrack[clips.tracks[k]].push_back(k);
    aafSlotID_t slotId = 0;
    for (auto& [track, order] : byTrack) {
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return clips.positions[a] < clips.positions[b]; });
        const std::string name = track >= 0 && static_cast<std::size_t>(track) < trackNames.size() &&
                                         !trackNames[static_cast<std::size_t>(track)].empty()
                                     ? trackNames[static_cast<std::size_t>(track)]
                                     : "Track " + std::to_string(static_cast<std::int64_t>(track) + 1);
        // Clips the track cannot hold in place go to further slots right
        // after it, named after it with the lane number.
        const std::vector<std::vector<std::size_t>> lanes = SplitIntoLanes(clips, order);
        for (std::size_t lane = 0; lane < lanes.size(); ++lane) {
            ++slotId;
            if (slotId == kAAFTimecodeSlotID) ++slotId;
            Ref<IAAFSequence> sequence;
            if (!Create(w.dictionary, AUID_AAFSequence, IID_IAAFSequence, sequence, "CreateInstance Sequence"))
                return nullptr;
            if (!Ok(sequence->Initialize(w.soundDataDef), "Sequence Initialize")) return nullptr;
            if (!WriteTrack(w, defs, sequence.Get(), mobIds, clips, lanes[lane])) return nullptr;
            const std::u16string name16 =
                Utf8ToAAFString(lane == 0 ? name : name + " (" + std::to_string(lane + 1) + ")");
            Ref<IAAFSegment> segment;
            if (!Query(sequence.Get(), IID_IAAFSegment, segment, "QueryInterface IAAFSegment")) return nullptr;
            if (!Ok(comp->AppendNewTimelineSlot({sampleRate, 1}, segment.Get(), slotId, name16.c_str(), 0, nullptr),
                    "AppendNewTimelineSlot"))
                return nullptr;
        }
    }
    if (!Ok(w.header->AddMob(comp.Get()), "AddMob")) return nullptr;
    return comp.Take();
}

// [SECTION] Markers

bool WriteAAFMarkers(AAFWriter& w, IAAFMob* composition, const std::vector<AAFMarker>& markers,
                     std::int32_t sampleRate) {
    if (markers.empty()) return true;
    if (!composition) return false;
    Ref<IAAFSequence> sequence;
    if (!Create(w.dictionary, AUID_AAFSequence, IID_IAAFSequence, sequence, "CreateInstance Sequence")) return false;
    if (!Ok(sequence->Initialize(w.soundDataDef), "Sequence Initialize")) return false;
    std::vector<std::size_t> order(markers.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return markers[a].position < markers[b].position; });
    for (std::size_t i : order) {
        const AAFMarker& m = markers[i];
        if (m.position < 0) continue;
        Ref<IAAFEvent> event;
        if (!Create(w.dictionary, AUID_AAFCommentMarker, IID_IAAFEvent, event, "CreateInstance CommentMarker"))
            return false;
        const std::u16string comment = Utf8ToAAFString(m.comment);
        if (!Ok(event->SetPosition(m.position), "SetPosition")) return false;
        if (!Ok(event->SetComment(comment.c_str()), "SetComment")) return false;
        Ref<IAAFComponent> component;
        if (!Query(event.Get(), IID_IAAFComponent, component, "QueryInterface IAAFComponent")) return false;
        if (!Ok(component->SetDataDef(w.soundDataDef), "SetDataDef")) return false;
        if (!Ok(component->SetLength(0), "SetLength")) return false;
        if (!Ok(sequence->AppendComponent(component.Get()), "AppendComponent")) return false;
    }
    Ref<IAAFSegment> segment;
    if (!Query(sequence.Get(), IID_IAAFSegment, segment, "QueryInterface IAAFSegment")) return false;
    Ref<IAAFEventMobSlot> eventSlot;
    if (!Create(w.dictionary, AUID_AAFEventMobSlot, IID_IAAFEventMobSlot, eventSlot, "CreateInstance EventMobSlot"))
        return false;
    const aafRational_t rate{sampleRate, 1};
    if (!Ok(eventSlot->SetEditRate(&rate), "SetEditRate")) return false;
    Ref<IAAFMobSlot> slot;
    if (!Query(eventSlot.Get(), IID_IAAFMobSlot, slot, "QueryInterface IAAFMobSlot")) return false;
    if (!Ok(slot->SetSegment(segment.Get()), "SetSegment")) return false;
    aafNumSlots_t count = 0;
    if (!Ok(composition->CountSlots(&count), "CountSlots")) return false;
    // The slot count + 1, unless the timecode or an audio slot holds it.
    // Audio slots hold 1 .. count-1 (skipping the timecode's ID), so the
    // next free ID follows the highest of those.
    aafSlotID_t id = count + 1;
    const aafSlotID_t audioSlots = count > 0 ? count - 1 : 0;
    const aafSlotID_t highestAudio = audioSlots >= kAAFTimecodeSlotID ? audioSlots + 1 : audioSlots;
    std::set<aafSlotID_t> taken = {kAAFTimecodeSlotID};
    for (aafSlotID_t s = 1; s <= highestAudio; ++s)
        if (s != kAAFTimecodeSlotID) taken.insert(s);
    while (taken.count(id)) ++id;
    if (!Ok(slot->SetSlotID(id), "SetSlotID")) return false;
    return Ok(composition->AppendSlot(slot.Get()), "AppendSlot");
}

// [SECTION] Entry points

namespace {

bool WriteSession(const std::string& aafPath, const AAFClipList& clips, const std::vector<std::string>& trackNames,
                  std::int32_t sampleRate, const std::vector<AAFMarker>& markers, bool shared) {
    AAFWriter w;
    if (!OpenAAFFile(w, aafPath)) {
        ReleaseAAFWriter(w);
        return false;
    }
    const std::size_t n = clips.essencePaths.size();
    std::vector<aafMobID_t> mobIds(n);
    std::vector<IAAFMob*> masters;  // each distinct master once
    std::map<std::string, std::size_t> firstWithPath;
    bool ok = true;
    for (std::size_t i = 0; i < n && ok; ++i) {
        const std::string& path = clips.essencePaths[i];
        if (shared) {
            const auto found = firstWithPath.find(path);
            if (found != firstWithPath.end()) {
                mobIds[i] = mobIds[found->second];
                continue;
            }
            firstWithPath.emplace(path, i);
        }
        IAAFMob* master = nullptr;
        ok = WriteAAFSourceMobs(w.header, w.dictionary, w.soundDataDef, path, At<std::string>(clips.clipNames, i, {}),
                                At<std::int64_t>(clips.sourceLengths, i, 0), sampleRate, mobIds[i], master);
        if (master) masters.push_back(master);
    }
    if (ok) {
        AAFClipList placed = clips;
        if (!shared) {
            placed.sourceOffsets.assign(n, 0);
            placed.fadeIns.clear();
            placed.fadeOuts.clear();
        }
        IAAFMob* comp = WriteAAFComposition(w, mobIds, placed, trackNames, sampleRate);
        ok = comp != nullptr;
        if (ok && !markers.empty()) ok = WriteAAFMarkers(w, comp, markers, sampleRate);
        if (comp) comp->Release();
    }
    for (IAAFMob* m : masters) m->Release();
    if (ok) {
        AAFRESULT hr = w.file->Save();
        if (hr < 0) {
            PrintFailure("Save", hr);
            ok = false;
        } else if ((hr = w.file->Close()) < 0) {
            PrintFailure("Close", hr);
            ok = false;
        }
    }
    ReleaseAAFWriter(w);
    return ok;
}

}  // namespace

bool WriteAAFSession(const std::string& aafPath, const AAFClipList& clips, const std::vector<std::string>& trackNames,
                     std::int32_t sampleRate, const std::vector<AAFMarker>& markers) {
    return WriteSession(aafPath, clips, trackNames, sampleRate, markers, false);
}

bool WriteAAFSessionShared(const std::string& aafPath, const AAFClipList& clips,
                           const std::vector<std::string>& trackNames, std::int32_t sampleRate,
                           const std::vector<AAFMarker>& markers) {
    return WriteSession(aafPath, clips, trackNames, sampleRate, markers, true);
}

}  // namespace korvel
