#pragma once
// A folder that runs full after a few kilobytes, for tests of writers on a
// full disk: a small tmpfs mounted on it when the test may mount one, and
// otherwise a plain folder where a file-size limit on the writing child
// stands in for the full disk.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "support/temp_dir.h"

namespace korvel::test {

class FullDisk {
public:
    explicit FullDisk(std::uint64_t bytes);
    ~FullDisk();
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    const std::filesystem::path& path() const { return root_; }
    std::string file(const std::string& name) const { return (root_ / name).string(); }
    bool mounted() const { return mounted_; }

    // Runs `body` in a child process in which writes into the folder fail
    // once it is full; the child's exit code (what `body` returns), or -1
    // when it did not exit.
    int Run(const std::function<int()>& body) const;

private:
    TempDir dir_;
    std::filesystem::path root_;
    std::uint64_t bytes_ = 0;
    bool mounted_ = false;
};

}  // namespace korvel::test
