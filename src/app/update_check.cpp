#include "app/update_check.h"

#include <chrono>
#include <cstdio>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>

#include "app/platform_hooks.h"
#include "platform/http_client.h"
#include "presets/recipes.h"
#include "project/strict_json.h"

namespace korvel {

namespace {

// The check thread; joinable until the next check or StopUpdateCheck joins
// it. UI thread only. A jthread, so an exit() from a library (Xlib on a lost
// display) joins it instead of aborting the process.
std::jthread CheckThread;

// The one hand-over from the check thread to the UI thread.
struct UpdateCheckSlot {
    std::mutex lock;
    bool ready = false;  // a finding waits for TakeUpdateCheckResult
    std::int64_t checkedAt = 0;
    UpdateManifestResult result;
};
// Written by the check thread, taken by the UI thread, both under its lock.
UpdateCheckSlot CheckSlot;

std::int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// One component of a version, read up to the next '.' or the end; characters
// are taken as digits without a check, as the manifests' authors expect.
std::int64_t ReadComponent(std::string_view text, std::size_t& at) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    while (at < text.size() && text[at] != '.') {
        const std::int64_t digit = static_cast<std::int64_t>(text[at]) - '0';
        ++at;
        if (value > kMax / 10) {
            value = kMax;
        } else if (value < kMin / 10) {
            value = kMin;
        } else {
            value *= 10;
            if (digit > 0 && value > kMax - digit) value = kMax;
            else if (digit < 0 && value < kMin - digit) value = kMin;
            else value += digit;
        }
    }
    if (at < text.size()) ++at;  // the '.'
    return value;
}

}  // namespace

int CompareVersions(std::string_view a, std::string_view b) {
    std::size_t atA = 0;
    std::size_t atB = 0;
    while (atA < a.size() || atB < b.size()) {
        const std::int64_t x = atA < a.size() ? ReadComponent(a, atA) : 0;
        const std::int64_t y = atB < b.size() ? ReadComponent(b, atB) : 0;
        if (x < y) return -1;
        if (x > y) return 1;
    }
    return 0;
}

UpdateManifestResult ReadUpdateManifest(std::string_view body, std::string_view buildVersion,
                                        std::string_view platform) {
    UpdateManifestResult out;
    StrictJsonValue root;
    if (!ParseStrictJson(body, root) || root.tag != 5) return out;

    const StrictJsonValue* schema = root.Find("schemaVersion");
    if (schema == nullptr || schema->tag != 2) {
        out.diagnostic = "[Update] manifest missing schemaVersion \xE2\x80\x94 skipping.\n";
        return out;
    }
    // Compared as a double: a huge or negative value never converts.
    if (schema->number >= static_cast<double>(kSupportedManifestSchema + 1)) {
        char line[160];
        const double shown = schema->number < 2147483647.0 ? schema->number : 2147483647.0;
        std::snprintf(line, sizeof line, "[Update] manifest schemaVersion %d > supported %d \xE2\x80\x94 skipping.\n",
                      static_cast<int>(shown), kSupportedManifestSchema);
        out.diagnostic = line;
        return out;
    }

    const StrictJsonValue* changelogUrl = root.Find("changelogUrl");
    const StrictJsonValue* releases = root.Find("releases");
    if (releases == nullptr || releases->tag != 4 || releases->array.empty()) return out;

    const StrictJsonValue* best = nullptr;
    const StrictJsonValue* bestEntry = nullptr;
    for (const StrictJsonValue& release : releases->array) {
        if (release.tag != 5) continue;
        const StrictJsonValue* version = release.Find("version");
        const StrictJsonValue* files = release.Find("files");
        if (version == nullptr || version->tag != 3 || files == nullptr || files->tag != 5) continue;
        const StrictJsonValue* entry = files->Find(platform);
        if (entry == nullptr || entry->tag != 5) continue;
        if (best == nullptr || CompareVersions(version->string, best->Find("version")->string) >= 1) {
            best = &release;
            bestEntry = entry;
        }
    }

    if (best == nullptr) {
        out.diagnostic = "[Update] no release found for platform \"" + std::string(platform) + "\".\n";
        out.kind = UpdateManifestResult::Kind::NotNewer;
        return out;
    }
    const std::string& version = best->Find("version")->string;
    if (CompareVersions(version, buildVersion) <= 0) {
        out.kind = UpdateManifestResult::Kind::NotNewer;
        return out;
    }
    out.kind = UpdateManifestResult::Kind::Newer;
    out.version = version;
    const StrictJsonValue* url = bestEntry->Find("url");
    if (url != nullptr && url->tag == 3 && !url->string.empty()) out.url = url->string;
    else if (changelogUrl != nullptr && changelogUrl->tag == 3) out.url = changelogUrl->string;
    const StrictJsonValue* date = best->Find("date");
    if (date != nullptr && date->tag == 3) out.date = date->string;
    const StrictJsonValue* notes = best->Find("notes");
    if (notes != nullptr && notes->tag == 4) {
        for (const StrictJsonValue& note : notes->array)
            if (note.tag == 3) out.notes.push_back(note.string);
    }
    return out;
}

