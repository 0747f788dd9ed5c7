#include "app/update_check.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/http_client.h"
#include "support/local_http_server.h"

namespace korvel {
namespace {

using Kind = UpdateManifestResult::Kind;
using test::LocalHttpServer;

TEST(CompareVersions, Table) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"1.10", "1.9", 1},
        {"2026.8", "2026.8.0", 0},
        {"2026.8.1", "2026.8", 1},
        {"2026.8", "2026.8.1", -1},
        {"", "", 0},
        {"", "0.0", 0},
        {"2026.10", "2026.9", 1},
        // Long digit runs saturate instead of overflowing; beyond the limit
        // they compare equal, and still above any shorter number.
        {"99999999999999999999999", "99999999999999999999998", 0},
        {"99999999999999999999999", "9223372036854775806", 1},
        {"1.99999999999999999999999.1", "1.99999999999999999999999.2", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(CompareVersions(c.a, c.b), c.expected);
        EXPECT_EQ(CompareVersions(c.b, c.a), -c.expected);
    }
}

std::string Release(const std::string& version, const std::string& platformEntry, const std::string& extra = "") {
    return "{\"version\":\"" + version + "\",\"files\":{" + platformEntry + "}" + extra + "}";
}

TEST(UpdateManifest, Rules) {
    const std::string linuxFile = "\"linux\":{\"url\":\"https://x/dl\"}";
    struct Case {
        const char* name;
        std::string body;
        Kind kind;
        const char* version;
        const char* url;
        const char* diagnostic;  // prefix
    } cases[] = {
        {"not json", "{", Kind::Ignored, "", "", ""},
        {"not an object", "[1]", Kind::Ignored, "", "", ""},
        {"schema missing", "{\"releases\":[" + Release("2027.1", linuxFile) + "]}", Kind::Ignored, "", "",
         "[Update] manifest missing schemaVersion"},
        {"schema not a number", "{\"schemaVersion\":\"1\"}", Kind::Ignored, "", "",
         "[Update] manifest missing schemaVersion"},
        {"schema 2 skipped", "{\"schemaVersion\":2,\"releases\":[" + Release("2027.1", linuxFile) + "]}",
         Kind::Ignored, "", "", "[Update] manifest schemaVersion 2 > supported 1"},
        {"huge schema skipped", "{\"schemaVersion\":1e300}", Kind::Ignored, "", "",
         "[Update] manifest schemaVersion 2147483647 > supported 1"},
        {"schema 1.9 accepted", " \r\n\t{\"schemaVersion\":1.9,\"releases\":[" + Release("2027.1", linuxFile) + "]}",
         Kind::Newer, "2027.1", "https://x/dl", ""},
        {"releases missing", "{\"schemaVersion\":1}", Kind::Ignored, "", "", ""},
        {"releases empty", "{\"schemaVersion\":1,\"releases\":[]}", Kind::Ignored, "", "", ""},
        {"releases not an array", "{\"schemaVersion\":1,\"releases\":{}}", Kind::Ignored, "", "", ""},
        {"newest of two", "{\"schemaVersion\":1,\"releases\":[" + Release("2026.9", linuxFile) + "," +
                              Release("2026.10", linuxFile) + "]}",
         Kind::Newer, "2026.10", "https://x/dl", ""},
        {"newest lacks the platform",
         "{\"schemaVersion\":1,\"releases\":[" + Release("2027.5", "\"windows\":{\"url\":\"https://w\"}") + "," +
             Release("2027.1", linuxFile) + "]}",
         Kind::Newer, "2027.1", "https://x/dl", ""},
        {"no release for the platform",
         "{\"schemaVersion\":1,\"releases\":[" + Release("2027.5", "\"windows\":{}") + ",7,{\"version\":1}]}",
         Kind::NotNewer, "", "", "[Update] no release found for platform \"linux\"."},
        {"tie keeps the earlier",
         "{\"schemaVersion\":1,\"releases\":[" + Release("2027.1", "\"linux\":{\"url\":\"https://first\"}") + "," +
             Release("2027.1.0", "\"linux\":{\"url\":\"https://second\"}") + "]}",
         Kind::Newer, "2027.1", "https://first", ""},
        {"equal to the build", "{\"schemaVersion\":1,\"releases\":[" + Release("2026.8.1", linuxFile) + "]}",
         Kind::NotNewer, "", "", ""},
        {"no url takes changelogUrl",
         "{\"schemaVersion\":1,\"changelogUrl\":\"https://log\",\"releases\":[" + Release("2027.1", "\"linux\":{}") +
             "]}",
         Kind::Newer, "2027.1", "https://log", ""},
        {"empty url and no changelog", "{\"schemaVersion\":1,\"releases\":[" +
                                           Release("2027.1", "\"linux\":{\"url\":\"\"}") + "]}",
         Kind::Newer, "2027.1", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const UpdateManifestResult r = ReadUpdateManifest(c.body, "2026.8.1");
        EXPECT_EQ(r.kind, c.kind);
        EXPECT_EQ(r.version, c.version);
        EXPECT_EQ(r.url, c.url);
        EXPECT_EQ(r.diagnostic.rfind(c.diagnostic, 0), 0u) << r.diagnostic;
    }
}

TEST(UpdateManifest, DateAndNotesKeepOnlyStrings) {
    const std::string body = "{\"schemaVersion\":1,\"releases\":[" +
                             Release("2027.1", "\"linux\":{}",
                                     ",\"date\":\"2027-01-02\",\"notes\":[\"One\",3,null,\"Two \\u00e9\"]") +
                             "]}";
    const UpdateManifestResult r = ReadUpdateManifest(body, "2026.8.1");
    ASSERT_EQ(r.kind, Kind::Newer);
    EXPECT_EQ(r.date, "2027-01-02");
    ASSERT_EQ(r.notes.size(), 2u);
    EXPECT_EQ(r.notes[1], "Two \xC3\xA9");
    const UpdateManifestResult noNotes =
        ReadUpdateManifest("{\"schemaVersion\":1,\"releases\":[" +
                               Release("2027.1", "\"linux\":{}", ",\"date\":5,\"notes\":\"text\"") + "]}",
                           "2026.8.1");
    EXPECT_EQ(noNotes.date, "");
    EXPECT_TRUE(noNotes.notes.empty());
}

TEST(UpdateManifest, NotNewerClearsAnEarlierFind) {
    AppState state;
    UpdateManifestResult found;
    found.kind = Kind::Newer;
    found.version = "2027.1";
    found.url = "https://x";
    found.notes = {"a"};
    EXPECT_TRUE(ApplyUpdateManifestResult(state, std::move(found)));
    EXPECT_TRUE(state.updateInfo.updateAvailable);
    UpdateManifestResult ignored;
    EXPECT_FALSE(ApplyUpdateManifestResult(state, std::move(ignored)));
    EXPECT_EQ(state.updateInfo.version, "2027.1");
    UpdateManifestResult notNewer;
    notNewer.kind = Kind::NotNewer;
    EXPECT_TRUE(ApplyUpdateManifestResult(state, std::move(notNewer)));
    EXPECT_FALSE(state.updateInfo.updateAvailable);
    EXPECT_TRUE(state.updateInfo.version.empty());
    EXPECT_TRUE(state.updateInfo.notes.empty());
}

TEST(UpdateUrl, OnlyHttpsOpens) {
    EXPECT_TRUE(IsOpenableUpdateUrl("https://releases.example/x"));
    EXPECT_TRUE(IsOpenableUpdateUrl("HTTPS://releases.example/x"));
    for (const char* url : {"", "https://", "http://x", "file:///etc/passwd", "javascript:alert(1)",
                            "https://x/a b", "https://x/\n", " https://x"})
        EXPECT_FALSE(IsOpenableUpdateUrl(url)) << url;
}

// The check thread against a local server, reached through the HttpGet hook.
class UpdateCheckThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppState& state = GlobalAppState;
        state.updateInfo = UpdateInfo{};
        state.updateInfo.lastUpdateCheck = 5;
        state.PrefsSaveRequested.store(false);
    }
    void TearDown() override {
        StopUpdateCheck();
        GlobalAppState.platformHooks.HttpGetHook = nullptr;
    }
    void Route(LocalHttpServer& server, std::int32_t receiveTimeoutMs = 2000) {
        GlobalAppState.platformHooks.HttpGetHook = [&server, receiveTimeoutMs](HttpResponse& r, const std::string&) {
            r = HttpRequest(server.Url(), nullptr, 2000, receiveTimeoutMs);
        };
    }
    // Frames until the finding is taken.
    static bool FinishCheck() {
        for (int i = 0; i < 1000 && GlobalAppState.updateCheckRunning.load(); ++i) {
            TakeUpdateCheckResult();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return !GlobalAppState.updateCheckRunning.load();
    }
};

