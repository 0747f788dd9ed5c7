#include "project/event_curves.h"

#include "presets/recipes.h"

// [SECTION] Curves
// [SECTION] Titles and labels
// [SECTION] Proposed names

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "library/name_words.h"
#include "project/fixed_text.h"

namespace korvel {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string Capitalised(std::string_view word, std::size_t maxLength) {
    std::string out(word.substr(0, maxLength));
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = i == 0 ? Upper(out[i]) : Lower(out[i]);
    return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

template <std::size_t N>
bool IsAnyOf(std::string_view word, const std::array<std::string_view, N>& list) {
    return std::any_of(list.begin(), list.end(), [&](std::string_view item) { return EqualsIgnoringCase(word, item); });
}

// Splits `text` at every byte of `separators`, dropping empty tokens.
std::vector<std::string_view> Tokens(std::string_view text, std::string_view separators) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && separators.find(text[i]) == std::string_view::npos) continue;
        if (i > start) out.push_back(text.substr(start, i - start));
        start = i + 1;
    }
    return out;
}

// Keyword words in order, without the signed ('+' required, '-' excluded)
// ones, which name constraints rather than the sound.
std::vector<std::string_view> PlainKeywordWords(std::string_view keywords) {
    std::vector<std::string_view> words = Tokens(keywords, " ,");
    std::erase_if(words, [](std::string_view w) { return w[0] == '+' || w[0] == '-'; });
    return words;
}

std::string_view KindName(int32_t kind) {
    return EventKindNames[static_cast<std::size_t>(std::clamp(kind, 0, kEventKindCount - 1))];
}

}  // namespace

// [SECTION] Curves

void FillCurve(CurvePoints& curve, float value) { curve.fill(value); }

void ShapeCurve(CurvePoints& curve, float p, float lo, float hi) {
    const float d = std::clamp(p, 0.0f, 1.0f);
    for (int i = 0; i < kCurvePoints; ++i) {
        const float f = static_cast<float>(i) / 255.0f;
        float v;
        if (d < 0.001f) {
            v = (std::cos(f * kPi) + 1.0f) / 2.0f;
        } else if (d > 0.999f) {
            v = (1.0f - std::cos(f * kPi)) / 2.0f;
        } else if (f <= d) {
            v = (std::cos((1.0f - f / d) * kPi) + 1.0f) / 2.0f;
        } else {
            v = (std::cos((f - d) / (1.0f - d) * kPi) + 1.0f) / 2.0f;
        }
        curve[static_cast<std::size_t>(i)] = lo + v * (hi - lo);
    }
}

void RandomSpikeCurve(CurvePoints& curve, float a, float b, uint32_t seed) {
    uint32_t x = seed;
    for (float& point : curve) {
        x = x * 1103515245u + 12345u;
        const float c = static_cast<float>((x >> 16) & 0x7FFFu) / 32767.0f;
        point = c > 0.7f ? a + (c - 0.7f) / 0.3f * (b - a) : a;
    }
}

void BuildShapeCurves(int32_t kind, float weightCenter, float spread, CurvePoints& weight,
                      CurvePoints& intensity, float syncFraction) {
    switch (kind) {
        case KindValue(EventKind::Spot):
            weight.fill(weightCenter);
            intensity.fill(0.65f);
            break;
        case KindValue(EventKind::Bloom):
            weight.fill(0.5f);
            ShapeCurve(intensity, syncFraction, 0.0f, 1.0f);
            break;
        case KindValue(EventKind::Contour):
        case KindValue(EventKind::Fill):
            weight.fill(0.5f);
            intensity.fill(0.5f);
            break;
        case KindValue(EventKind::Scatter): {
            const float lo = std::clamp(weightCenter - 0.2f * spread, 0.0f, 1.0f);
            const float hi = std::clamp(weightCenter + 0.3f * spread, 0.0f, 1.0f);
            RandomSpikeCurve(weight, lo, hi, 42);
            RandomSpikeCurve(intensity, 0.15f, 0.8f, 137);
            break;
        }
        case KindValue(EventKind::Clip):
        case KindValue(EventKind::Bed):
            weight.fill(0.5f);
            intensity.fill(1.0f);
            break;
        default:
            weight.fill(weightCenter);
            intensity.fill(0.5f);
            break;
    }
}

