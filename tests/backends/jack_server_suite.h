#pragma once

#include "jack_test_server.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace strata::testing {

// A test suite that shares one private JACK server among its tests: started before the first,
// stopped after the last. Suites run one after another, so one slot serves every suite.
class JackServerSuite : public ::testing::Test {
protected:
    // A server that does not start fails every test of the suite: a failure in the suite's own
    // set-up would have GoogleTest skip them, and a skip passes unnoticed.
    static void SetUpTestSuite() {
        server_ = std::make_unique<JackTestServer>();
        startError_.clear();
        if (!server_->start(&startError_) && startError_.empty())
            startError_ = "the JACK server did not start";
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override { ASSERT_TRUE(server_ && server_->running()) << startError_; }

    static inline std::unique_ptr<JackTestServer> server_;
    static inline std::string startError_;
};

} // namespace strata::testing