TEST_F(UpdateCheckThreadTest, ANewerReleaseIsHandedToTheFrame) {
    LocalHttpServer server([](LocalHttpServer&, int fd, const std::string&) {
        LocalHttpServer::Respond(fd, 200,
                                 "{\"schemaVersion\":1,\"releases\":[{\"version\":\"2099.1\",\"date\":\"d\","
                                 "\"notes\":[\"n\"],\"files\":{\"linux\":{\"url\":\"https://dl\"}}}]}");
    });
    Route(server);
    StartUpdateCheck();
    ASSERT_TRUE(GlobalAppState.updateCheckRunning.load());
    StartUpdateCheck();  // one at a time: the running one is not joined, none overlaps
    ASSERT_TRUE(FinishCheck());
    const UpdateInfo& info = GlobalAppState.updateInfo;
    EXPECT_GT(info.lastUpdateCheck, 5);
    EXPECT_TRUE(info.updateAvailable);
    EXPECT_EQ(info.version, "2099.1");
    EXPECT_EQ(info.url, "https://dl");
    EXPECT_TRUE(GlobalAppState.PrefsSaveRequested.load());
    EXPECT_EQ(server.Requests().size(), 1u);
    // The next check joins the finished thread and runs again.
    StartUpdateCheck();
    ASSERT_TRUE(FinishCheck());
    EXPECT_EQ(server.Requests().size(), 2u);
}

