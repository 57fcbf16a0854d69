#pragma once

// A fresh stand-in server for every test.

#include <gtest/gtest.h>

#include <brisalune/standin/server.hpp>

namespace brisalune::testkit {

class StandinTest : public ::testing::Test {
protected:
    standin::Server server;
};

}  // namespace brisalune::testkit
