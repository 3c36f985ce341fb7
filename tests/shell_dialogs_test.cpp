// Nobody answers a dialog of an unattended run: the simulated shell shows
// one wherever Windows would (a confirmation, an error message, a security
// warning), and these tests record them instead of stopping the run.
#include <gtest/gtest.h>

#include "files/applets.h"
#include "install_fixture.h"
#include "simwin/machine_shell.h"
#include "support.h"

namespace {

// The companion starts without the shell's error boxes and without the
// security warning of a file that came with a download.
TEST(NoDialog, TheCompanionStartsWithoutOne) {
  const std::string dir = "C:\\Tools";
  const std::string companion = dir + "\\ztxins64.exe";
  struct Row {
    const char* comment;
    int zone;           // its Zone.Identifier, 0 for none
    bool a_program;     // the shell can start it
    bool gone_at_start; // removed between the tool's look and the start
    int result;
  } rows[] = {
      {"came with a download", 3, true, false, 1},
      {"is no program", 0, false, false, 0},
      {"gone by the time it is started", 0, true, true, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::Win7, true);
    sim::RecordDialogs();
    sim::SetCurrentDir(dir);
    sim::MkFile("C:\\Windows\\ztxlsp.dll");
    sim::MkFile(companion);
    if (row.zone != 0) sim::MarkDownloaded(companion, row.zone);
    if (row.a_program) sim::RegisterProgram(companion, [](const std::string&) { return DWORD{0}; });
    if (row.gone_at_start) sim::OnCall("ShellExecuteExA", 1, [&] { sim::MoveNode(companion, dir + "\\old.exe"); });
    int result = -1;
    sim::RunWithConsole("", [&] { result = RunCompanion64(1); });
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(sim::Dialogs(), std::vector<std::string>{});
    EXPECT_EQ(sim::OpenKernelHandles(), 0u);
  }
}

// Windows 98 and Me hand each folder to the shell: a whole run, one of
// whose files cannot go, shows no confirmation, no error message and not
// even a progress window.
TEST(NoDialog, TheShellDeletionsOf98AndMeShowNone) {
  for (sim::Windows kind : {sim::Windows::Win98, sim::Windows::WinMe}) {
    SCOPED_TRACE(static_cast<int>(kind));
    install::Installation inst(kind, false, 1);
    inst.Plant(install::FullInstall(1));
    sim::SetInUse(inst.AppDataFolder() + "\\logs\\filter.log");
    sim::RecordDialogs();
    RunResult r = RunTool("y\n");
    EXPECT_NE(r.out.find(install::text::Folders(false)), std::string::npos) << r.out;
    EXPECT_EQ(sim::CountCalls("SHFileOperationA"), 4u);  // two product folders, installer information, Start menu
    EXPECT_EQ(sim::Dialogs(), std::vector<std::string>{});
    EXPECT_EQ(sim::ProgressWindows(), std::vector<std::string>{});
    EXPECT_EQ(inst.BystandersHurt(), std::vector<std::string>{});
  }
}

}  // namespace
