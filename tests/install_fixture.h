// Whole-run equipment shared by the host tests: a simulated machine with a
// product installation (any generation, edition and bitness) and the
// bystanders that must outlive every run, and the console texts a run prints.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "simwin/machine_process.h"
#include "simwin/machine_winsock.h"

namespace install {

// Parts of a product installation, planted one by one.
enum Part : unsigned {
  kRegistry = 1u << 0,    // product and OEM keys, Run value, applet registration
  kRegistry64 = 1u << 1,  // product and OEM keys in the 64-bit view (64-bit Windows)
  kFolder = 1u << 2,      // the OEM product folder under Program Files (editions 1 and 2)
  kAppData = 1u << 3,     // the OEM product folder under the application-data folder
  kApplet = 1u << 4,      // ztxcfg.cpl, or ztxcfg64.cpl on 64-bit Windows
  kLsp = 1u << 5,         // the catalog entries and the LSP DLLs
  kInstallInfo = 1u << 6, // the installer-information folder
  kUninstall = 1u << 7,   // the uninstall key and the Start-menu folder it names
  kPrograms = 1u << 8,    // ztxcfg.exe and ztxblk.exe running
  kAll = 0x1ffu,
};
// What the product's installer leaves: the vendor's own edition has no
// product folder, the OEM editions have both.
unsigned FullInstall(int edition);

struct Machine {
  const char* name;
  sim::Windows kind;
  bool windows_64;
  int generation;
};
const Machine& MachineOf(sim::Windows kind, bool windows_64);

class Installation {
 public:
  // Resets the simulated Windows to that machine (a 32-bit tool, under WOW64
  // on 64-bit Windows, no console) and plants the bystanders.
  Installation(sim::Windows kind, bool windows_64, int edition);

  void Plant(unsigned parts);
  // Links (junctions and file symbolic links) at several depths of every
  // product folder planted so far, pointing at folders and a file outside the
  // product, which become bystanders. Windows 2000 and later only.
  void PlantLinks();
  // ztxins64.exe in the current directory; when run it removes the product's
  // entries from both catalogs and ends with exit code 0.
  void PlantCompanion();

  // Descriptions of the planted product items of those parts still present.
  std::vector<std::string> Left(unsigned parts = kAll) const;
  // Descriptions of the bystanders that are gone.
  std::vector<std::string> BystandersHurt() const;
  // Resources of the simulated Windows still held by the tool.
  static std::vector<std::string> Leaks();

  // Physical paths of this machine.
  std::string ProgramFiles() const { return program_files_; }
  std::string WindowsDir() const { return windows_dir_; }
  std::string SystemDir() const { return system_dir_; }
  std::string ProductFolder() const;   // under Program Files; "" for edition 0
  std::string AppDataFolder() const;   // the one kAppData plants
  std::string StartMenuFolder() const;
  std::string InstallInfoFolder() const;
  std::string ProgramPath(const char* file) const;
  // The physical path of a key below HKLM\SOFTWARE in the tool's view, and
  // in the 64-bit view.
  std::string Key(const std::string& below_software) const;
  std::string Key64(const std::string& below_software) const;
  DWORD ProgramPid(int i) const { return pids_[i]; }
  int Edition() const { return edition_; }
  const Machine& machine() const { return machine_; }

  // How the product's programs behave when kPrograms plants them.
  sim::PlantedProcess program_settings;

 private:
  struct Item {
    std::string what;
    unsigned part;
    std::function<bool()> present;
  };
  void AddKey(unsigned part, const std::string& path);
  void AddValue(unsigned part, const std::string& key, const std::string& name);
  void AddPath(unsigned part, const std::string& path);
  void PlantBystanders();
  void PlantProductFolder(const std::string& folder, unsigned part);

  Machine machine_;
  int edition_;
  unsigned planted_ = 0;
  std::string program_files_, windows_dir_, system_dir_, app_data_, programs_;
  std::string companion_;
  DWORD pids_[2] = {0, 0};
  std::vector<Item> items_;
  std::vector<Item> bystanders_;
};

// The product's catalog entries: the layered entry 2001 and two chains on it.
std::vector<sim::ProviderEntry> ProductEntries();
// Entries of the catalog carrying the product's LSP, as "id" texts.
std::vector<std::string> ProductEntriesListed(sim::Catalog which);

// ---------------------------------------------------------------- console texts
// Code page 932 bytes, converted independently of the tool's own literals.
namespace text {
std::string Banner();
std::string Question();
std::string AskAgain();
std::string Cancelled();
std::string Restart();   // summary, every flagged step succeeded
std::string RunAgain();  // summary, one of them failed
std::string Closing();
// Five dots and the step's line.
std::string Registry(bool ok);
std::string Registry64(bool ok);
std::string Folders(bool ok);
std::string Applet(bool ok);
std::string Applet64(bool ok);
std::string Lsp(bool ok);
std::string CompanionMissing();
std::string InstallInfo(bool ok);
std::string Uninstall(bool ok);
}  // namespace text

}  // namespace install
