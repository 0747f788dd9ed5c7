#pragma once
// A written AAF session rebuilt by the independent reader of tests/support:
// its mobs by class, and every composition track as the clips it places on
// the timeline (position, length, source offset, the master mob it plays and
// that mob's essence file), worked out from the sequence's fillers, clips,
// transitions and gain groups.
#include <cstdint>
#include <string>
#include <vector>

#include "playback/aaf_api.h"
#include "support/aaf_reader.h"
#include "support/temp_dir.h"

namespace korvel::test::session {

using aafr::Object;

inline std::string Bytes(const void* p, std::size_t n) { return std::string(static_cast<const char*>(p), n); }

inline bool Is(const Object& o, const aafUID_t& cls) {
    const std::string want = Bytes(&cls.Data1, 4) + Bytes(&cls.Data2, 2) + Bytes(&cls.Data3, 2) + Bytes(cls.Data4, 8);
    return Bytes(o.classId.data(), 16) == want;
}

inline std::int64_t Int(const Object& o, std::uint16_t pid) {
    const aafr::Property* p = o.Find(pid);
    if (!p) return -999999;
    std::int64_t x = 0;
    for (std::size_t i = p->value.size(); i-- > 0;) x = x << 8 | static_cast<unsigned char>(p->value[i]);
    if (p->value.size() == 4) x = static_cast<std::int32_t>(x);
    return x;
}

inline std::string Str(const Object& o, std::uint16_t pid) {
    const aafr::Property* p = o.Find(pid);
    if (!p) return "<none>";
    std::string out;
    for (char16_t c : aafr::DecodeUtf16(p->value)) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

inline std::vector<const Object*> Elements(const Object& o, std::uint16_t pid) {
    std::vector<const Object*> out;
    if (const aafr::Property* p = o.Find(pid))
        for (const Object& e : p->objects) out.push_back(&e);
    return out;
}

inline const Object* Strong(const Object& o, std::uint16_t pid) {
    const aafr::Property* p = o.Find(pid);
    return p && p->objects.size() == 1 ? &p->objects.front() : nullptr;
}

struct Clip {
    std::int64_t position = 0;
    std::int64_t length = 0;
    std::int64_t sourceOffset = 0;
    std::string name;     // the master mob's name
    std::string locator;  // the source mob's network locator
    bool gainGroup = false;
};

struct Track {
    std::string name;
    std::vector<Clip> clips;
    std::int32_t transitions = 0;
};

struct Session {
    aafr::File file;
    std::vector<const Object*> sourceMobs, masterMobs, compositionMobs;
    std::vector<Track> tracks;  // the audio slots, timecode and marker slots left out
    // Comment markers: position and comment.
    std::vector<std::pair<std::int64_t, std::string>> markers;
};

inline const Object* MobById(const std::vector<const Object*>& mobs, const std::string& id) {
    for (const Object* m : mobs)
        if (const aafr::Property* p = m->Find(0x4401); p && p->value == id) return m;
    return nullptr;
}

inline Session Read(const std::string& path) {
    Session s;
    s.file = aafr::Read(ReadBytes(path));
    if (!s.file.ok) return s;
    const Object* header = Strong(s.file.root, 0x0002);
    const Object* content = header ? Strong(*header, 0x3b03) : nullptr;
    if (!content) return s;
    for (const Object* m : Elements(*content, 0x1901)) {
        if (Is(*m, AUID_AAFSourceMob)) s.sourceMobs.push_back(m);
        if (Is(*m, AUID_AAFMasterMob)) s.masterMobs.push_back(m);
        if (Is(*m, AUID_AAFCompositionMob)) s.compositionMobs.push_back(m);
    }
    if (s.compositionMobs.size() != 1) return s;
    for (const Object* slot : Elements(*s.compositionMobs[0], 0x4403)) {
        const Object* segment = Strong(*slot, 0x4803);
        if (!segment) continue;
        const std::vector<const Object*> components = Elements(*segment, 0x1001);
        if (!components.empty() && Is(*components[0], AUID_AAFCommentMarker)) {
            for (const Object* m : components) s.markers.push_back({Int(*m, 0x0601), Str(*m, 0x0602)});
            continue;
        }
        if (Is(*segment, AUID_AAFTimecode)) continue;
        Track track;
        track.name = Str(*slot, 0x4802);
        std::int64_t cursor = 0;
        for (const Object* c : components) {
            const std::int64_t length = Int(*c, 0x0202);
            if (Is(*c, AUID_AAFTransition)) {
                cursor -= length;
                ++track.transitions;
                continue;
            }
            const Object* clip = c;
            bool gain = false;
            while (Is(*clip, AUID_AAFOperationGroup)) {
                gain = true;
                const std::vector<const Object*> inputs = Elements(*clip, 0x0b02);
                if (inputs.empty()) break;
                clip = inputs[0];
            }
            if (Is(*clip, AUID_AAFSourceClip)) {
                Clip out;
                out.position = cursor;
                out.length = length;
                out.sourceOffset = Int(*clip, 0x1201);
                out.gainGroup = gain;
                const aafr::Property* id = clip->Find(0x1101);
                if (const Object* master = id ? MobById(s.masterMobs, id->value) : nullptr) {
                    out.name = Str(*master, 0x4402);
                    // The master plays the source mob, whose descriptor locates the file.
                    const Object* masterSlot = Elements(*master, 0x4403).empty() ? nullptr : Elements(*master, 0x4403)[0];
                    const Object* masterClip = masterSlot ? Strong(*masterSlot, 0x4803) : nullptr;
                    const aafr::Property* sid = masterClip ? masterClip->Find(0x1101) : nullptr;
                    const Object* source = sid ? MobById(s.sourceMobs, sid->value) : nullptr;
                    const Object* descriptor = source ? Strong(*source, 0x4701) : nullptr;
                    if (descriptor && !Elements(*descriptor, 0x2f01).empty())
                        out.locator = Str(*Elements(*descriptor, 0x2f01)[0], 0x4001);
                }
                track.clips.push_back(out);
            }
            cursor += length;
        }
        s.tracks.push_back(std::move(track));
    }
    return s;
}

}  // namespace korvel::test::session
