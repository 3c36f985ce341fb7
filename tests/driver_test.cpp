#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <vector>

#include "driver/cleanup.h"
#include "files/acl.h"
#include "support.h"

namespace {

const std::string kUninstall =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6E2C41D8-93AF-4B07-A1C5-2F8D07E4B913}";

std::string Banner() {
  std::string rule(68, '#');
  return rule + "\n" + Cp932("#        製品情報フォルダ／レジストリ削除ツール「ZTXCleanUp」      #\n") + rule + "\n\n";
}
std::string Question() { return Cp932("製品情報フォルダ／レジストリを削除します。続行しますか？(y/n):"); }
std::string Again() { return Cp932("y/nで入力してください:"); }
std::string Cancelled() { return Cp932("処理はキャンセルされました\n"); }
std::string Restart() { return Cp932("\n終了後はOSを再起動してください"); }
std::string Closing() { return Cp932("\n何かキーを押すと終了します"); }

bool EditionWasProbed() {
  for (const sim::Call& c : sim::Calls())
    if (c.name == "RegOpenKeyExA" && c.args.find("KOBR_SE") != std::string::npos) return true;
  return false;
}

TEST(Banner, LinesAreSixtyEightBytesInCodePage932) {
  sim::Reset();
  std::string out = sim::RunWithConsole("", [] { PrintBanner(); });
  EXPECT_EQ(out, Banner());
  size_t first = out.find('\n');
  size_t second = out.find('\n', first + 1);
  EXPECT_EQ(first, 68u);
  EXPECT_EQ(second - first - 1, 68u);
}

struct DialogueRow {
  std::string input;
  int wrong_answers;
  bool confirmed;
};

class Dialogue : public ::testing::TestWithParam<DialogueRow> {};

TEST_P(Dialogue, AnswersAreWholeLinesComparedExactly) {
  sim::Reset(sim::Windows::WinXP);
  sim::SetConsole(false);
  RunResult r = RunTool(GetParam().input);
  std::string want = Banner() + Question();
  for (int i = 0; i < GetParam().wrong_answers; ++i) want += Again();
  want += GetParam().confirmed ? Restart() : Cancelled();
  want += Closing();
  EXPECT_EQ(r.out, want);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(EditionWasProbed(), GetParam().confirmed);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Dialogue,
    ::testing::Values(DialogueRow{"y\n", 0, true},
                      DialogueRow{"Y\n", 0, true},
                      DialogueRow{"n\n", 0, false},
                      DialogueRow{"N\n", 0, false},
                      DialogueRow{"yes\nY \n\nN\n", 3, false},
                      DialogueRow{" y\nn \nx\ny\n", 3, true},
                      DialogueRow{"y", 0, true},          // a last line without its line end
                      DialogueRow{"", 0, false},          // input ends at once: a cancel
                      DialogueRow{"maybe\nno\n", 2, false},  // input ends after wrong answers
                      // A NUL byte is part of its line: neither cuts it short nor joins two.
                      DialogueRow{std::string("y\0\n", 3), 1, false},
                      DialogueRow{std::string("x\0\nq\nn\n", 7), 2, false},
                      DialogueRow{std::string("\0\ny\0", 5), 2, false},
                      DialogueRow{std::string(70, 'y') + std::string("\0\nY\n", 4), 1, true},
                      DialogueRow{"yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy\ny\n",
                                  1, true}));

TEST(Run, FrameworkFailureEndsWithExitCodeOne) {
  sim::Reset();
  sim::FailAlways("GetModuleHandleA");
  char* err_buf = nullptr;
  size_t err_len = 0;
  FILE* err = open_memstream(&err_buf, &err_len);
  FILE* saved = stderr;
  stderr = err;
  RunResult r = RunTool("y\n");
  stderr = saved;
  fclose(err);
  std::string err_text(err_buf, err_len);
  free(err_buf);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(err_text, "Fatal Error: MFC initialization failed\n");
  EXPECT_EQ(sim::LoadCalls("advapi32"), 0);
}

