#pragma once
// Whole-file writes that never leave a half-written file in place of the old
// one, and the readability check used before files are opened.
#include <string>
#include <string_view>

namespace korvel {

// Writes `text` to a new temporary file beside `path` and moves it over
// `path`. False on any failure, with the previous file untouched.
bool WriteFileAtomic(const std::string& path, std::string_view text);

// Writes `text` to a new temporary file beside `targetPath`, no other
// writer's, and makes it durable. Its path, or empty on failure, when
// nothing is left behind.
std::string WriteTempFileBeside(const std::string& targetPath, std::string_view text);

// Makes a finished temporary file durable and moves it over `targetPath`.
// On failure the temporary file is deleted and false returned.
bool CommitTempFile(const std::string& tempPath, const std::string& targetPath);

// A temporary path beside `targetPath` that no other writer in this or
// another process uses at the same time: the target, ".tmp" and a suffix.
std::string UniqueTempPath(const std::string& targetPath);

// True when the path is not empty and names a file that opens for reading.
bool IsFileReadable(const std::string& path);

}  // namespace korvel
