// A save killed at any moment leaves every file it touches as the old or the
// new whole file: the project file and the collected copies; the next save
// removes what the killed one left. Each trial kills a child process that
// saves in a loop with SIGKILL at a different moment.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "project/project_file_fixture.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

int CountTemporaries(const fs::path& folder) {
    int count = 0;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
        if (entry.path().filename().string().find(".tmp-") != std::string::npos) ++count;
    return count;
}

TEST(KillTrials, ASaveKilledAnywhereLeavesTheOldOrTheNewWholeFiles) {
    // In memory where possible: every save syncs its files.
    test::TempDir dir(test::MemoryBackedBase());
    // Large enough that a kill often lands inside its copy.
    std::string sound(2 << 20, '\0');
    for (std::size_t i = 0; i < sound.size(); ++i) sound[i] = static_cast<char>(i * 31 % 251);

    const std::string path = dir.file("Film/Film.kvproj");
    const fs::path audio = fs::path(path).parent_path() / "Audio";
    test::SavedProjectState state;
    state.project.events.resize(1);
    state.project.results.resize(1);
    state.description = "old";
    std::fflush(stdout);
    ASSERT_TRUE(state.Save(path));

    constexpr int kTrials = 30;
    int keptOld = 0, copiesCut = 0;
    for (int trial = 0; trial < kTrials; ++trial) {
        SCOPED_TRACE(trial);
        // A new sound each trial, so each trial's saves copy it.
        const std::string name = "take" + std::to_string(trial) + ".wav";
        const std::string source = dir.file("lib/" + name);
        ASSERT_TRUE(test::WriteBytes(source, sound));
        state.project.results[0].filepath = source;
        state.project.results[0].fileId.clear();

        std::fflush(stdout);
        const pid_t child = test::StartChild([&] {
            if (!std::freopen("/dev/null", "w", stdout)) return 1;
            for (int n = 0;; ++n) {
                state.description = n % 2 ? "new-odd" : "new-even";
                state.Save(path);
            }
        });
        std::this_thread::sleep_for(std::chrono::microseconds(2500 * trial));
        kill(child, SIGKILL);
        ASSERT_EQ(test::WaitForChild(child).signal, SIGKILL);

        test::SavedProjectState reopened;
        const ProjectLoadResult result = reopened.Open(path);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.damage, "") << "a torn project file";
        const std::string& description = reopened.description;
        EXPECT_TRUE(description == "old" || description == "new-odd" || description == "new-even") << description;
        if (description == "old") ++keptOld;
        if (fs::exists(audio / name)) {
            EXPECT_TRUE(test::ReadBytes((audio / name).string()) == sound) << "a partial copy under its final name";
        } else {
            ++copiesCut;
        }

        // The next save of the same project cleans up after the killed one.
        state.description = "old";
        std::fflush(stdout);
        ASSERT_TRUE(state.Save(path));
        EXPECT_EQ(CountTemporaries(fs::path(path).parent_path()), 0);
        EXPECT_TRUE(test::ReadBytes((audio / name).string()) == sound);
        EXPECT_FALSE(fs::exists(audio / ("take" + std::to_string(trial) + "_2.wav")))
            << "a cut copy kept the name for good";
        fs::remove(source);
    }
    // How the kills fell, for a reader of the log (not a condition).
    std::printf("[Trials] %d of %d kept the old project file, %d cut a copy\n", keptOld, kTrials, copiesCut);
}

}  // namespace
}  // namespace korvel