bool ApplyUpdateManifestResult(AppState& state, UpdateManifestResult&& result) {
    UpdateInfo& info = state.updateInfo;
    switch (result.kind) {
        case UpdateManifestResult::Kind::Ignored: return false;
        case UpdateManifestResult::Kind::Newer:
            info.version = std::move(result.version);
            info.url = std::move(result.url);
            info.date = std::move(result.date);
            info.notes = std::move(result.notes);
            info.updateAvailable = true;
            return true;
        case UpdateManifestResult::Kind::NotNewer:
            if (info.updateAvailable) {
                info.version.clear();
                info.url.clear();
                info.date.clear();
                info.notes.clear();
                info.updateAvailable = false;
            }
            return true;
    }
    return false;
}

void UpdateCheckThread() {
    HttpResponse response;
    const auto& hook = GlobalAppState.platformHooks.HttpGetHook;
    if (hook) hook(response, kUpdateManifestUrl);
    UpdateManifestResult result;
    if (response.status >= 200 && response.status <= 299 && response.error.empty() && !response.body.empty()) {
        result = ReadUpdateManifest(response.body, AppVersion);
        if (!result.diagnostic.empty()) std::fputs(result.diagnostic.c_str(), stderr);
    }
    std::lock_guard<std::mutex> hold(CheckSlot.lock);
    CheckSlot.checkedAt = NowSeconds();
    CheckSlot.result = std::move(result);
    CheckSlot.ready = true;
}

void StartUpdateCheck() {
    AppState& state = GlobalAppState;
    bool expected = false;
    if (!state.updateCheckRunning.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) return;
    if (!state.platformHooks.HttpGetHook) {
        state.updateCheckRunning.store(false, std::memory_order_release);
        return;
    }
    // The previous thread handed its finding over, so it has ended or is
    // about to.
    if (CheckThread.joinable()) CheckThread.join();
    CheckThread = std::jthread(UpdateCheckThread);
}

void TakeUpdateCheckResult() {
    AppState& state = GlobalAppState;
    UpdateManifestResult result;
    std::int64_t checkedAt = 0;
    {
        std::unique_lock<std::mutex> hold(CheckSlot.lock, std::try_to_lock);
        if (!hold.owns_lock() || !CheckSlot.ready) return;
        CheckSlot.ready = false;
        checkedAt = CheckSlot.checkedAt;
        result = std::move(CheckSlot.result);
        CheckSlot.result = {};
    }
    state.updateInfo.lastUpdateCheck = checkedAt;
    if (ApplyUpdateManifestResult(state, std::move(result))) state.PrefsSaveRequested.store(true, std::memory_order_release);
    state.updateCheckRunning.store(false, std::memory_order_release);
}

void MaybeStartAutomaticUpdateCheck(std::int64_t now) {
    const AppState& state = GlobalAppState;
    if (state.updateCheckEnabled && now - state.updateInfo.lastUpdateCheck > kUpdateCheckPeriod) StartUpdateCheck();
}

void StopUpdateCheck() {
    if (CheckThread.joinable()) {
        HttpAbortRequested.store(true, std::memory_order_release);
        CheckThread.join();
        HttpAbortRequested.store(false, std::memory_order_release);
    }
    {
        std::lock_guard<std::mutex> hold(CheckSlot.lock);
        CheckSlot.ready = false;
        CheckSlot.result = {};
    }
    GlobalAppState.updateCheckRunning.store(false, std::memory_order_release);
}

bool IsOpenableUpdateUrl(std::string_view url) {
    constexpr std::string_view kScheme = "https://";
    if (url.size() <= kScheme.size()) return false;
    for (std::size_t i = 0; i < kScheme.size(); ++i) {
        const char c = url[i];
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != kScheme[i]) return false;
    }
    // Control characters and blanks never belong in an address handed to the desktop.
    for (const char c : url)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return false;
    return true;
}

}  // namespace korvel
