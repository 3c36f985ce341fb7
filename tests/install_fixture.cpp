#include "install_fixture.h"

#include <algorithm>
#include <stdexcept>

#include "lsp_catalog.h"
#include "simwin/machine_process.h"
#include "simwin/machine_shell.h"
#include "simwin/machine_winsock.h"
#include "support.h"

namespace install {

namespace {

const char kInstallInfoName[] =
    "InstallShield Installation Information\\{6E2C41D8-93AF-4B07-A1C5-2F8D07E4B913}";
const char kUninstallBelowSoftware[] =
    "Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6E2C41D8-93AF-4B07-A1C5-2F8D07E4B913}";
const char kAppletBelowSoftware[] =
    "Microsoft\\Windows\\CurrentVersion\\Control Panel\\Extended Properties\\"
    "{305CA226-D286-468e-B848-2B2E8E697B74} 2";
const char kRunBelowSoftware[] = "Microsoft\\Windows\\CurrentVersion\\Run";
const char kCurrentDir[] = "C:\\ZTX Tools";

const Machine kMachines[] = {
    {"Windows 95", sim::Windows::Win95, false, 0},
    {"Windows 98", sim::Windows::Win98, false, 1},
    {"Windows Me", sim::Windows::WinMe, false, 2},
    {"Windows 2000", sim::Windows::Win2000, false, 3},
    {"Windows XP", sim::Windows::WinXP, false, 4},
    {"Server 2003", sim::Windows::Server2003, false, 0},
    {"Windows Vista", sim::Windows::Vista, false, 5},
    {"Windows 7", sim::Windows::Win7, false, 6},
    {"XP x64", sim::Windows::XP64, true, 0},
    {"Windows Vista 64-bit", sim::Windows::Vista, true, 5},
    {"Windows 7 64-bit", sim::Windows::Win7, true, 6},
    {"Windows 10 64-bit", sim::Windows::Win10, true, 0},
};

std::string SpecialFolder(int csidl) {
  char path[MAX_PATH] = "";
  return SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE) ? path : "";
}

std::string Dword(DWORD v) { return std::to_string(v); }

const char* OemKey(int edition) {
  return edition == 1 ? "Corda_Vale\\KOBR_SE" : edition == 2 ? "ORVA\\GX_LT" : nullptr;
}
const char* OemFolder(int edition) {
  return edition == 1 ? "Corda Vale\\KOBR_SE" : edition == 2 ? "ORVA\\GX_LT" : nullptr;
}
const char* DisplayName(int edition) {
  return edition == 1 ? "KOBR SE" : edition == 2 ? "GX LT" : "ZTX Web Filter";
}

bool ListsIds(sim::Catalog which, const std::vector<sim::ProviderEntry>& wanted) {
  std::vector<sim::ProviderEntry> now = sim::CatalogEntries(which);
  for (const sim::ProviderEntry& w : wanted) {
    bool found = false;
    for (const sim::ProviderEntry& e : now) found = found || (e.id == w.id && sim::SameGuid(e.guid, w.guid));
    if (!found) return false;
  }
  return true;
}

std::vector<sim::ProviderEntry> OtherLsp() {
  return {lsptest::Layered(3001, lsptest::kOtherLsp, u"Other Layered"),
          lsptest::Chain(3002, lsptest::kOtherLsp, {3001, 1004}, u"Other over TCPv6")};
}

std::vector<sim::Catalog> CatalogsOf(bool windows_64) {
  if (windows_64) return {sim::Catalog::Wow32, sim::Catalog::Native};
  return {sim::Catalog::Native};
}

}  // namespace

unsigned FullInstall(int edition) { return edition == 0 ? kAll & ~(kFolder | kAppData) : kAll; }

const Machine& MachineOf(sim::Windows kind, bool windows_64) {
  for (const Machine& m : kMachines)
    if (m.kind == kind && m.windows_64 == windows_64) return m;
  throw std::invalid_argument("no such machine in the table");
}

std::vector<sim::ProviderEntry> ProductEntries() {
  return {lsptest::Layered(2001, lsptest::kProduct),
          lsptest::Chain(2002, lsptest::kProductChains, {2001, 1001}, u"ZTX over TCP"),
          lsptest::Chain(2003, lsptest::kProduct, {2001, 1002}, u"ZTX over UDP")};
}

