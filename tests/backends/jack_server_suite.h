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
    static void SetUpTestSuite() {
        server_ = std::make_unique<JackTestServer>();
        std::string error;
        ASSERT_TRUE(server_->start(&error)) << error;
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override { ASSERT_TRUE(server_ && server_->running()); }

    static inline std::unique_ptr<JackTestServer> server_;
};

} // namespace strata::testing
