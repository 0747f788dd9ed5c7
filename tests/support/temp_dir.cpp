#include "support/temp_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace korvel::test {

TempDir::TempDir() : TempDir(std::filesystem::path()) {}

TempDir::TempDir(const std::filesystem::path& base) {
    std::error_code ec;
    std::filesystem::path folder = base;
    if (folder.empty()) folder = std::filesystem::temp_directory_path(ec);
    if (ec || folder.empty()) folder = "/tmp";
    std::string pattern = (folder / "korvel-test-XXXXXX").string();
    if (char* made = mkdtemp(pattern.data())) root_ = made;
}

std::filesystem::path MemoryBackedBase() {
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0) return "/dev/shm";
    return std::filesystem::temp_directory_path(ec);
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::error_code ec;
    auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace korvel::test