void Event::EnsureDefaultIntensityCurve() {
    if (userShapeIdx >= 0 || intensityMode != kIntensityFollowsSync) return;
    const float peak = duration > 0.0f ? syncOffset / duration : 0.5f;
    ShapeCurve(intensity, peak, 0.0f, 1.0f);
}

// [SECTION] Titles and labels

const char* EventDisplayLabel(const Project& project, const Event& event) {
    const int32_t shape = event.userShapeIdx;
    if (shape >= 0 && static_cast<std::size_t>(shape) < project.userShapes.size()) {
        return project.userShapes[static_cast<std::size_t>(shape)].name;
    }
    return KindName(event.shape).data();
}

const char* Project::EventTitle(const Event& event) const {
    constexpr std::size_t kTitleBytes = 64;
    constexpr std::size_t kTitleMax = 62;
    // UI thread only (timeline, events list). Four buffers, so a caller may
    // hold a few titles at once, as a row showing two events does.
    static char titles[4][kTitleBytes];
    static int nextTitle = 0;

    const std::vector<std::string_view> words = PlainKeywordWords(TextOf(event.keywords));
    if (words.empty()) return EventDisplayLabel(*this, event);

    char* title = titles[nextTitle];
    nextTitle = (nextTitle + 1) % 4;
    std::size_t length = 0;
    for (std::size_t w = 0; w < words.size() && w < 3; ++w) {
        if (w > 0 && length >= 1 && length <= kTitleMax - 1) title[length++] = ' ';
        const std::size_t first = length;
        for (char c : words[w]) {
            if (length >= kTitleMax) break;
            title[length++] = c;
        }
        if (length > first) title[first] = Upper(title[first]);
    }
    title[length] = '\0';
    return title;
}

// [SECTION] Proposed names

namespace {

constexpr std::array<std::string_view, 14> kBedStopWords = {
    "loop", "lp",   "st",   "mono",   "stereo",   "mix",  "final",
    "take", "edit", "master", "wav", "seamless", "long", "short"};

constexpr std::array<std::string_view, 14> kFilterFillers = {
    "SFX", "FX",  "Sound",   "Sounds", "Audio",  "The",    "Pro",
    "HD",  "Library", "Pack", "Series", "Vol", "Volume", "Edition"};

constexpr std::array<std::string_view, 7> kToneWords = {"Sub ",    "Deep ",   "Heavy ",  "Body ",
                                                        "Bright ", "Air ",    "Dynamic "};

constexpr std::array<std::string_view, kEventKindCount> kKindNamingWords = {
    "Spot", "Bloom", "Contour", "Fill", "Wave", "Clip", "Bed"};

bool IsNoFilter(std::string_view filter) { return filter.empty() || filter == "~none~"; }

// The candidate itself when free, else with " 2" to " 99"; empty when all
// of them are taken.
std::string UniqueRecipeName(const std::string& candidate, const RecipeNameTaken& taken) {
    if (!taken || !taken(candidate)) return candidate;
    for (int n = 2; n <= 99; ++n) {
        char numbered[96];
        std::snprintf(numbered, sizeof numbered, "%s %d", candidate.c_str(), n);
        if (!taken(numbered)) return numbered;
    }
    return {};
}

// File name without folder (either slash, as projects move between
// systems) and without extension.
std::string_view FileStem(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0 && name != "..") name = name.substr(0, dot);
    return name;
}

