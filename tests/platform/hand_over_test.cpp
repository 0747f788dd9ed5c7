#include "platform/hand_over.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace korvel {
namespace {

std::string Header(std::uint32_t length) {
    std::string h = "KVFL";
    for (int shift = 24; shift >= 0; shift -= 8) h.push_back(static_cast<char>(length >> shift & 0xFF));
    return h;
}

TEST(HandOverMessage, Parsing) {
    using P = HandOverParse;
    struct Case {
        const char* name;
        std::string bytes;
        P expected;
        std::string path;
    };
    const std::string longPath(kHandOverMaxBytes - kHandOverHeaderBytes, 'a');
    const Case cases[] = {
        {"empty so far", "", P::NeedMore, ""},
        {"part of the code", "KV", P::NeedMore, ""},
        {"wrong code early", "XV", P::Invalid, ""},
        {"another code", "KVFX" + Header(3).substr(4) + "abc", P::Invalid, ""},
        {"code without length", "KVFL", P::NeedMore, ""},
        {"whole message", EncodeHandOverMessage("/p/film.kvproj"), P::Complete, "/p/film.kvproj"},
        {"path still arriving", Header(10) + "/p/fi", P::NeedMore, ""},
        {"zero length", Header(0), P::Invalid, ""},
        {"length past the cap", Header(kHandOverMaxBytes), P::Invalid, ""},
        {"largest allowed", Header(static_cast<std::uint32_t>(longPath.size())) + longPath, P::Complete, longPath},
        {"huge length", Header(0xFFFFFFFFu) + "x", P::Invalid, ""},
        {"terminating zero inside", Header(6) + std::string("/a.kv\0", 6), P::Complete, "/a.kv"},
        {"zero first", Header(3) + std::string("\0ab", 3), P::Invalid, ""},
        {"bytes after the message are ignored", EncodeHandOverMessage("/x") + "junk", P::Complete, "/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = "untouched";
        EXPECT_EQ(ParseHandOverMessage(c.bytes.data(), c.bytes.size(), path), c.expected);
        if (c.expected == P::Complete) {
            EXPECT_EQ(path, c.path);
        }
    }
}

// Every test gets its own runtime folder, so the socket is its own.
class HandOverTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        if (old != nullptr) saved_ = old;
        hadOld_ = old != nullptr;
        setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    }
    void TearDown() override {
        if (hadOld_) {
            setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
    }

    // A raw client connected to the listener's socket.
    int Connect() {
        bool abstract = false;
        const std::string name = HandOverSocketName(abstract);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.data(), name.size());
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }

    test::TempDir dir_;
    std::string saved_;
    bool hadOld_ = false;
};

TEST_F(HandOverTest, SocketLivesInTheRuntimeFolder) {
    bool abstract = true;
    const std::string name = HandOverSocketName(abstract);
    EXPECT_FALSE(abstract);
    EXPECT_EQ(name, dir_.path().string() + "/Korvel-" + std::to_string(getuid()) + ".sock");

    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(HandOverSocketName(abstract), "Korvel-" + std::to_string(getuid()));
    EXPECT_TRUE(abstract);
}

TEST_F(HandOverTest, SecondCopyHandsThePathOver) {
    HandOverListener listener;
    ASSERT_TRUE(listener.Open());
    EXPECT_TRUE(SendHandOver("/films/reel 1.KVPROJ"));
    std::string path;
    ASSERT_TRUE(listener.Poll(0.0, path));
    EXPECT_EQ(path, "/films/reel 1.KVPROJ");
    EXPECT_FALSE(listener.Poll(0.1, path));

    // Two copies before the next frame: both arrive, one per poll.
    EXPECT_TRUE(SendHandOver("/a.kvproj"));
    EXPECT_TRUE(SendHandOver("/b.kvproj"));
    std::string first;
    std::string second;
    EXPECT_TRUE(listener.Poll(0.2, first));
    EXPECT_TRUE(listener.Poll(0.3, second));
    EXPECT_EQ(first + " " + second, "/a.kvproj /b.kvproj");
}

