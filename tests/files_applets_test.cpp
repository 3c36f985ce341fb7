#include <gtest/gtest.h>

#include "files/applets.h"
#include "lsp/setup.h"
#include "simwin/machine_shell.h"
#include "simwin/machine_winsock.h"
#include "support.h"

namespace {

std::string Dots() { return "....."; }

// Output of f, with standard input empty.
std::string Output(const std::function<void()>& f) { return sim::RunWithConsole("", f); }

// The product's layered entry, listed in the catalog this process sees.
void ListProductLsp(sim::Catalog which) {
  std::vector<sim::ProviderEntry> entries = sim::BaseProviders();
  sim::ProviderEntry lsp;
  lsp.id = 2001;
  lsp.guid = ProductLspGuid;
  lsp.chain_len = 0;
  lsp.name = u"ZTX LSP";
  lsp.path = u"%SystemRoot%\\ztxlsp.dll";
  entries.push_back(lsp);
  sim::SetCatalog(entries, which);
}

TEST(LspDlls, SixtyFourBitDllFirstAndTheGateHoldsBoth) {
  const std::string win = "C:\\WINDOWS\\";
  struct Row {
    const char* comment;
    bool plant64, plant32, in_use64, listed;
    int result;
    bool left64, left32;
    std::string out;
  } rows[] = {
      {"neither present: silent success", false, false, false, false, 1, false, false, ""},
      {"only the 32-bit DLL", false, true, false, false, 1, false, false, Dots() + Cp932("LSPを削除しました\n")},
      {"64-bit DLL in use leaves the 32-bit one", true, true, true, false, 0, true, true, Dots() + Cp932("LSPの削除に失敗しました\n")},
      {"product LSP still listed", true, true, false, true, 0, true, true, Dots() + Cp932("LSPの削除に失敗しました\n")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::WinXP);
    sim::MkFile(win + "otherlsp.dll");
    if (row.plant64) sim::MkFile(win + "ztxlsp64.dll");
    if (row.plant32) sim::MkFile(win + "ztxlsp.dll");
    if (row.in_use64) sim::SetInUse(win + "ztxlsp64.dll");
    if (row.listed) ListProductLsp(sim::Catalog::Native);
    int result = -1;
    EXPECT_EQ(Output([&] { result = DeleteLspDlls(1); }), row.out);
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(sim::Exists(win + "ztxlsp64.dll"), row.left64);
    EXPECT_EQ(sim::Exists(win + "ztxlsp.dll"), row.left32);
    EXPECT_TRUE(sim::Exists(win + "otherlsp.dll"));
    EXPECT_EQ(Output([&] { result = DeleteLspDlls(0); }), "") << "verbose 0 is silent";
  }
}

TEST(Applet, ThirtyTwoBitAppletAndItsFailure) {
  const std::string sys = "C:\\WINDOWS\\system32\\";
  for (bool in_use : {false, true}) {
    sim::Reset(sim::Windows::WinXP);
    sim::MkFile(sys + "ztxcfg.cpl");
    sim::MkFile(sys + "other.cpl");
    if (in_use) sim::SetInUse(sys + "ztxcfg.cpl");
    int result = -1;
    std::string out = Output([&] { result = DeleteControlPanelApplet(1); });
    EXPECT_EQ(out, Dots() + Cp932(in_use ? "コントロールパネルの削除に失敗しました\n" : "コントロールパネルを削除しました\n"));
    EXPECT_EQ(result, in_use ? 0 : 1);
    EXPECT_EQ(sim::Exists(sys + "ztxcfg.cpl"), in_use);
    EXPECT_TRUE(sim::Exists(sys + "other.cpl"));
  }
}

TEST(Applet, SixtyFourBitAppletWithRedirectionOffAndAlwaysBack) {
  const std::string native = "C:\\Windows\\system32\\ztxcfg64.cpl";
  const std::string wow = "C:\\Windows\\SysWOW64\\ztxcfg64.cpl";
  struct Row {
    const char* comment;
    std::function<void()> arrange;
    int result;
    bool native_left;
    std::string out;
  } rows[] = {
      {"deleted from the native folder", [] {}, 1, false, Dots() + Cp932("コントロールパネル(64bit)を削除しました\n")},
      {"in use: its line, still success", [&] { sim::SetInUse(native); }, 1, true,
       Dots() + Cp932("コントロールパネル(64bit)の削除に失敗しました\n")},
      {"redirection cannot be switched off", [] { sim::FailAlways("Wow64DisableWow64FsRedirection"); }, 1, true, ""},
      {"entry points missing", [] { sim::RemoveExport("kernel32", "Wow64RevertWow64FsRedirection"); }, 0, true, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::Win7, true);
    sim::MkFile(native);
    sim::MkFile(wow);
    row.arrange();
    int result = -1;
    EXPECT_EQ(Output([&] { result = DeleteControlPanelApplet64(1); }), row.out);
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(sim::Exists(native), row.native_left);
    EXPECT_TRUE(sim::Exists(wow));
    EXPECT_FALSE(sim::RedirectionDisabled());
    EXPECT_EQ(sim::LoadedCount("kernel32"), 0);
  }
}

TEST(Companion, DllsGoOnlyAfterTheCompanionExitedWithZero) {
  const std::string tool_dir = "C:\\Tools";
  const std::string win = "C:\\Windows\\";
  struct Row {
    const char* comment;
    bool present, registered, listed, removes_lsp;
    DWORD exit_code;
    int result;
    bool dlls_left;
    std::string out;
  } rows[] = {
      {"missing", false, false, true, false, 0, 0, true, Dots() + Cp932("LSPの削除に失敗しました。ztxins64.exeがみつかりません\n")},
      {"removes the LSP, ends with 0", true, true, true, true, 0, 1, false, Dots() + Cp932("LSPを削除しました\n")},
      // Only its exit code 0 says that the 64-bit catalog no longer lists
      // ztxlsp64.dll; the 32-bit catalog the tool sees proves nothing there.
      {"removes the LSP, ends with 3", true, true, true, true, 3, 0, true, Dots() + Cp932("LSPの削除に失敗しました\n")},
      {"ends leaving the LSP listed", true, true, true, false, 0, 0, true, Dots() + Cp932("LSPの削除に失敗しました\n")},
      {"cannot start", true, false, false, false, 0, 0, true, Dots() + Cp932("LSPの削除に失敗しました\n")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.comment);
    sim::Reset(sim::Windows::Win7, true);
    sim::SetCurrentDir(tool_dir);
    sim::MkFile(win + "ztxlsp.dll");
    sim::MkFile(win + "ztxlsp64.dll");
    if (row.listed) ListProductLsp(sim::Catalog::Wow32);
    if (row.present) sim::MkFile(tool_dir + "\\ztxins64.exe");
    if (row.registered)
      sim::RegisterProgram(tool_dir + "\\ztxins64.exe", [&](const std::string&) {
        if (row.removes_lsp) sim::SetCatalog(sim::BaseProviders(), sim::Catalog::Wow32);
        return row.exit_code;
      });
    int result = -1;
    EXPECT_EQ(Output([&] { result = RunCompanion64(1); }), row.out);
    EXPECT_EQ(result, row.result);
    EXPECT_EQ(sim::Exists(win + "ztxlsp.dll"), row.dlls_left);
    EXPECT_EQ(sim::Exists(win + "ztxlsp64.dll"), row.dlls_left);
    ASSERT_EQ(sim::ProgramStarts().size(), row.present ? 1u : 0u);
    if (row.present) {
      const sim::ProgramStart& s = sim::ProgramStarts()[0];
      EXPECT_EQ(s.verb, "open");
      EXPECT_EQ(s.parameters, "-f");
      EXPECT_EQ(s.show, SW_HIDE);
      EXPECT_EQ(s.mask, SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS);
      EXPECT_EQ(s.directory, "(null)");
      EXPECT_FALSE(s.has_owner);
    }
    EXPECT_EQ(sim::OpenKernelHandles(), 0u);
  }
}

// However long the companion runs, the DLLs are looked at only after it has
// ended: it may still be taking the provider out of the catalog.
TEST(Companion, DllsWaitForTheCompanionToEnd) {
  const std::string tool_dir = "C:\\Tools";
  const std::string win = "C:\\Windows\\";
  const DWORD kRunMs = 20 * 60 * 1000;
  sim::Reset(sim::Windows::Win7, true);
  sim::SetCurrentDir(tool_dir);
  sim::MkFile(win + "ztxlsp.dll");
  sim::MkFile(win + "ztxlsp64.dll");
  sim::MkFile(tool_dir + "\\ztxins64.exe");
  sim::RegisterProgram(tool_dir + "\\ztxins64.exe", [](const std::string&) { return DWORD{0}; }, kRunMs);
  uint64_t first_deletion_at = 0;
  sim::ObserveCalls([&](const sim::Call& c) {
    if (c.name == "DeleteFileA" && first_deletion_at == 0) first_deletion_at = sim::NowMs();
  });
  int result = -1;
  Output([&] { result = RunCompanion64(1); });
  EXPECT_EQ(result, 1);
  EXPECT_GE(first_deletion_at, kRunMs);
  EXPECT_FALSE(sim::Exists(win + "ztxlsp64.dll"));
  EXPECT_EQ(sim::OpenKernelHandles(), 0u);
}

}  // namespace
