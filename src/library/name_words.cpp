#include "library/name_words.h"

#include <unordered_set>

namespace korvel {

namespace {

// "cloth" stands twice, as the palette summaries have always counted it.
constexpr std::string_view kSoundVocabulary[] = {
    "ambience", "ambient", "atmos", "room", "space", "outdoor", "indoor", "city", "nature",
    "crash", "smash", "shatter", "break", "glass", "ceramic", "collapse", "design", "synth",
    "processed", "morph", "texture", "pad", "drone", "tone", "abstract", "explosion", "explode",
    "boom", "blast", "detonate", "bomb", "fire", "flame", "burn", "torch", "ignite", "ember",
    "foley", "footstep", "cloth", "body", "movement", "rustle", "gun", "shot", "rifle", "pistol",
    "shotgun", "bullet", "muzzle", "firearm", "hit", "impact", "punch", "slam", "thud", "thump",
    "knock", "strike", "stomp", "kick", "mechanical", "machine", "motor", "engine", "gear",
    "hydraulic", "servo", "robot", "metal", "clang", "ring", "scrape", "grind", "chain", "iron",
    "steel", "whoosh", "swoosh", "swish", "flyby", "passby", "rush", "wind", "gust", "sweep",
    "scifi", "laser", "zap", "beam", "plasma", "energy", "electric", "spark", "strain", "creak",
    "stress", "tension", "bend", "warp", "water", "splash", "drip", "rain", "ocean", "wave",
    "stream", "pour", "bubble", "wood", "timber", "branch", "crack", "snap", "plank", "door",
    "hinge", "latch", "lock", "handle", "alarm", "bell", "buzz", "click", "beep", "siren", "rock",
    "stone", "gravel", "dirt", "sand", "debris", "thunder", "lightning", "storm", "hail", "ice",
    "frost", "freeze", "crystal", "air", "hiss", "pressure", "vent", "valve", "steam", "gas",
    "vehicle", "car", "truck", "train", "helicopter", "airplane", "boat", "ship", "animal", "bird",
    "dog", "cat", "horse", "insect", "creature", "voice", "scream", "whisper", "breath", "growl",
    "roar", "sword", "blade", "knife", "weapon", "arrow", "shield", "magic", "spell", "shimmer",
    "glow", "portal", "heal", "ui", "interface", "notification", "alert", "confirm", "cancel",
    "scroll", "cloth", "leather", "fabric", "zipper", "velcro", "paper", "cardboard", "page",
    "tear", "crumple", "rope", "cable", "wire", "spring", "rubber", "transition", "riser", "drop",
    "swell", "stinger", "sting", "whomp", "sub", "dark", "bright", "heavy", "light", "deep",
    "sharp", "soft", "hard", "wet", "dry", "warm", "cold", "thin", "thick", "tight", "loose",
    "fast", "slow", "long", "short", "big", "small", "large", "tiny",
};

const std::unordered_set<std::string_view>& VocabularySet() {
    // Filled on first use and never changed; thread-safe static initialisation.
    static const std::unordered_set<std::string_view> set(std::begin(kSoundVocabulary),
                                                          std::end(kSoundVocabulary));
    return set;
}

// True when `needle` occurs in `haystack`; an empty needle occurs everywhere.
bool Contains(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

}  // namespace

void LowerAsciiInPlace(std::string& text) {
    for (char& c : text) c = LowerAscii(c);
}

bool IsVocabularyWord(std::string_view lowerWord) { return VocabularySet().count(lowerWord) != 0; }

const std::vector<std::string_view>& SoundVocabulary() {
    static const std::vector<std::string_view> words(std::begin(kSoundVocabulary),
                                                     std::end(kSoundVocabulary));
    return words;
}

void CountVocabularyWords(std::unordered_map<std::string, int32_t>& counter, const char* text,
                          size_t length) {
    if (text == nullptr) return;
    const auto& vocabulary = VocabularySet();
    ForEachNameWord(std::string_view(text, length), kVocabularyWordMaxLength,
                    [&](std::string_view word) {
                        // Every usable word fits; no allocation for words that miss.
                        char lower[kVocabularyWordMaxLength];
                        for (size_t k = 0; k < word.size(); ++k) lower[k] = LowerAscii(word[k]);
                        const std::string_view key(lower, word.size());
                        if (vocabulary.count(key) != 0) counter[std::string(key)] += 1;
                    });
}

const std::vector<CategoryRule>& CategoryRules() {
    static const std::vector<CategoryRule> rules = {
        {"AMBExt", "Ambience", "ambience|ambient|atmos|room|space|outdoor|indoor|city|nature|bg"},
        {"CRASH", "Crash", "crash|smash|shatter|break|glass|ceramic|collapse"},
        {"DSGN", "Designed", "design|synth|processed|morph|texture|pad|drone|tone|abstract"},
        {"EXPL", "Explosion", "explosion|explode|boom|blast|detonate|bomb"},
        {"FIRE", "Fire", "fire|flame|burn|torch|ignite|ember"},
        {"FOL", "Foley", "foley|footstep|cloth|body|movement|rustle"},
        {"GUN", "Gunshot", "gun|shot|rifle|pistol|shotgun|bullet|muzzle|firearm"},
        {"HIT", "Impact", "hit|impact|punch|slam|thud|thump|knock|strike|stomp|kick"},
        {"MECH", "Mechanical", "mechanical|machine|motor|engine|gear|hydraulic|servo|robot"},
        {"META", "Metal", "metal|clang|ring|scrape|grind|chain|iron|steel"},
        {"MVMT", "Movement", "whoosh|swoosh|swish|flyby|passby|rush|wind|gust|sweep"},
        {"SCI", "SciFi", "scifi|sci-fi|laser|zap|beam|plasma|energy|electric|spark"},
        {"STRN", "Strain", "strain|creak|stress|tension|bend|warp"},
        {"WATR", "Water", "water|splash|drip|rain|ocean|wave|stream|pour|bubble"},
        {"WOOD", "Wood", "wood|timber|branch|crack|snap|plank"},
    };
    return rules;
}

std::string GuessCategory(const std::vector<KeywordTerm>& terms) {
    if (terms.empty()) return kNoCategoryCode;

    std::vector<std::string> lowered;
    std::vector<int32_t> points;
    for (const KeywordTerm& term : terms) {
        if (term.mode == kKeywordExcluded) continue;
        lowered.push_back(term.text);
        LowerAsciiInPlace(lowered.back());
        points.push_back(term.mode == kKeywordRequired ? 3 : 2);
    }

    int32_t best = 0;
    const char* answer = kNoCategoryCode;
    for (const CategoryRule& rule : CategoryRules()) {
        int32_t score = 0;
        for (size_t t = 0; t < lowered.size(); ++t) {
            const std::string_view term = lowered[t];
            std::string_view rest = rule.keywords;
            while (true) {
                const size_t bar = rest.find('|');
                const std::string_view keyword = rest.substr(0, bar);
                // A term scores against a keyword when either holds the other.
                const bool match = (keyword.size() <= term.size() && Contains(term, keyword)) ||
                                   (term.size() <= keyword.size() && Contains(keyword, term));
                if (match) score += points[t];
                if (bar == std::string_view::npos) break;
                rest.remove_prefix(bar + 1);
            }
        }
        // Strictly greater: the earlier rule keeps a tie, and 0 never wins.
        if (score > best) {
            best = score;
            answer = rule.code;
        }
    }
    return answer;
}

}  // namespace korvel
