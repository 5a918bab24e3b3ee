#include "ui/wx/wx_front_end.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(WxFrontEndTest, ADisplayThatCannotBeOpenedAsksForTheTerminal) {
  ::setenv("DISPLAY", "127.0.0.1:59999", 1);  // nothing listens there
  ::unsetenv("WAYLAND_DISPLAY");
  char name[] = "Lodestar";
  char* argv[] = {name, nullptr};
  UpdateSettings settings;
  settings.serverlist = "http://127.0.0.1:1/servers.txt";
  ::unsetenv("GDK_GL");
  EXPECT_EQ(RunWxFrontEnd(1, argv, settings), -1);
  // What the toolkit was told while it started stays out of the programs started later.
  EXPECT_EQ(std::getenv("GDK_GL"), nullptr);
}

}  // namespace