// `korvel "Rainy Street.kvproj"` typed in the project's folder: the running
// copy, in a folder of its own, gets a path it can open.
TEST_F(HandOverTest, ARelativePathArrivesWhole) {
    const std::filesystem::path project = dir_.path() / "Rainy Street.kvproj";
    ASSERT_TRUE(test::WriteBytes(project.string(), "{}"));
    std::filesystem::create_directories(dir_.path() / "sub");
    const std::filesystem::path before = std::filesystem::current_path();
    HandOverListener listener;
    ASSERT_TRUE(listener.Open());
    struct Case {
        const char* name;
        std::filesystem::path senderFolder;
        const char* argument;
    };
    const Case cases[] = {
        {"in the project's folder", dir_.path(), "Rainy Street.kvproj"},
        {"from a folder below", dir_.path() / "sub", "../Rainy Street.kvproj"},
        {"already absolute", "/", project.c_str()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::current_path(c.senderFolder);
        const bool sent = SendHandOver(c.argument);
        std::filesystem::current_path("/");  // the running copy's folder
        EXPECT_TRUE(sent);
        std::string path;
        ASSERT_TRUE(listener.Poll(0.0, path));
        EXPECT_EQ(path, project.string());
        EXPECT_TRUE(std::filesystem::is_regular_file(path));
    }
    std::filesystem::current_path(before);
}

// With no runtime folder the name is abstract, which any local user can
// take: a listener running as another user is given nothing.
TEST_F(HandOverTest, AListenerOfAnotherUserGetsNoPath) {
    if (getuid() != 0) GTEST_SKIP() << "listening as another user needs root";
    unsetenv("XDG_RUNTIME_DIR");
    bool abstract = false;
    const std::string name = HandOverSocketName(abstract);
    ASSERT_TRUE(abstract);
    int ready[2];
    int hold[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(hold), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Another user takes this user's name and waits for paths.
        close(ready[0]);
        close(hold[1]);
        char ok = 0;
        if (setgid(65534) == 0 && setuid(65534) == 0) {
            const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path + 1, name.data(), name.size());
            const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
            if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(fd, 8) == 0) ok = 1;
        }
        if (write(ready[1], &ok, 1) != 1) _exit(1);
        char end = 0;
        while (read(hold[0], &end, 1) > 0) {
        }
        _exit(0);
    }
    close(ready[1]);
    close(hold[0]);
    char ok = 0;
    const bool listening = read(ready[0], &ok, 1) == 1 && ok == 1;
    const bool sent = listening && SendHandOver("/films/secret reel.kvproj");
    close(hold[1]);
    close(ready[0]);
    waitpid(child, nullptr, 0);
    ASSERT_TRUE(listening);
    EXPECT_FALSE(sent);
}

TEST_F(HandOverTest, NothingListeningMeansStartNormally) {
    EXPECT_FALSE(SendHandOver("/a.kvproj"));
    EXPECT_FALSE(SendHandOver(""));
}

TEST_F(HandOverTest, StaleSocketFileIsReplaced) {
    bool abstract = false;
    const std::string name = HandOverSocketName(abstract);
    {
        // A socket bound and closed without removing its file, as a crash leaves it.
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.data(), name.size());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        close(fd);
    }
    struct stat info{};
    ASSERT_EQ(stat(name.c_str(), &info), 0);
    EXPECT_FALSE(SendHandOver("/a.kvproj"));

    HandOverListener listener;
    ASSERT_TRUE(listener.Open());
    EXPECT_TRUE(SendHandOver("/a.kvproj"));
    std::string path;
    EXPECT_TRUE(listener.Poll(0.0, path));

    // A second listener finds the first alive and leaves it alone.
    HandOverListener second;
    EXPECT_FALSE(second.Open());
    EXPECT_TRUE(SendHandOver("/b.kvproj"));
    EXPECT_TRUE(listener.Poll(0.0, path));
    EXPECT_EQ(path, "/b.kvproj");

    listener.Close();
    EXPECT_NE(stat(name.c_str(), &info), 0) << "the socket file goes with the listener";
}

TEST_F(HandOverTest, BadSendersAreDroppedWithoutBlocking) {
    HandOverListener listener;
    ASSERT_TRUE(listener.Open());
    std::string path;

    // A partial message waits, then is dropped after a second.
    const int partial = Connect();
    ASSERT_GE(partial, 0);
    const std::string half = EncodeHandOverMessage("/slow.kvproj").substr(0, 10);
    ASSERT_EQ(write(partial, half.data(), half.size()), static_cast<ssize_t>(half.size()));
    EXPECT_FALSE(listener.Poll(10.0, path));
    EXPECT_EQ(listener.PendingConnections(), 1u);
    EXPECT_FALSE(listener.Poll(10.9, path));
    EXPECT_EQ(listener.PendingConnections(), 1u);
    EXPECT_FALSE(listener.Poll(11.1, path));
    EXPECT_EQ(listener.PendingConnections(), 0u);
    close(partial);

    // Not our code: dropped at once.
    const int wrong = Connect();
    ASSERT_GE(wrong, 0);
    ASSERT_EQ(write(wrong, "HELLO WORLD", 11), 11);
    EXPECT_FALSE(listener.Poll(20.0, path));
    EXPECT_EQ(listener.PendingConnections(), 0u);
    close(wrong);

    // A stated length past the cap: dropped without waiting for the bytes.
    const int big = Connect();
    ASSERT_GE(big, 0);
    const std::string header = Header(1u << 20);
    ASSERT_EQ(write(big, header.data(), header.size()), static_cast<ssize_t>(header.size()));
    EXPECT_FALSE(listener.Poll(30.0, path));
    EXPECT_EQ(listener.PendingConnections(), 0u);
    close(big);

    // A sender that closes half-way is dropped; a good one still gets through.
    const int quitter = Connect();
    ASSERT_GE(quitter, 0);
    ASSERT_EQ(write(quitter, half.data(), half.size()), static_cast<ssize_t>(half.size()));
    close(quitter);
    EXPECT_TRUE(SendHandOver("/good.kvproj"));
    std::string got;
    for (int i = 0; i < 3 && got.empty(); ++i) listener.Poll(40.0, got);
    EXPECT_EQ(got, "/good.kvproj");
    EXPECT_EQ(listener.PendingConnections(), 0u);
}

}  // namespace
}  // namespace korvel
