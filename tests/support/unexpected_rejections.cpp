// Built into every test program: a test fails on each request that a simulated camera refused
// unless the test asked for refusals (CameraCgi::ExpectRejections). A request the camera does
// not take is a fault of the driver or of the test, whichever sent it.
#include <gtest/gtest.h>

#include "camsim/camera_cgi.h"

namespace {

class UnexpectedRejectionCheck : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { camsim::TakeUnexpectedRejections(); }
    void OnTestEnd(const ::testing::TestInfo&) override {
        for (const std::string& line : camsim::TakeUnexpectedRejections())
            ADD_FAILURE() << "the simulated camera rejected a request: " << line;
    }
};

[[maybe_unused]] const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new UnexpectedRejectionCheck);
    return true;
}();

}  // namespace
