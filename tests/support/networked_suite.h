// A gtest fixture base for suites that open sockets and read the property texts: the content is
// loaded and networking started once for the suite.
#pragma once

#include <gtest/gtest.h>

#include "platform/network.h"
#include "startup/embedded_content.h"

class NetworkedSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        loadEmbeddedContent();
        platform::startNetworking();
    }
    static void TearDownTestSuite() { platform::stopNetworking(); }
};