TEST(Run, SharedAdvapiHandleLivesForTheRunOnly) {
  for (const char* input : {"y\n", "n\n"}) {
    sim::Reset(sim::Windows::WinXP);
    sim::SetConsole(false);
    RunTool(input);
    EXPECT_EQ(sim::LoadCalls("advapi32"), 1) << input;
    EXPECT_EQ(sim::LoadedCount("advapi32"), 0) << input;
    EXPECT_EQ(g_AdvapiModule, nullptr);
    // Loaded before the banner is printed.
    EXPECT_EQ(sim::Calls().at(1).name, "LoadLibraryA");
  }
  // A failed load is not reported and the run goes on.
  sim::Reset(sim::Windows::WinXP);
  sim::SetConsole(false);
  sim::FailCall("LoadLibraryA", 1);
  RunResult r = RunTool("y\n");
  EXPECT_EQ(r.out, Banner() + Question() + Restart() + Closing());
}

TEST(Run, GenerationAndBitnessAreProbedBeforeTheQuestion) {
  sim::Reset(sim::Windows::Win7, true);
  sim::SetConsole(false);
  std::map<std::string, long> printed_at;
  sim::ObserveCalls([&](const sim::Call& c) {
    if (c.name == "GetVersionExA" || c.name == "IsWow64Process") printed_at.emplace(c.name, ftell(stdout));
  });
  RunTool("n\n");
  long banner = static_cast<long>(Banner().size());
  EXPECT_EQ(printed_at, (std::map<std::string, long>{{"GetVersionExA", banner}, {"IsWow64Process", banner}}));
}

TEST(Run, KeyWaitTakesOneKeyFromAConsoleAndNeverWaitsWithoutOne) {
  sim::Reset(sim::Windows::WinXP);
  sim::QueueKey('a');
  sim::QueueKey('b');
  RunTool("n\n");
  EXPECT_EQ(sim::KeysLeft(), 1u);
  EXPECT_EQ(sim::CountCalls("_getch"), 1u);

  sim::Reset(sim::Windows::WinXP);
  sim::SetConsole(false);
  RunTool("n\n");
  EXPECT_EQ(sim::CountCalls("_kbhit"), 0u);
  EXPECT_EQ(sim::CountCalls("_getch"), 0u);
}

TEST(Run, EachResultLineFollowsFivePausesOfHalfASecond) {
  sim::Reset(sim::Windows::WinXP);
  sim::SetConsole(false);
  sim::RegSetString(kUninstall, "DisplayName", "");
  // How much has been printed when each pause begins: a dot shows only after
  // its pause.
  std::vector<long> printed_at_pause;
  sim::ObserveCalls([&](const sim::Call& c) {
    if (c.name == "Sleep") printed_at_pause.push_back(ftell(stdout));
  });
  RunResult r = RunTool("y\n");
  EXPECT_EQ(r.out, Banner() + Question() + "....." + Cp932("アンインストール情報レジストリを削除しました\n") +
                       Restart() + Closing());
  long before = static_cast<long>((Banner() + Question()).size());
  EXPECT_EQ(printed_at_pause, (std::vector<long>{before, before + 1, before + 2, before + 3, before + 4}));
  EXPECT_FALSE(sim::RegExists(kUninstall));
  EXPECT_EQ(sim::NowMs(), 2500u);
  size_t sleeps = 0;
  for (const sim::Call& c : sim::Calls()) {
    if (c.name != "Sleep") continue;
    EXPECT_EQ(c.args, "500");
    ++sleeps;
  }
  EXPECT_EQ(sleeps, 5u);
}

TEST(Run, UninstallKeyThatCannotBeDeletedGivesItsFailureLine) {
  sim::Reset(sim::Windows::WinXP);
  sim::SetConsole(false);
  sim::RegCreate(kUninstall + "\\Sub");
  sim::RegDenyDelete(kUninstall);
  RunResult r = RunTool("y\n");
  EXPECT_NE(r.out.find("....." + Cp932("アンインストール情報レジストリの削除に失敗しました\n")), std::string::npos);
  EXPECT_TRUE(sim::RegExists(kUninstall));
  EXPECT_EQ(r.exit_code, 0);
}

}  // namespace
