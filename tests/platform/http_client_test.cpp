#include "platform/http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/child_process.h"
#include "support/local_http_server.h"
#include "support/temp_dir.h"

namespace korvel {
namespace {

using test::LocalHttpServer;

TEST(HttpClient, AnswersOfALocalServer) {
    enum class Answer { Manifest, NotFound, Stall, Endless, CloseMidBody, RedirectToHttp };
    struct Case {
        const char* name;
        Answer answer;
        std::int32_t expectedStatus;
        const char* expectedError;  // exact, or "*" for any failure
        std::size_t expectedBody;
    };
    const Case cases[] = {
        {"success", Answer::Manifest, 200, "", 17},
        {"404 is a response, not an error", Answer::NotFound, 404, "", 9},
        {"a stalled reply times out", Answer::Stall, 200, "Request timed out", 0},
        {"an endless body fails at the cap", Answer::Endless, 200, "*", kHttpMaxBody},
        {"a close mid-body fails", Answer::CloseMidBody, 200, "*", 10},
        {"a redirect to plain http is not followed", Answer::RedirectToHttp, 302, "*", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LocalHttpServer server([&](LocalHttpServer& s, int fd, const std::string&) {
            switch (c.answer) {
                case Answer::Manifest: LocalHttpServer::Respond(fd, 200, "{\"schemaVersion\":1}"); break;
                case Answer::NotFound: LocalHttpServer::Respond(fd, 404, "not found"); break;
                case Answer::Stall: s.Stall(fd); break;
                case Answer::Endless: s.Endless(fd); break;
                case Answer::CloseMidBody: LocalHttpServer::CloseMidBody(fd, 1000, 10); break;
                case Answer::RedirectToHttp:
                    LocalHttpServer::Respond(fd, 302, "", "Location: " + s.Url("/elsewhere") + "\r\n");
                    break;
            }
        });
        const HttpResponse response = HttpRequest(server.Url(), nullptr, 2000, 1000);
        EXPECT_EQ(response.status, c.expectedStatus);
        if (std::string(c.expectedError) == "*") {
            EXPECT_FALSE(response.error.empty());
        } else {
            EXPECT_EQ(response.error, c.expectedError);
        }
        if (c.answer == Answer::Manifest) {
            EXPECT_EQ(response.body, "{\"schemaVersion\":1}");
        } else if (c.answer == Answer::Endless) {
            // Stopped at the write that would pass the cap.
            EXPECT_GT(response.body.size(), c.expectedBody - 65536);
        } else if (c.answer != Answer::Stall) {
            EXPECT_EQ(response.body.size(), c.expectedBody);
        }
        EXPECT_LE(response.body.size(), kHttpMaxBody);
        EXPECT_EQ(server.Requests().size(), 1u);  // a redirect never reaches /elsewhere
    }
}

TEST(HttpClient, GetAndPostRequests) {
    LocalHttpServer server([](LocalHttpServer&, int fd, const std::string&) {
        LocalHttpServer::Respond(fd, 200, "ok");
    });
    const HttpResponse get = HttpGet(server.Url());
    ASSERT_EQ(get.error, "");
    const std::string json = "{\"a\":1}";
    const HttpResponse post = HttpRequest(server.Url("/post"), &json, 2000, 2000);
    ASSERT_EQ(post.error, "");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].rfind("GET /releases/changelog.json HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(requests[0].find("User-Agent: Korvel/1.0\r\n"), std::string::npos);
    EXPECT_EQ(requests[1].rfind("POST /post HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(requests[1].find("Content-Type: application/json\r\n"), std::string::npos);
    EXPECT_EQ(requests[1].substr(requests[1].size() - json.size()), json);
}

// A port nothing listens on: bound, then closed.
std::uint16_t FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

TEST(HttpClient, RequestsThatNeverReachAServer) {
    const std::string refused = "http://127.0.0.1:" + std::to_string(FreePort()) + "/x";
    struct Case {
        std::string url;
        const char* error;
    } cases[] = {
        {"", "Bad URL"},
        {"not a url at all", "Bad URL"},
        {"ftp://127.0.0.1/x", "Bad URL"},
        {"http://127.0.0.1/" + std::string(1100, 'a'), "Bad URL"},
        {refused, "Connection failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.substr(0, 40));
        const HttpResponse response = HttpRequest(c.url, nullptr, 2000, 2000);
        EXPECT_EQ(response.status, 0);
        EXPECT_EQ(response.error, c.error);
    }
}

TEST(HttpClient, AbortEndsAStalledRequest) {
    LocalHttpServer server([](LocalHttpServer& s, int fd, const std::string&) { s.Stall(fd); });
    HttpResponse response;
    std::thread request([&] { response = HttpRequest(server.Url(), nullptr, 5000, 10000); });
    while (server.Requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    HttpAbortRequested.store(true);
    request.join();  // well within the 10 s the stall would take
    HttpAbortRequested.store(false);
    EXPECT_FALSE(response.error.empty());
    EXPECT_NE(response.error, "Request timed out");
}

// A TLS server with a certificate no authority signed: the request is refused.
TEST(HttpClient, SelfSignedCertificateIsRefused) {
    test::TempDir dir;
    const std::string key = dir.file("key.pem");
    const std::string cert = dir.file("cert.pem");
    const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + key + "' -out '" + cert +
                             "' -days 1 -subj /CN=127.0.0.1 >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0) << "openssl is needed (scripts/deps.sh installs it)";
    const std::uint16_t port = FreePort();
    const pid_t server = test::StartChild([&] {
        const std::string accept = std::to_string(port);
        execlp("openssl", "openssl", "s_server", "-quiet", "-www", "-accept", accept.c_str(), "-cert", cert.c_str(),
               "-key", key.c_str(), static_cast<char*>(nullptr));
        return 127;
    });
    // Wait until it listens.
    bool listening = false;
    for (int i = 0; i < 200 && !listening; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        listening = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        if (!listening) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    HttpResponse response;
    if (listening) response = HttpRequest("https://127.0.0.1:" + std::to_string(port) + "/", nullptr, 3000, 3000);
    kill(server, SIGTERM);
    test::WaitForChild(server);
    ASSERT_TRUE(listening);
    EXPECT_EQ(response.status, 0);
    EXPECT_FALSE(response.error.empty());
    EXPECT_TRUE(response.body.empty());
}

}  // namespace
}  // namespace korvel