TEST_F(UpdateCheckThreadTest, NotFoundChangesOnlyTheTimeOfTheCheck) {
    LocalHttpServer server([](LocalHttpServer&, int fd, const std::string&) {
        LocalHttpServer::Respond(fd, 404, "{\"schemaVersion\":1,\"releases\":[]}");
    });
    GlobalAppState.updateInfo.updateAvailable = true;
    GlobalAppState.updateInfo.version = "2030.1";
    Route(server);
    StartUpdateCheck();
    ASSERT_TRUE(FinishCheck());
    const UpdateInfo& info = GlobalAppState.updateInfo;
    EXPECT_GT(info.lastUpdateCheck, 5);
    EXPECT_TRUE(info.updateAvailable);
    EXPECT_EQ(info.version, "2030.1");
    EXPECT_FALSE(GlobalAppState.PrefsSaveRequested.load());
}

TEST_F(UpdateCheckThreadTest, StopAbortsAndJoinsAStalledCheck) {
    LocalHttpServer server([](LocalHttpServer& s, int fd, const std::string&) { s.Stall(fd); });
    Route(server, 10000);
    StartUpdateCheck();
    while (server.Requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto before = std::chrono::steady_clock::now();
    StopUpdateCheck();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));  // not the 10 s stall
    EXPECT_FALSE(GlobalAppState.updateCheckRunning.load());
    TakeUpdateCheckResult();  // the aborted finding was dropped
    EXPECT_EQ(GlobalAppState.updateInfo.lastUpdateCheck, 5);
}

TEST_F(UpdateCheckThreadTest, WithoutTheHookNothingStarts) {
    GlobalAppState.platformHooks.HttpGetHook = nullptr;
    StartUpdateCheck();
    EXPECT_FALSE(GlobalAppState.updateCheckRunning.load());
}

TEST_F(UpdateCheckThreadTest, AutomaticCheckOnceADay) {
    int calls = 0;
    GlobalAppState.platformHooks.HttpGetHook = [&calls](HttpResponse&, const std::string&) { ++calls; };
    struct Case {
        bool enabled;
        std::int64_t sinceLast;
        int expectedCalls;
    } cases[] = {{true, 86400, 1}, {true, 86399, 0}, {false, 999999, 0}};
    for (const Case& c : cases) {
        calls = 0;
        GlobalAppState.updateCheckEnabled = c.enabled;
        GlobalAppState.updateInfo.lastUpdateCheck = 1000;
        MaybeStartAutomaticUpdateCheck(1000 + c.sinceLast);
        FinishCheck();
        EXPECT_EQ(calls, c.expectedCalls) << c.sinceLast;
    }
    GlobalAppState.updateCheckEnabled = true;
}

}  // namespace
}  // namespace korvel
