// Atomic whole-file writes through temporaries beside the target.
//
// [SECTION] Names and links
// [SECTION] Stale temporaries
// [SECTION] Temporary files
// [SECTION] Whole-file writes
// [SECTION] Readability
// [SECTION] Bounded reads
#include "project/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <new>
#include <stdexcept>

namespace korvel {

namespace {

// Counts temporary files made by this process; with the process id it keeps
// two writers of one target (a scan checkpoint and the UI) apart.
// Any thread may increment it.
std::atomic<unsigned> gTempFileCounter{0};

constexpr std::string_view kTempMarker = ".tmp-";
// ".tmp-", a process id and a counter of up to ten digits each, and a dash.
constexpr std::size_t kTempSuffixReserve = kTempMarker.size() + 10 + 1 + 10;

// [SECTION] Names and links

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The part of a target's name that its temporaries start with: the whole
// name, or its beginning when the suffix would push it past the name limit.
// A cut never splits a UTF-8 sequence, so the name stays displayable.
std::string TempNameStem(const std::string& targetName) {
    constexpr std::size_t room = kMaxFileNameBytes - kTempSuffixReserve;
    if (targetName.size() <= room) return targetName;
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(targetName[cut]) & 0xC0) == 0x80) --cut;
    return targetName.substr(0, cut);
}

// Both sides of the rename must reach the disk: the folder's entry is what a
// power cut would otherwise lose. Best effort, as a failed sync still leaves
// a complete file.
void SyncFolderOf(const std::string& path) {
    const int fd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// The permission bits of an existing target; -1 when there is none.
int ExistingMode(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<int>(info.st_mode & 07777);
}

// Renames a temporary file over the target (already resolved); on failure
// the temporary is deleted.
bool MoveOver(const std::string& tempPath, const std::string& targetPath, std::error_code& error) {
    if (rename(tempPath.c_str(), targetPath.c_str()) == 0) {
        SyncFolderOf(targetPath);
        return true;
    }
    error.assign(errno, std::generic_category());
    if (errno == EXDEV) {
        // A temporary file on another volume cannot be renamed over the
        // target; copying is the only way to get it there.
        std::error_code ec;
        const bool copied = std::filesystem::copy_file(tempPath, targetPath,
                                                       std::filesystem::copy_options::overwrite_existing, ec);
        unlink(tempPath.c_str());
        if (copied && !ec) error.clear();
        else if (ec) error = ec;
        return copied && !ec;
    }
    unlink(tempPath.c_str());
    return false;
}

}  // namespace

std::string ResolveLinkTarget(const std::string& path) {
    std::string current = path;
    // As deep as the system itself follows links before giving up.
    for (int depth = 0; depth < 40; ++depth) {
        struct stat info {};
        if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        std::string target(static_cast<std::size_t>(PATH_MAX), '\0');
        const ssize_t length = readlink(current.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return current;
        target.resize(static_cast<std::size_t>(length));
        current = target.front() == '/' ? target : FolderOf(current) + "/" + target;
    }
    return current;  // a loop: the write then fails like the system's own open would
}

std::string UniqueTempPath(const std::string& targetPath) {
    const std::string target = ResolveLinkTarget(targetPath);
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, "%ld-%u", static_cast<long>(getpid()),
                  gTempFileCounter.fetch_add(1, std::memory_order_relaxed));
    return folder + TempNameStem(NameOf(target)) + std::string(kTempMarker) + suffix;
}

// [SECTION] Stale temporaries

void RemoveStaleTempFiles(const std::string& targetPath) {
    const std::string target = ResolveLinkTarget(targetPath);
    const std::string prefix = TempNameStem(NameOf(target)) + std::string(kTempMarker);
    const std::string folder = FolderOf(target);
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) return;
    const long self = static_cast<long>(getpid());
    while (const dirent* entry = readdir(listing)) {
        const std::string_view name(entry->d_name);
        if (!name.starts_with(prefix)) continue;
        // "<pid>-<counter>" and nothing else: any other name is not ours.
        const std::string_view rest = name.substr(prefix.size());
        long pid = 0;
        unsigned counter = 0;
        const auto [pidEnd, pidError] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
        if (pidError != std::errc() || pid <= 0 || pidEnd == rest.data() + rest.size() || *pidEnd != '-') continue;
        const auto [end, counterError] = std::from_chars(pidEnd + 1, rest.data() + rest.size(), counter);
        if (counterError != std::errc() || end != rest.data() + rest.size()) continue;
        if (pid == self) continue;  // another writer of this process may be busy with it
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;  // alive, or not ours to judge
        unlinkat(dirfd(listing), entry->d_name, 0);
    }
    closedir(listing);
}

