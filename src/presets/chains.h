#pragma once
// Chains: a group of events saved under a name with their times relative to
// each other, one file per chain in the chains folder, placed again as a
// whole at the playhead of any project.
//
// [SECTION] Records and the list
// [SECTION] Files
// [SECTION] Placing
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "presets/recipes.h"

namespace korvel {

struct AppState;

// [SECTION] Records and the list

// One event of a chain. The preset's `name` stays empty and its own
// `syncOffset` 0: the entry's `syncOffset` is the one placed.
struct ChainEntry {
    EventPreset preset;
    float relTime = 0.0f;     // seconds after the chain's earliest event
    float syncOffset = 0.0f;  // seconds
    bool hero = false;
    bool alloy = false;
};

struct Chain {
    char name[64] = {};  // also the folder name of the placed events
    std::vector<ChainEntry> entries;  // file order
    std::string sourcePath;           // the file it was read from; never written
};

// Every chain of the chains folder, sorted by name (ASCII case folded).
// UI thread only, unlocked; indices stay valid until the next reload.
extern std::vector<Chain> ChainList;

inline constexpr std::int32_t kChainFormatVersion = 1;
inline constexpr const char* kChainExtension = ".kvchain";

// [SECTION] Files

// The file's text for the listed events (times relative to the earliest),
// in the list's order.
std::string FormatChain(std::string_view name, const std::vector<Event>& events,
                        const std::vector<std::int32_t>& indices);

// The chain a parsed chain file describes, without touching the
// file-identity registry (ids stay as the file gives them).
Chain ReadChainJson(const JsonValue& root);
// Gives a Clip file without an id its identity and registers every Bed id
// with its stored fingerprint and size.
void ResolveChainIdentities(const JsonValue& root, Chain& chain);

// Never fails: an unreadable file gives a chain with no name and no entries
// and `sourcePath` set. A newer format prints a warning and reads on; a file
// over kChainFileLimit, or one that runs out of memory, is refused with one
// bracketed line.
Chain ReadChainFile(const std::string& path);

// Writes the chain's file into `folder` (created with its parents): the
// file already holding a chain of this name, else a new stem ("group" when
// nothing is left of the name, " 2", " 3" ... when another chain holds it).
// False with `error` set when the folder cannot be made or the write
// fails; false without an error when `indices` is empty or names no event.
bool SaveChainTo(const std::string& folder, std::string_view name, const std::vector<Event>& events,
                 const std::vector<std::int32_t>& indices, std::error_code& error);
// The same into the chains folder; false (no error) when there is none.
bool SaveChain(std::string_view name, const std::vector<Event>& events, const std::vector<std::int32_t>& indices,
               std::error_code& error);

// Appends every chain file directly in `folder` (".kvchain" or ".json",
// exact case), also those that fail to open.
void ScanChainFolder(const std::string& folder, std::vector<Chain>& chains);
// Rebuilds ChainList from the chains folder and marks the menus dirty.
void ReloadChains(AppState& app);
void ReloadChains();

// [SECTION] Placing

// The folder a placed chain's events share: the name, else the name with
// " 2", " 3" ... shortened so the suffix fits the 63-byte field, the first
// not in `taken`. Empty for an empty name.
std::string ChainFolderName(std::string_view name, const std::vector<Event>& events);

// Adds ChainList entry `index` at the playhead as one undo step (see
// Project::InstantiateChain). Nothing for an index out of range; refused
// (false, the busy status posted) while a background job or an export
// reads the project. UI thread.
bool PlaceChainAtPlayhead(std::int32_t index);

}  // namespace korvel
