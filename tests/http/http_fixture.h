// Loopback camera HTTP server and a client configured for it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "camsim/http_server.h"
#include "http/auth_memory.h"
#include "http/http_client.h"
#include "support/fake_driver.h"
#include "support/wine.h"

namespace test {

// Why cases that need WinHTTP to answer a Digest challenge are skipped under Wine.
constexpr const char* WINE_LACKS_DIGEST =
    "Wine's WinHTTP answers no Digest challenge (do_authorization: invalid scheme), so the "
    "request goes again without credentials";

// Why the prompt release of a closed request's connection is not checked under Wine, only its
// release by the client's time-out.
constexpr const char* WINE_CLOSE_LEAVES_CONNECTION =
    "Wine's WinHttpCloseHandle does not cancel an operation in flight: the connection stays "
    "until WinHTTP's own time-out ends that operation";

// How long a closed request's connection may stay open: a close releases it at once, Wine's
// WinHTTP only at the end of the operation in flight, within the client's time-out.
inline unsigned ReleaseLimitMs(unsigned promptMs, unsigned timeoutMs) {
    return RunningUnderWine() ? timeoutMs + promptMs : promptMs;
}

class HttpTest : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(_WIN32)
        if (UseTls())
            GTEST_SKIP() << "the simulator's Windows build has no TLS listener";
#endif
        // Each case's camera starts unknown, even on a port an earlier case's camera had.
        norvane::Web::CAuthMemory::Shared().Clear();
        ASSERT_TRUE(server.Start(0, UseTls()));
        driver.info.port = server.Port();
    }

    virtual bool UseTls() const { return false; }

    std::unique_ptr<norvane::Web::CHttpClient> MakeClient() {
        return std::make_unique<norvane::Web::CHttpClient>(driver.info,
                                                           norvane::Web::HTTP_CLIENT_AGENT);
    }

    void Serve(const std::string& path, int status, const std::string& body) {
        server.Route(path, [=](const camsim::HttpRequest&) { return camsim::HttpReply::Text(status, body); });
    }

    // Requests of `path` are taken and never answered; the connection stays open.
    void ServeSilence(const std::string& path) {
        server.Route(path, [](const camsim::HttpRequest&) {
            camsim::HttpReply reply;
            reply.action = camsim::HttpReply::Action::Silent;
            return reply;
        });
    }

    void RequireAuth(camsim::HttpAuthConfig::Mode mode) {
        camsim::HttpAuthConfig auth;
        auth.mode = mode;
        auth.user = "admin";
        auth.password = "secret";
        server.SetAuth(auth);
        SetCredentials("admin", "secret");
    }

    void SetCredentials(const std::string& user, const std::string& password) {
        driver.info.userName = user;
        driver.info.password = password;
    }

    static std::string Text(const norvane::Web::ByteBuffer& buffer, uint32_t length) {
        return std::string(buffer.begin(), buffer.begin() + length);
    }

    camsim::HttpServer server;
    FakeDriver driver;
};

}  // namespace test
