#include "ui/panels/save_group_vocabulary.h"

#include <iterator>
#include <unordered_set>

namespace korvel {

namespace {

// Kept apart from the library's summary vocabulary (name_words.cpp), which
// holds more words: the names proposed here must not change when that grows.
constexpr std::string_view kSaveGroupVocabulary[] = {
    "ambience", "ambient", "atmos", "room", "space", "outdoor", "indoor", "city", "nature", "crash",
    "smash", "shatter", "break", "glass", "ceramic", "collapse", "design", "synth", "processed",
    "morph", "texture", "pad", "drone", "tone", "abstract", "explosion", "explode", "boom", "blast",
    "detonate", "bomb", "fire", "flame", "burn", "torch", "ignite", "ember", "foley", "footstep",
    "cloth", "body", "movement", "rustle", "gun", "shot", "rifle", "pistol", "shotgun", "bullet",
    "muzzle", "firearm", "hit", "impact", "punch", "slam", "thud", "thump", "knock", "strike",
    "stomp", "kick", "mechanical", "machine", "motor", "engine", "gear", "hydraulic", "servo",
    "robot", "metal", "clang", "ring", "scrape", "grind", "chain", "iron", "steel", "whoosh",
    "swoosh", "swish", "flyby", "passby", "rush", "wind", "gust", "sweep", "scifi", "laser", "zap",
    "beam", "plasma", "energy", "electric", "spark", "strain", "creak", "stress", "tension", "bend",
    "warp", "water", "splash", "drip", "rain", "ocean", "wave", "stream", "pour", "bubble", "wood",
    "timber", "branch", "crack", "snap", "plank", "door", "hinge", "latch", "lock", "handle",
    "alarm", "bell", "buzz", "click", "beep", "siren", "rock", "stone", "gravel", "dirt", "sand",
    "debris", "thunder", "lightning", "storm", "hail", "ice", "frost", "freeze", "crystal", "air",
    "hiss", "pressure", "vent", "valve", "steam", "gas", "vehicle", "car", "truck", "train",
    "helicopter", "airplane", "boat", "ship", "animal", "bird", "dog", "cat", "horse", "insect",
    "creature", "voice", "scream", "whisper", "breath", "growl", "roar", "sword", "blade", "knife",
    "weapon", "arrow", "shield", "magic", "spell", "shimmer", "glow", "portal", "heal",
    "transition", "riser", "drop", "swell", "stinger", "sting", "whomp", "sub", "dark", "bright",
    "heavy", "light", "deep", "sharp", "soft", "hard", "wet", "dry", "warm", "cold", "thin",
    "thick", "tight", "loose", "fast", "slow", "long", "short", "big", "small", "large", "tiny",
};
static_assert(std::size(kSaveGroupVocabulary) == 212);

}  // namespace

std::span<const std::string_view> SaveGroupVocabulary() { return kSaveGroupVocabulary; }

bool IsSaveGroupWord(std::string_view lowerWord) {
    // Thread-safe static initialisation; never changed afterwards.
    static const std::unordered_set<std::string_view> words(std::begin(kSaveGroupVocabulary),
                                                            std::end(kSaveGroupVocabulary));
    return words.count(lowerWord) != 0;
}

}  // namespace korvel
