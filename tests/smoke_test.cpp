#include <gtest/gtest.h>

#include "midifolio/midifolio.h"

using namespace midifolio;

TEST(Library, ReportsItsVersion) { EXPECT_STREQ(GetVersion(), "0.1.0"); }