std::string BedWords(const Event& event) {
    std::string words;
    int count = 0;
    for (const std::string& file : event.pinnedFiles) {
        for (std::string_view token : Tokens(FileStem(file), " _-.,()[]")) {
            if (token.size() < 3) continue;
            if (std::any_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
            if (IsAnyOf(token, kBedStopWords)) continue;
            const std::string word = Capitalised(token, 31);
            if (words.find(word) != std::string::npos) continue;
            if (words.size() + 1 + word.size() >= 59) continue;
            if (!words.empty()) words += ' ';
            words += word;
            if (++count == 2) return words;
        }
    }
    return words;
}

const char* ToneWord(const Event& event) {
    float lo = 1.0f, hi = 0.0f, sum = 0.0f;
    for (float point : event.weight) {
        const float v = std::clamp(point + event.weightOffset, 0.0f, 1.0f);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        sum += v;
    }
    const float mean = sum / static_cast<float>(kCurvePoints);
    if (hi - lo > 0.15f) return "Dynamic";
    if (mean < 0.15f) return "Sub";
    if (mean < 0.3f) return "Deep";
    if (mean < 0.45f) return "Heavy";
    if (mean < 0.6f) return "Body";
    if (mean < 0.75f) return "Bright";
    return "Air";
}

std::string KeywordSubject(const Event& event) {
    std::string subject;
    int taken = 0;
    for (std::string_view token : PlainKeywordWords(TextOf(event.keywords))) {
        const std::string_view word = token.substr(0, std::min(token.find('/'), std::size_t{30}));
        if (word.empty()) continue;
        const std::size_t grown = subject.size() + (subject.empty() ? 0 : 1) + word.size();
        if (grown >= 62) break;
        if (!subject.empty()) subject += ' ';
        subject += Capitalised(word, 30);
        if (++taken == 2) break;
    }
    return subject;
}

std::string CategorySubject(std::string_view filter) {
    if (IsNoFilter(filter)) return {};
    std::string lower(filter);
    for (char& c : lower) c = Lower(c);
    const CategoryRule* best = nullptr;
    std::size_t bestScore = 0;
    for (const CategoryRule& rule : CategoryRules()) {
        std::size_t score = 0;
        for (std::string_view word : Tokens(rule.keywords, "|")) {
            if (lower.find(word) != std::string::npos) score += word.size();
        }
        if (best == nullptr || score > bestScore) {
            best = &rule;
            bestScore = score;
        }
    }
    return best != nullptr && bestScore >= 3 ? std::string(best->displayName) : std::string();
}

std::string RecipeSubject(std::string_view presetName) {
    for (std::string_view prefix : kToneWords) {
        if (presetName.starts_with(prefix)) {
            presetName.remove_prefix(prefix.size());
            break;
        }
    }
    return std::string(presetName);
}

std::string LongestFilterWord(std::string_view filter) {
    if (IsNoFilter(filter)) return {};
    std::string_view longest;
    for (std::string_view token : Tokens(filter, " _-/,.")) {
        if (token.size() <= 2 || IsAnyOf(token, kFilterFillers)) continue;
        if (token.size() > longest.size()) longest = token;
    }
    return longest.empty() ? std::string() : Capitalised(longest, longest.size());
}

}  // namespace

void Event::AutoName(char* out, std::size_t size, const RecipeNameTaken& givenNameCheck) const {
    const Event& event = *this;
    const RecipeNameTaken recipeNameTaken = givenNameCheck ? givenNameCheck : RecipeNameTaken(RecipeListHasName);
    if (out == nullptr || size == 0) return;
    auto write = [&](const std::string& name) { std::snprintf(out, size, "%s", name.c_str()); };

    if (IsKind(event.shape, EventKind::Bed) && !event.pinnedFiles.empty()) {
        const std::string words = BedWords(event);
        if (!words.empty()) {
            const std::string name = UniqueRecipeName(words + " Bed", recipeNameTaken);
            if (!name.empty()) {
                write(name);
                return;
            }
        }
    }

    const std::string_view filter = TextOf(event.libFilter);
    std::string subject = KeywordSubject(event);
    if (subject.empty()) subject = CategorySubject(filter);
    if (subject.empty()) subject = RecipeSubject(TextOf(event.presetName));
    if (subject.empty()) subject = LongestFilterWord(filter);
    if (subject.empty()) {
        subject = kKindNamingWords[static_cast<std::size_t>(std::clamp(event.shape, 0, kEventKindCount - 1))];
    }

    char name[64];
    std::snprintf(name, sizeof name, "%s %s", ToneWord(event), subject.c_str());
    const std::string unique = UniqueRecipeName(name, recipeNameTaken);
    write(unique.empty() ? std::string(name) : unique);
}

}  // namespace korvel
