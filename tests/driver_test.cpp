#include <gtest/gtest.h>

#include "support.h"

TEST(Driver, SmokeCancel) {
  sim::Reset(sim::Windows::WinXP);
  sim::SetConsole(false);
  RunResult r = RunTool("n\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find(Cp932("処理はキャンセルされました\n")), std::string::npos);
}
