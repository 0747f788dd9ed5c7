#pragma once
// A temporary folder per test, removed with everything in it afterwards.
#include <filesystem>
#include <string>

namespace korvel::test {

class TempDir {
public:
    TempDir();
    // A folder under `base` instead of the system's temporary folder.
    explicit TempDir(const std::filesystem::path& base);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return root_; }
    // Path of a file inside the folder (not created).
    std::string file(const std::string& name) const { return (root_ / name).string(); }

private:
    std::filesystem::path root_;
};

// A folder in memory (/dev/shm) where there is one, else the system's
// temporary folder: for tests that write much and sync every file.
std::filesystem::path MemoryBackedBase();

// Writes `bytes` to `path`, creating parent folders; returns false on failure.
bool WriteBytes(const std::string& path, const std::string& bytes);
// Reads a whole file; empty when it cannot be read.
std::string ReadBytes(const std::string& path);

}  // namespace korvel::test