std::vector<std::string> ProductEntriesListed(sim::Catalog which) {
  GUID product = sim::ParseGuid(lsptest::kProduct);
  std::vector<std::string> r;
  for (const sim::ProviderEntry& e : sim::CatalogEntries(which)) {
    bool on_product = !e.chain.empty() && e.chain[0] == 2001 && e.chain_len > 1;
    if (sim::SameGuid(e.guid, product) || on_product || (e.id >= 2001 && e.id <= 2003))
      r.push_back(Dword(e.id));
  }
  return r;
}

Installation::Installation(sim::Windows kind, bool windows_64, int edition)
    : machine_(MachineOf(kind, windows_64)), edition_(edition) {
  sim::Reset(kind, windows_64);
  sim::SetConsole(false);
  sim::SetCurrentDir(kCurrentDir);
  char dir[MAX_PATH] = "";
  GetWindowsDirectoryA(dir, MAX_PATH);
  windows_dir_ = dir;
  GetSystemDirectoryA(dir, MAX_PATH);
  system_dir_ = dir;  // as the tool is told it; System32 for a WOW64 tool
  std::vector<uint8_t> pf = sim::RegValueData(Key("Microsoft\\Windows\\CurrentVersion"), "ProgramFilesDir");
  program_files_.assign(pf.begin(), std::find(pf.begin(), pf.end(), 0));
  bool per_user = machine_.generation == 1 || machine_.generation == 2;
  app_data_ = SpecialFolder(per_user ? CSIDL_APPDATA : CSIDL_COMMON_APPDATA);
  programs_ = SpecialFolder(per_user ? CSIDL_PROGRAMS : CSIDL_COMMON_PROGRAMS);
  // Windows 95 has no all-users folders: its installer used the user's.
  if (app_data_.empty()) app_data_ = SpecialFolder(CSIDL_APPDATA);
  if (programs_.empty()) programs_ = SpecialFolder(CSIDL_PROGRAMS);
  PlantBystanders();
  sim::ClearCalls();
}

std::string Installation::Key(const std::string& below_software) const {
  return std::string(machine_.windows_64 ? "HKLM\\SOFTWARE\\Wow6432Node\\" : "HKLM\\SOFTWARE\\") +
         below_software;
}
std::string Installation::Key64(const std::string& below_software) const {
  return "HKLM\\SOFTWARE\\" + below_software;
}
std::string Installation::ProductFolder() const {
  return edition_ == 0 ? "" : program_files_ + "\\" + OemFolder(edition_);
}
std::string Installation::AppDataFolder() const {
  return app_data_ + "\\" + (edition_ == 2 ? "ORVA\\GX_LT" : "Corda Vale\\KOBR_SE");
}
std::string Installation::StartMenuFolder() const { return programs_ + "\\" + DisplayName(edition_); }
std::string Installation::InstallInfoFolder() const { return program_files_ + "\\" + kInstallInfoName; }
std::string Installation::ProgramPath(const char* file) const {
  bool in_product_folder = edition_ != 0 && (planted_ & kFolder) != 0;
  return (in_product_folder ? ProductFolder() : program_files_ + "\\Varlume\\ZTX") + "\\" + file;
}

void Installation::AddKey(unsigned part, const std::string& path) {
  items_.push_back({"key " + path, part, [path] { return sim::RegExists(path); }});
}
void Installation::AddValue(unsigned part, const std::string& key, const std::string& name) {
  items_.push_back({"value " + key + "|" + name, part, [key, name] { return sim::RegValueExists(key, name); }});
}
void Installation::AddPath(unsigned part, const std::string& path) {
  items_.push_back({"path " + path, part, [path] { return sim::Exists(path); }});
}

void Installation::PlantProductFolder(const std::string& folder, unsigned part) {
  sim::MkFile(folder + "\\lists.dat");
  sim::MkFile(folder + "\\data\\categories.dat");
  sim::MkFile(folder + "\\logs\\filter.log");
  // The installer of Windows 2000 and XP locked the logs folder against deletion.
  if (machine_.generation == 3 || machine_.generation == 4) sim::SetDenyDeleteAcl(folder + "\\logs");
  AddPath(part, folder);
}

