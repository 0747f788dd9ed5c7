#include "project/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace korvel {

namespace {

// Counts temporary files made by this process; with the process id it keeps
// two writers of one target (a scan checkpoint and the UI) apart.
// Any thread may increment it.
std::atomic<unsigned> gTempFileCounter{0};

bool WriteAll(int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// Renames a synced temporary file over the target; on failure the temporary
// is deleted.
bool MoveOver(const std::string& tempPath, const std::string& targetPath) {
    if (rename(tempPath.c_str(), targetPath.c_str()) == 0) return true;
    if (errno == EXDEV) {
        // A temporary file on another volume cannot be renamed over the
        // target; copying is the only way to get it there.
        std::error_code ec;
        bool copied = std::filesystem::copy_file(tempPath, targetPath,
                                                 std::filesystem::copy_options::overwrite_existing, ec);
        unlink(tempPath.c_str());
        return copied && !ec;
    }
    unlink(tempPath.c_str());
    return false;
}

}  // namespace

std::string UniqueTempPath(const std::string& targetPath) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, "-%ld-%u", static_cast<long>(getpid()),
                  gTempFileCounter.fetch_add(1, std::memory_order_relaxed));
    return targetPath + ".tmp" + suffix;
}

std::string WriteTempFileBeside(const std::string& targetPath, std::string_view text) {
    std::string tempPath;
    int fd = -1;
    // A leftover of a crashed process with the same id is never reused.
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        tempPath = UniqueTempPath(targetPath);
        fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return {};
    }
    if (fd < 0) return {};

    bool written = WriteAll(fd, text);
    // The data must be on disk before a rename makes it the target.
    if (written) fsync(fd);
    if (close(fd) != 0) written = false;
    if (!written) {
        unlink(tempPath.c_str());
        return {};
    }
    return tempPath;
}

bool WriteFileAtomic(const std::string& path, std::string_view text) {
    if (path.empty()) return false;
    const std::string tempPath = WriteTempFileBeside(path, text);
    return !tempPath.empty() && MoveOver(tempPath, path);
}

bool CommitTempFile(const std::string& tempPath, const std::string& targetPath) {
    // Durability is best effort: a failed sync still leaves a complete file.
    int fd = open(tempPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
    return MoveOver(tempPath, targetPath);
}

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

}  // namespace korvel
