// Loopback camera HTTP server and a client configured for it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "camsim/http_server.h"
#include "http/http_client.h"
#include "support/fake_driver.h"

namespace test {

class HttpTest : public ::testing::Test {
protected:
    void SetUp() override {
#if defined(_WIN32)
        if (UseTls())
            GTEST_SKIP() << "the simulator's Windows build has no TLS listener";
#endif
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