void Installation::Plant(unsigned parts) {
  parts &= ~planted_;
  planted_ |= parts;
  const int gen = machine_.generation;
  const bool w64 = machine_.windows_64;
  if (parts & kRegistry) {
    std::string ztx = Key("Varlume\\ZTX");
    sim::RegSetString(ztx, "InstallDir", program_files_ + "\\Varlume\\ZTX");
    sim::RegSetString(ztx + "\\Settings\\Filter\\Lists", "Default", "1");
    sim::RegCreate(ztx + "\\Logs");
    AddKey(kRegistry, ztx);
    if (OemKey(edition_) != nullptr) {
      std::string oem = Key(OemKey(edition_));
      sim::RegSetString(oem + "\\Settings", "Mode", "school");
      AddKey(kRegistry, oem);
    }
    sim::RegSetString(Key(kRunBelowSoftware), "ztxcfg", "\"" + ProgramPath("ztxcfg.exe") + "\" /tray");
    AddValue(kRegistry, Key(kRunBelowSoftware), "ztxcfg");
    // Windows 98 and Me have no extended-properties registration.
    if (gen != 1 && gen != 2) {
      std::string name = system_dir_ + "\\ztxcfg.cpl";
      sim::RegSetRaw(Key(kAppletBelowSoftware), name, REG_DWORD, {1, 0, 0, 0});
      AddValue(kRegistry, Key(kAppletBelowSoftware), name);
    }
  }
  if ((parts & kRegistry64) && w64) {
    sim::RegSetString(Key64("Varlume\\ZTX"), "InstallDir", program_files_ + "\\Varlume\\ZTX");
    AddKey(kRegistry64, Key64("Varlume\\ZTX"));
    if (OemKey(edition_) != nullptr) {
      sim::RegSetString(Key64(OemKey(edition_)), "Mode", "school");
      AddKey(kRegistry64, Key64(OemKey(edition_)));
    }
  }
  if ((parts & kFolder) && edition_ != 0) PlantProductFolder(ProductFolder(), kFolder);
  if (parts & kAppData) PlantProductFolder(AppDataFolder(), kAppData);
  if (parts & kApplet) {
    std::string applet = w64 ? windows_dir_ + "\\System32\\ztxcfg64.cpl" : system_dir_ + "\\ztxcfg.cpl";
    sim::MkFile(applet);
    AddPath(kApplet, applet);
  }
  if (parts & kLsp) {
    for (sim::Catalog which : CatalogsOf(w64)) {
      std::vector<sim::ProviderEntry> entries = sim::CatalogEntries(which);
      for (const sim::ProviderEntry& e : ProductEntries()) entries.push_back(e);
      sim::SetCatalog(entries, which);
      const char* label = which == sim::Catalog::Wow32 ? "32-bit catalog" : "catalog";
      items_.push_back({std::string(label) + " product entries", kLsp,
                        [which] { return !ProductEntriesListed(which).empty(); }});
    }
    sim::MkFile(windows_dir_ + "\\ztxlsp.dll");
    AddPath(kLsp, windows_dir_ + "\\ztxlsp.dll");
    if (w64) {
      sim::MkFile(windows_dir_ + "\\ztxlsp64.dll");
      AddPath(kLsp, windows_dir_ + "\\ztxlsp64.dll");
    }
  }
  if (parts & kInstallInfo) {
    sim::MkFile(InstallInfoFolder() + "\\setup.ini");
    sim::MkFile(InstallInfoFolder() + "\\Disk1\\layout.bin");
    AddPath(kInstallInfo, InstallInfoFolder());
  }
  if (parts & kUninstall) {
    std::string key = Key(kUninstallBelowSoftware);
    sim::RegSetString(key, "DisplayName", DisplayName(edition_));
    sim::RegSetString(key, "UninstallString", "RunDll32 setup.dll");
    sim::RegCreate(key + "\\Components");
    AddKey(kUninstall, key);
    sim::MkFile(StartMenuFolder() + "\\ZTX.lnk");
    sim::MkFile(StartMenuFolder() + "\\Uninstall.lnk");
    AddPath(kUninstall, StartMenuFolder());
  }
  if (parts & kPrograms) {
    const char* files[] = {"ztxcfg.exe", "ztxblk.exe"};
    for (int i = 0; i < 2; ++i) {
      std::string path = ProgramPath(files[i]);
      sim::SetVersionResource(path, sim::MakerVersion("Varlume Inc."));
      sim::PlantedProcess planted = program_settings;
      planted.path = path;
      DWORD pid = sim::AddProcess(planted);
      pids_[i] = pid;
      items_.push_back({std::string("process ") + files[i], kPrograms, [pid] { return sim::IsRunning(pid); }});
    }
  }
  sim::ClearCalls();
}