// [SECTION] Temporary files

TempFile CreateTempFileBeside(const std::string& targetPath) {
    TempFile temp;
    if (targetPath.empty()) return temp;
    const std::string target = ResolveLinkTarget(targetPath);
    RemoveStaleTempFiles(target);
    // A leftover of a crashed process with the same id is never reused.
    for (int attempt = 0; attempt < 16 && temp.fd < 0; ++attempt) {
        temp.path = UniqueTempPath(target);
        temp.fd = open(temp.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (temp.fd < 0 && errno != EEXIST) break;
    }
    if (temp.fd < 0) {
        temp.path.clear();
        return temp;
    }
    // Replacing a file must not widen or narrow who may read it.
    if (const int mode = ExistingMode(target); mode >= 0) fchmod(temp.fd, static_cast<mode_t>(mode));
    return temp;
}

bool WriteAllBytes(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

void DiscardTempFile(TempFile& temp) {
    if (temp.fd >= 0) close(temp.fd);
    temp.fd = -1;
    if (!temp.path.empty()) unlink(temp.path.c_str());
    temp.path.clear();
}

bool CloseTempFile(TempFile& temp) {
    if (temp.fd < 0) return !temp.path.empty();
    // The data must be on disk before a rename makes it the target. On
    // file systems that write lazily a full disk shows only here.
    bool ok = fsync(temp.fd) == 0 || errno == EINVAL || errno == EROFS;
    if (close(temp.fd) != 0) ok = false;
    temp.fd = -1;
    if (!ok) DiscardTempFile(temp);
    return ok;
}

bool FinishTempFile(TempFile& temp, const std::string& targetPath, std::error_code& error) {
    error.clear();
    if (!CloseTempFile(temp)) {
        error.assign(EIO, std::generic_category());
        return false;
    }
    const bool moved = MoveOver(temp.path, ResolveLinkTarget(targetPath), error);
    temp.path.clear();
    return moved;
}

std::string WriteTempFileBeside(const std::string& targetPath, std::string_view text) {
    TempFile temp = CreateTempFileBeside(targetPath);
    if (temp.fd < 0) return {};
    if (!WriteAllBytes(temp.fd, text)) {
        DiscardTempFile(temp);
        return {};
    }
    if (!CloseTempFile(temp)) return {};
    return temp.path;
}

bool CommitTempFile(const std::string& tempPath, const std::string& targetPath, std::error_code& error) {
    error.clear();
    const std::string target = ResolveLinkTarget(targetPath);
    // Durability is best effort: a failed sync still leaves a complete file.
    const int fd = open(tempPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        // A temporary its writer made by other means takes the target's mode too.
        if (const int mode = ExistingMode(target); mode >= 0) fchmod(fd, static_cast<mode_t>(mode));
        fsync(fd);
        close(fd);
    }
    return MoveOver(tempPath, target, error);
}

bool CommitTempFile(const std::string& tempPath, const std::string& targetPath) {
    std::error_code ignored;
    return CommitTempFile(tempPath, targetPath, ignored);
}

// [SECTION] Whole-file writes

bool WriteFileAtomic(const std::string& path, std::string_view text) {
    TempFile temp = CreateTempFileBeside(path);
    if (temp.fd < 0) return false;
    if (!WriteAllBytes(temp.fd, text)) {
        DiscardTempFile(temp);
        return false;
    }
    std::error_code ignored;
    return FinishTempFile(temp, path, ignored);
}

bool CopyFileAtomic(const std::string& source, const std::string& target, bool replace, std::error_code& error) {
    error.clear();
    const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error.assign(errno, std::generic_category());
        return false;
    }
    struct stat info {};
    if (fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        error.assign(S_ISDIR(info.st_mode) ? EISDIR : errno, std::generic_category());
        close(in);
        return false;
    }
    TempFile temp = CreateTempFileBeside(target);
    if (temp.fd < 0) {
        error.assign(errno, std::generic_category());
        close(in);
        return false;
    }
    if (!replace) fchmod(temp.fd, info.st_mode & 07777);  // a new file takes the source's mode

    bool copied = true;
    std::string buffer(1 << 16, '\0');
    for (;;) {
        const ssize_t got = read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got == 0) break;
        if (got < 0 || !WriteAllBytes(temp.fd, std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
            copied = false;
            break;
        }
    }
    if (!copied) error.assign(errno ? errno : EIO, std::generic_category());
    close(in);
    if (!copied) {
        DiscardTempFile(temp);
        return false;
    }
    if (!CloseTempFile(temp)) {
        error.assign(EIO, std::generic_category());
        return false;
    }
    if (replace) return CommitTempFile(temp.path, target, error);

    // Moved only onto a free name: the rename itself refuses a taken one,
    // where the file system can; a hard link does the same elsewhere.
    const std::string resolved = ResolveLinkTarget(target);
    if (renameat2(AT_FDCWD, temp.path.c_str(), AT_FDCWD, resolved.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS) {
            error.assign(errno, std::generic_category());
            unlink(temp.path.c_str());
            return false;
        }
        const bool linked = link(temp.path.c_str(), resolved.c_str()) == 0;
        if (!linked) error.assign(errno, std::generic_category());
        unlink(temp.path.c_str());
        if (!linked) return false;
    }
    SyncFolderOf(resolved);
    return true;
}

// [SECTION] Readability

bool IsFileReadable(const std::string& path) {
    if (path.empty()) return false;
    // Non-blocking so that a named pipe cannot stall the caller.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    // A folder opens for reading on this platform but is not a file to read.
    struct stat info {};
    bool readable = fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
    close(fd);
    return readable;
}

// [SECTION] Bounded reads

LimitedRead ReadFileWithin(const std::string& path, std::uint64_t limit, std::string& text, std::uint64_t* size) {
    text.clear();
    if (size != nullptr) *size = 0;
    std::FILE* file = path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
    if (file == nullptr) return LimitedRead::Unopened;
    struct stat info {};
    const bool sized = fstat(fileno(file), &info) == 0;
    if (sized && S_ISDIR(info.st_mode)) {
        std::fclose(file);
        return LimitedRead::Unopened;
    }
    const std::uint64_t length = sized && info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    if (size != nullptr) *size = length;
    if (length > limit) {
        std::fclose(file);
        return LimitedRead::TooLarge;
    }
    LimitedRead result = LimitedRead::Ok;
    try {
        text.reserve(static_cast<std::size_t>(length));
        // A file that grows while it is read (or a pipe) stops at the limit too.
        char block[65536];
        std::size_t got = 0;
        while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
            if (text.size() + got > limit) {
                if (size != nullptr) *size = text.size() + got;
                result = LimitedRead::TooLarge;
                break;
            }
            text.append(block, got);
        }
        if (result == LimitedRead::Ok && std::ferror(file) != 0) result = LimitedRead::Failed;
    } catch (const std::bad_alloc&) {
        result = LimitedRead::OutOfMemory;
    } catch (const std::length_error&) {
        result = LimitedRead::OutOfMemory;
    }
    std::fclose(file);
    if (result != LimitedRead::Ok) std::string().swap(text);
    return result;
}

bool ReportLimitedRead(LimitedRead result, const char* section, const std::string& path, std::uint64_t size,
                       std::uint64_t limit) {
    if (result == LimitedRead::Ok) return true;
    if (result == LimitedRead::TooLarge)
        std::printf("[%s] Not read: %s is %llu bytes, more than the %llu a file of its kind may have\n", section,
                    path.c_str(), static_cast<unsigned long long>(size), static_cast<unsigned long long>(limit));
    else if (result == LimitedRead::OutOfMemory)
        std::printf("[%s] Not read: out of memory reading %s\n", section, path.c_str());
    else if (result == LimitedRead::Failed)
        std::printf("[%s] Not read: a read error in %s\n", section, path.c_str());
    std::fflush(stdout);
    return false;
}

}  // namespace korvel
