#include "platform/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace korvel {

std::atomic<bool> HttpAbortRequested{false};

namespace {

std::once_flag GlobalInitOnce;       // libcurl's global set-up runs once
std::atomic<bool> GlobalInitOk{false};  // written once under GlobalInitOnce

struct Transfer {
    std::string* body = nullptr;
    bool overflow = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (transfer->body->size() + bytes > kHttpMaxBody) {
        transfer->overflow = true;
        return 0;  // curl ends the transfer with a write error
    }
    transfer->body->append(data, bytes);
    return bytes;
}

int Progress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return HttpAbortRequested.load(std::memory_order_acquire) ? 1 : 0;
}

std::string ErrorText(CURLcode code) {
    switch (code) {
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL: return "Bad URL";
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT: return "Connection failed";
        case CURLE_OPERATION_TIMEDOUT: return "Request timed out";
        default: break;
    }
    char text[32];
    std::snprintf(text, sizeof text, "HTTP error %d", static_cast<int>(code));
    return text;
}

}  // namespace

bool InitHttpClient() {
    std::call_once(GlobalInitOnce, [] {
        GlobalInitOk.store(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK, std::memory_order_release);
    });
    return GlobalInitOk.load(std::memory_order_acquire);
}

HttpResponse HttpRequest(const std::string& url, const std::string* body, std::int32_t timeoutMs,
                         std::int32_t receiveTimeoutMs) {
    HttpResponse response;
    if (url.empty() || url.size() > 1024) {
        response.error = "Bad URL";
        return response;
    }
    CURL* curl = InitHttpClient() ? curl_easy_init() : nullptr;
    if (curl == nullptr) {
        response.error = "HTTP client init failed";
        return response;
    }
    Transfer transfer{&response.body};
    curl_slist* headers = nullptr;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kHttpUserAgent);
    // Signals are no way to time out a request on a thread of its own.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(timeoutMs, 1)));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(std::max((receiveTimeoutMs + 999) / 1000, 1)));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
    if (body != nullptr) {
        headers = curl_slist_append(headers, "Content-Type: application/json");
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->data());
    }

    const CURLcode code = HttpAbortRequested.load(std::memory_order_acquire) ? CURLE_ABORTED_BY_CALLBACK
                                                                            : curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<std::int32_t>(status);
    if (code != CURLE_OK) response.error = ErrorText(code);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return response;
}

HttpResponse HttpGet(const std::string& url) { return HttpRequest(url, nullptr, 5000, 10000); }

}  // namespace korvel
