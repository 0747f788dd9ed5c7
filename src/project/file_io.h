#pragma once
// Whole-file writes that never leave a half-written file in place of the old
// one, and the readability check used before files are opened.
//
// Every writer of a file the user keeps (projects, palettes, sound files,
// preferences) goes through a temporary file beside its target:
//   - the temporary has a name of its own (target name, ".tmp-", process id,
//     counter), cut so that it stays within the file system's name limit;
//   - leftovers of processes that are gone are removed when the target is
//     written again;
//   - the data reaches the disk before the rename, and the rename reaches it
//     after, so a power cut leaves the old or the new file;
//   - a target that is a symbolic link is written where the link points, the
//     link itself stays;
//   - an existing target's permission bits carry over to the new file.
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace korvel {

// Writes `text` to a new temporary file beside `path` and moves it over
// `path`. False on any failure, with the previous file untouched.
bool WriteFileAtomic(const std::string& path, std::string_view text);

// A temporary file opened for writing beside a target; `fd` is -1 when it
// could not be made.
struct TempFile {
    int fd = -1;
    std::string path;
};

// Creates a new temporary file beside `targetPath` (beside the file it links
// to, for a symbolic link), carrying the target's permission bits, and first
// removes the target's stale temporaries. The caller writes through `fd` and
// then calls FinishTempFile, or DiscardTempFile.
TempFile CreateTempFileBeside(const std::string& targetPath);

// Makes the written temporary durable, closes it and moves it over the
// target. On failure the temporary is deleted, `error` says why and false is
// returned; the target keeps its earlier content.
bool FinishTempFile(TempFile& temp, const std::string& targetPath, std::error_code& error);

// Closes and deletes a temporary that will not become the target.
void DiscardTempFile(TempFile& temp);

// Writes all of `bytes` to the descriptor; false on any failure.
bool WriteAllBytes(int fd, std::string_view bytes);

// Makes the written temporary durable and closes it; the path stays for
// CommitTempFile. On failure (the data did not all reach the file) the
// temporary is deleted and false returned.
bool CloseTempFile(TempFile& temp);

// Writes `text` to a new temporary file beside `targetPath`, no other
// writer's, and makes it durable. Its path, or empty on failure, when
// nothing is left behind.
std::string WriteTempFileBeside(const std::string& targetPath, std::string_view text);

// Makes a finished temporary file durable and moves it over `targetPath`.
// On failure the temporary file is deleted and false returned.
bool CommitTempFile(const std::string& tempPath, const std::string& targetPath);
bool CommitTempFile(const std::string& tempPath, const std::string& targetPath, std::error_code& error);

// Copies the file at `source` to `target` through a temporary beside the
// target, so that an interrupted or failed copy never leaves a partial file
// under the target's name. With `replace` clear an existing target is never
// replaced (the copy then fails with "file exists"). False with `error` set
// on failure, when nothing of the copy is left.
bool CopyFileAtomic(const std::string& source, const std::string& target, bool replace, std::error_code& error);

// A temporary path beside `targetPath` that no other writer in this or
// another process uses at the same time: the target's name (cut to fit the
// name limit), ".tmp-", the process id and a counter.
std::string UniqueTempPath(const std::string& targetPath);

// Deletes the temporaries of `targetPath` left by processes that no longer
// run. Those of this process and of live ones are kept: they may be in use.
void RemoveStaleTempFiles(const std::string& targetPath);

// The file a chain of symbolic links at `path` ends at (the path itself when
// it is no link); a dangling link gives the path it names.
std::string ResolveLinkTarget(const std::string& path);

// The longest file name, in bytes, that a temporary file may have.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// True when the path is not empty and names a file that opens for reading.
bool IsFileReadable(const std::string& path);

// What a bounded whole-file read found.
enum class LimitedRead { Ok, Unopened, TooLarge, OutOfMemory, Failed };

// Reads the whole file at `path` into `text` unless it is larger than
// `limit` bytes; running out of memory is caught here. On anything but Ok
// `text` is empty; `size` (when given) gets the file's size as far as known.
// Unopened also for a folder.
LimitedRead ReadFileWithin(const std::string& path, std::uint64_t limit, std::string& text,
                           std::uint64_t* size = nullptr);

// True for Ok; otherwise prints the one bracketed line "[section] Not read:
// ..." for a refusal (none for a file that did not open) and returns false.
bool ReportLimitedRead(LimitedRead result, const char* section, const std::string& path, std::uint64_t size,
                       std::uint64_t limit);

}  // namespace korvel
