#pragma once
// The program's HTTP client: one synchronous request over libcurl, used only
// by the update check. Time-outs bound every wait; TLS peers are verified and
// redirects may lead only to https addresses.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace korvel {

struct HttpResponse {
    std::int32_t status = 0;  // 0 when no response was received
    std::string body;         // bytes as received, at most kHttpMaxBody
    // Empty on success, else "Bad URL", "HTTP client init failed",
    // "Connection failed", "Request timed out" or "HTTP error %d" (libcurl's
    // code).
    std::string error;
};

// A longer body makes the request fail: nothing the program fetches is near it.
inline constexpr std::size_t kHttpMaxBody = std::size_t{1} << 20;
inline constexpr const char* kHttpUserAgent = "Korvel/1.0";

// Every running request ends soon after this is set (curl's progress
// callback reads it). Set and cleared by the UI thread at shutdown, read by
// request threads.
extern std::atomic<bool> HttpAbortRequested;

// Once at start-up, before any thread may request: libcurl's global set-up.
// False when it failed; requests then report "HTTP client init failed".
bool InitHttpClient();

// GET without a body, POST with `body` as JSON. timeoutMs bounds resolving
// and connecting; the request fails as timed out once receiveTimeoutMs pass
// without a byte arriving (whole seconds, at least one).
HttpResponse HttpRequest(const std::string& url, const std::string* body, std::int32_t timeoutMs,
                         std::int32_t receiveTimeoutMs);

// HttpRequest(url, no body, 5 s, 10 s); installed as the HttpGet hook.
HttpResponse HttpGet(const std::string& url);

}  // namespace korvel