void Installation::PlantLinks() {
  const std::string outside = "C:\\Linked";
  auto target = [this](const std::string& p) {
    sim::MkFile(p);
    bystanders_.push_back({"path " + p, 0, [p] { return sim::Exists(p); }});
  };
  target(outside + "\\folder\\keep.txt");
  target(outside + "\\folder\\sub\\keep.txt");
  target(outside + "\\file.txt");
  std::vector<std::string> folders;
  if ((planted_ & kFolder) && edition_ != 0) folders.push_back(ProductFolder());
  if (planted_ & kAppData) folders.push_back(AppDataFolder());
  if (planted_ & kInstallInfo) folders.push_back(InstallInfoFolder());
  if (planted_ & kUninstall) folders.push_back(StartMenuFolder());
  for (const std::string& f : folders) {
    sim::MkLink(f + "\\linked", outside + "\\folder", true);
    sim::MkDir(f + "\\logs\\old");
    sim::MkLink(f + "\\logs\\old\\archive", outside + "\\folder\\sub", true);
    sim::MkLink(f + "\\logs\\settings.ini", outside + "\\file.txt", false);
  }
}

void Installation::PlantCompanion() {
  companion_ = std::string(kCurrentDir) + "\\ztxins64.exe";
  sim::MkFile(companion_);
  std::string path = companion_;
  bystanders_.push_back({"path " + path, 0, [path] { return sim::Exists(path); }});
  sim::RegisterProgram(companion_, [](const std::string& parameters) -> DWORD {
    if (parameters != "-f") return 2;
    for (sim::Catalog which : {sim::Catalog::Native, sim::Catalog::Wow32}) {
      std::vector<sim::ProviderEntry> kept;
      for (const sim::ProviderEntry& e : sim::CatalogEntries(which))
        if (e.id < 2001 || e.id > 2003) kept.push_back(e);
      sim::SetCatalog(kept, which);
    }
    return 0;
  });
}

void Installation::PlantBystanders() {
  auto key = [this](const std::string& path) {
    sim::RegCreate(path);
    bystanders_.push_back({"key " + path, 0, [path] { return sim::RegExists(path); }});
  };
  auto value = [this](const std::string& k, const std::string& name, const std::string& data) {
    sim::RegSetString(k, name, data);
    bystanders_.push_back({"value " + k + "|" + name, 0, [k, name] { return sim::RegValueExists(k, name); }});
  };
  auto path = [this](const std::string& p) {
    sim::MkFile(p);
    bystanders_.push_back({"path " + p, 0, [p] { return sim::Exists(p); }});
  };
  auto program = [this](const std::string& p, const char* company) {
    if (company != nullptr) sim::SetVersionResource(p, sim::MakerVersion(company));
    else sim::MkFile(p);
    DWORD pid = sim::AddProcess(p);
    bystanders_.push_back({"process " + p, 0, [pid] { return sim::IsRunning(pid); }});
  };

  // Registry: the vendor keys, siblings under them, other entries beside the product's.
  value(Key("Varlume"), "Owner", "Varlume");
  key(Key("Varlume\\Other\\Settings"));
  key(Key("Corda_Vale\\Other"));
  key(Key("ORVA\\Other"));
  value(Key(kRunBelowSoftware), "OtherTool", "C:\\Other\\tool.exe");
  value(Key(kAppletBelowSoftware), system_dir_ + "\\other.cpl", "1");
  value(Key("Microsoft\\Windows\\CurrentVersion\\Uninstall\\{0A1B2C3D-0000-4000-8000-000000000001}"),
        "DisplayName", "Other Tool");
  if (machine_.windows_64) {
    value(Key64("Varlume"), "Owner", "Varlume");
    key(Key64("OtherVendor\\App"));
  }
  // Folders and files of other makers beside the product's.
  path(program_files_ + "\\Other Vendor\\app.exe");
  path(program_files_ + "\\Corda Vale\\Other\\keep.txt");
  path(program_files_ + "\\ORVA\\Other\\keep.txt");
  path(program_files_ + "\\InstallShield Installation Information\\{0A1B2C3D-0000-4000-8000-000000000001}\\setup.ini");
  path(app_data_ + "\\Other Vendor\\data.txt");
  path(app_data_ + "\\Corda Vale\\Other\\keep.txt");
  path(programs_ + "\\Accessories\\Notepad.lnk");
  path(windows_dir_ + "\\otherlsp.dll");
  if (machine_.windows_64) {
    path(windows_dir_ + "\\System32\\other.cpl");
    path(windows_dir_ + "\\SysWOW64\\other.cpl");
  } else {
    path(system_dir_ + "\\other.cpl");
  }
  // Programs: the shell, a program of another maker under a product name,
  // and another program of the vendor.
  program(windows_dir_ + "\\explorer.exe", nullptr);
  program(program_files_ + "\\Other Vendor\\ztxcfg.exe", "Other Maker Ltd.");
  program(program_files_ + "\\Varlume\\Updater\\ztxupd.exe", "Varlume Inc.");
  // Winsock: the base providers and another vendor's LSP in every catalog.
  for (sim::Catalog which : CatalogsOf(machine_.windows_64)) {
    std::vector<sim::ProviderEntry> entries = sim::CatalogEntries(which);
    std::vector<sim::ProviderEntry> others = OtherLsp();
    entries.insert(entries.end(), others.begin(), others.end());
    sim::SetCatalog(entries, which);
    const char* label = which == sim::Catalog::Wow32 ? "32-bit catalog" : "catalog";
    bystanders_.push_back({std::string(label) + " base and other entries", 0,
                           [which, entries] { return ListsIds(which, entries); }});
  }
}

