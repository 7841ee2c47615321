#include "image/embedded_image.h"

#include <gtest/gtest.h>

#include "support/run_to_exit.h"

namespace {

// The test program carries no image: the lookup must say so, not go on.
TEST(LoadEmbeddedImageTest, MissingResource) {
  const Outcome outcome = RunToExit([] { LoadEmbeddedImage(); });
  EXPECT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.text, "CODE RESOURCE NOT FOUND\nPress space to exit\n");
}

}  // namespace
