#include <gtest/gtest.h>

#include "probes/probes.h"
#include "simwin/machine_shell.h"
#include "support.h"

namespace {

const std::string kQuestion = "製品情報フォルダ／レジストリを削除します。続行しますか？(y/n):";
const std::string kInfo =
    "\\InstallShield Installation Information\\{6E2C41D8-93AF-4B07-A1C5-2F8D07E4B913}";
const std::string kUninstall = std::string("HKLM\\") + kUninstallKey;

// The bytes after the question, which every run prints first.
std::string AfterQuestion(const std::string& out) {
  size_t at = out.find(Cp932(kQuestion));
  return at == std::string::npos ? "<no question>" : out.substr(at + Cp932(kQuestion).size());
}

TEST(WholeRun, XpWithoutProductFolderPrintsEveryStep) {
  sim::Reset(sim::Windows::WinXP);
  sim::SetConsole(false);
  const std::string programs = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs";
  sim::RegCreate("HKLM\\SOFTWARE\\Varlume\\ZTX");
  sim::RegCreate("HKLM\\SOFTWARE\\Varlume\\Other");
  sim::RegSetString("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "OtherTool", "x");
  sim::MkFile("C:\\WINDOWS\\system32\\ztxcfg.cpl");
  sim::MkFile("C:\\WINDOWS\\ztxlsp.dll");
  sim::MkFile("C:\\Program Files" + kInfo + "\\setup.ini");
  sim::MkFile("C:\\Program Files\\InstallShield Installation Information\\{OTHER}\\setup.ini");
  sim::RegSetString(kUninstall, "DisplayName", "ZTX Filter");
  sim::MkFile(programs + "\\ZTX Filter\\ZTX.lnk");
  sim::MkFile(programs + "\\Accessories\\Notepad.lnk");

  RunResult r = RunTool("y\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(AfterQuestion(r.out),
            Cp932(".....製品レジストリを削除しました\n"
                  ".....コントロールパネルを削除しました\n"
                  ".....LSPを削除しました\n"
                  ".....アンインストール情報フォルダを削除しました\n"
                  ".....アンインストール情報レジストリを削除しました\n"
                  "\n終了後はOSを再起動してください"
                  "\n何かキーを押すと終了します"));
  EXPECT_FALSE(sim::Exists(programs + "\\ZTX Filter"));
  EXPECT_FALSE(sim::RegExists(kUninstall));
  EXPECT_FALSE(sim::Exists("C:\\Program Files" + kInfo));
  EXPECT_TRUE(sim::Exists("C:\\Program Files\\InstallShield Installation Information\\{OTHER}\\setup.ini"));
  EXPECT_TRUE(sim::Exists(programs + "\\Accessories\\Notepad.lnk"));
  EXPECT_TRUE(sim::RegExists("HKLM\\SOFTWARE\\Varlume\\Other"));
  EXPECT_TRUE(sim::RegValueExists("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "OtherTool"));
}

TEST(WholeRun, SixtyFourBitWithProductFolderAndNoCompanion) {
  sim::Reset(sim::Windows::Win7, true);
  sim::SetConsole(false);
  sim::RegCreate("HKLM\\SOFTWARE\\Varlume\\ZTX");
  sim::RegCreate("HKLM\\SOFTWARE\\Varlume\\Sibling");
  // The product folder of edition 0 under the 32-bit Program Files folder.
  sim::MkFile("C:\\Program Files (x86)\\ORVA\\GX_LT\\logs\\filter.log");
  sim::MkFile("C:\\Program Files (x86)\\ORVA\\Other\\keep.txt");
  sim::MkFile("C:\\Windows\\ztxlsp.dll");

  RunResult r = RunTool("y\n");
  EXPECT_EQ(AfterQuestion(r.out),
            Cp932(".....製品レジストリ(64bit)を削除しました\n"
                  ".....製品フォルダを削除しました\n"
                  "\n使用中のファイルが削除できていないため\nOS再起動後もう１度実行してください"
                  "\n何かキーを押すと終了します"));
  EXPECT_FALSE(sim::Exists("C:\\Program Files (x86)\\ORVA\\GX_LT"));
  EXPECT_TRUE(sim::Exists("C:\\Program Files (x86)\\ORVA\\Other\\keep.txt"));
  EXPECT_TRUE(sim::Exists("C:\\Windows\\ztxlsp.dll")) << "no companion, no DLL deletion";
  EXPECT_TRUE(sim::RegExists("HKLM\\SOFTWARE\\Varlume"));
  EXPECT_TRUE(sim::RegSubkeys("HKLM\\SOFTWARE\\Varlume").empty());
}

}  // namespace