std::vector<std::string> Installation::Left(unsigned parts) const {
  std::vector<std::string> r;
  for (const Item& i : items_)
    if ((i.part & parts) && i.present()) r.push_back(i.what);
  return r;
}

std::vector<std::string> Installation::BystandersHurt() const {
  std::vector<std::string> r;
  for (const Item& i : bystanders_)
    if (!i.present()) r.push_back(i.what);
  return r;
}

std::vector<std::string> Installation::Leaks() {
  std::vector<std::string> r;
  auto count = [&r](const char* what, size_t n) {
    if (n != 0) r.push_back(std::string(what) + " " + std::to_string(n));
  };
  count("registry handles", sim::RegOpenHandles());
  count("kernel handles", sim::OpenKernelHandles());
  count("heap blocks", sim::LiveHeapBlocks());
  count("local blocks", sim::LiveLocalBlocks());
  for (const char* dll : {"ADVAPI32", "KERNEL32", "PSAPI", "VDMDBG", "WS2_32"}) {
    int loaded = sim::LoadedCount(dll);
    if (loaded != 0) r.push_back(std::string(dll) + " loaded " + std::to_string(loaded));
  }
  count("winsock starts", static_cast<size_t>(sim::WinsockStartedCount()));
  if (sim::RedirectionDisabled()) r.push_back("file-system redirection left off");
  return r;
}

namespace text {
namespace {
std::string Dots(const char* utf8) { return "....." + Cp932(utf8); }
}  // namespace
std::string Banner() {
  std::string rule(68, '#');
  return rule + "\n" + Cp932("#        製品情報フォルダ／レジストリ削除ツール「ZTXCleanUp」      #\n") + rule +
         "\n\n";
}
std::string Question() { return Cp932("製品情報フォルダ／レジストリを削除します。続行しますか？(y/n):"); }
std::string AskAgain() { return Cp932("y/nで入力してください:"); }
std::string Cancelled() { return Cp932("処理はキャンセルされました\n"); }
std::string Restart() { return Cp932("\n終了後はOSを再起動してください"); }
std::string RunAgain() {
  return Cp932("\n使用中のファイルが削除できていないため\nOS再起動後もう１度実行してください");
}
std::string Closing() { return Cp932("\n何かキーを押すと終了します"); }
std::string Registry(bool ok) {
  return Dots(ok ? "製品レジストリを削除しました\n" : "製品レジストリの削除に失敗しました\n");
}
std::string Registry64(bool ok) {
  return Dots(ok ? "製品レジストリ(64bit)を削除しました\n" : "製品レジストリ(64bit)の削除に失敗しました\n");
}
std::string Folders(bool ok) {
  return Dots(ok ? "製品フォルダを削除しました\n" : "製品フォルダの削除に失敗しました\n");
}
std::string Applet(bool ok) {
  return Dots(ok ? "コントロールパネルを削除しました\n" : "コントロールパネルの削除に失敗しました\n");
}
std::string Applet64(bool ok) {
  return Dots(ok ? "コントロールパネル(64bit)を削除しました\n" : "コントロールパネル(64bit)の削除に失敗しました\n");
}
std::string Lsp(bool ok) { return Dots(ok ? "LSPを削除しました\n" : "LSPの削除に失敗しました\n"); }
std::string CompanionMissing() { return Dots("LSPの削除に失敗しました。ztxins64.exeがみつかりません\n"); }
std::string InstallInfo(bool ok) {
  return Dots(ok ? "アンインストール情報フォルダを削除しました\n" : "アンインストール情報フォルダの削除に失敗しました\n");
}
std::string Uninstall(bool ok) {
  return Dots(ok ? "アンインストール情報レジストリを削除しました\n"
                 : "アンインストール情報レジストリの削除に失敗しました\n");
}
}  // namespace text

}  // namespace install
