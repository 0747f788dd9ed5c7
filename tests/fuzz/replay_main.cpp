// Replays every file of the given folders (or single files) through the fuzz
// entry point once, so seeds and past crashers stay covered in every build.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void ReplayFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

int main(int argc, char** argv) {
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        std::filesystem::path root(argv[i]);
        if (std::filesystem::is_directory(root, ec)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(root, ec)) {
                if (entry.is_regular_file(ec)) {
                    ReplayFile(entry.path());
                    ++replayed;
                }
            }
        } else if (std::filesystem::is_regular_file(root, ec)) {
            ReplayFile(root);
            ++replayed;
        } else {
            // A corpus that is not there would replay nothing and still pass.
            std::fprintf(stderr, "[fuzz] no such corpus: %s\n", argv[i]);
            return 1;
        }
    }
    // Running the empty input too keeps a target with no seeds meaningful.
    LLVMFuzzerTestOneInput(nullptr, 0);
    std::printf("replayed %d inputs\n", replayed);
    return 0;
}
