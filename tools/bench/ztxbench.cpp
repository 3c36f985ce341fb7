// ztxbench: one whole run of the tool, answering "y", on a large simulated
// 32-bit Windows XP machine, and the CPU time that run takes.
//
// The machine holds the product fully installed (registry with a large key
// tree, product folder with "logs", applet, LSP DLL, installer-information and
// Start-menu folders, uninstall key) among many processes of other makers and
// a Winsock catalog with many layered providers of other vendors. After the
// run the program checks that everything of the product went and every
// bystander stayed; a benchmark of a run that did not do its job means nothing.
//
// usage: ztxbench [--processes N] [--catalog N] [--layered N] [--keys N]
// Exit code 0 when every check held, 1 when one failed, 2 on bad arguments.
#include "driver/cleanup.h"
#include "console/messages.h"
#include "lsp/setup.h"
#include "simwin/machine.h"
#include "simwin/machine_process.h"
#include "simwin/machine_winsock.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

struct Sizes {
  int processes = 1000;  // every running process, the product's among them
  int catalog = 300;     // Winsock catalog entries, base providers included
  int layered = 30;      // layered providers, the product's among them
  int keys = 10000;      // keys of the product's key tree, its top key included
};

const char kProductKey[] = "HKLM\\SOFTWARE\\Varlume\\ZTX";
const char kVendorSibling[] = "HKLM\\SOFTWARE\\Varlume\\Other Product";
const char kRunKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kAppletKey[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Extended Properties\\"
    "{305CA226-D286-468e-B848-2B2E8E697B74} 2";
const char kUninstall[] =
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6E2C41D8-93AF-4B07-A1C5-2F8D07E4B913}";
const char kSystemDir[] = "C:\\WINDOWS\\system32";
const char kProgramFiles[] = "C:\\Program Files";
const char kStartMenu[] = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs";
// The GUID the product's chains carry; its layered entry carries ProductLspGuid.
const char kProductChainGuid[] = "{5A3E9D10-2B44-4C1F-8E77-0D9A6B21C3F5}";

std::string Printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* fmt, ...) {
  char text[512];
  va_list args;
  va_start(args, fmt);
  vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  return text;
}

int failures = 0;
void Check(bool ok, const std::string& what) {
  if (ok) return;
  ++failures;
  std::printf("CHECK FAILED: %s\n", what.c_str());
}

// ------------------------------------------------------------------ processes
struct Processes {
  std::vector<DWORD> product;
  std::vector<DWORD> bystanders;
};

Processes PlantProcesses(int total) {
  Processes p;
  auto plant = [](const std::string& path, const std::string& company) {
    sim::SetVersionResource(path, sim::MakerVersion(company));
    return sim::AddProcess(path);
  };
  const std::string product_dir = std::string(kProgramFiles) + "\\Varlume\\ZTX\\";
  // The product's two programs, a second instance of the filter, and programs
  // that share a name with them but come from another maker.
  p.product.push_back(plant(product_dir + "ztxcfg.exe", "Varlume"));
  p.product.push_back(plant(product_dir + "ztxblk.exe", "Varlume"));
  p.product.push_back(plant(product_dir + "bin\\ztxblk.exe", "Varlume Inc."));
  p.bystanders.push_back(plant(std::string(kProgramFiles) + "\\Northwind\\ztxcfg.exe", "Northwind Ltd."));
  p.bystanders.push_back(plant(product_dir + "ztxupd.exe", "Varlume"));
  for (int i = static_cast<int>(p.product.size() + p.bystanders.size()); i < total; ++i) {
    std::string path = Printf("%s\\Maker%02d\\app%04d.exe", kProgramFiles, i % 37, i);
    p.bystanders.push_back(plant(path, Printf("Maker %02d Corporation", i % 37)));
  }
  return p;
}

// ------------------------------------------------------------------ catalog
GUID OtherLspGuid(int n, bool chain) {
  return sim::ParseGuid(Printf("{1B2C3D4E-5F60-4172-83%02X-%012X}", chain ? 1 : 0, n));
}

// A layered entry when chain is empty, else a chain entry.
sim::ProviderEntry Entry(DWORD id, const GUID& guid, std::vector<DWORD> chain, const std::u16string& name,
                         const std::u16string& path) {
  sim::ProviderEntry e;
  e.id = id;
  e.guid = guid;
  e.chain_len = static_cast<int>(chain.size());
  e.chain = std::move(chain);
  e.name = name;
  e.path = path;
  return e;
}

// The base providers, `layered` layered entries (the first is the product's),
// and chains over them up to `total` entries. Some other vendors' chains are
// stacked on another vendor's layered entry; none is stacked on the product's.
std::vector<sim::ProviderEntry> BuildCatalog(int total, int layered) {
  std::vector<sim::ProviderEntry> c = sim::BaseProviders();
  std::vector<DWORD> bases;
  for (const auto& e : c) bases.push_back(e.id);
  std::vector<DWORD> layered_ids;
  for (int i = 0; i < layered; ++i) {
    DWORD id = 2000 + 100 * static_cast<DWORD>(i);
    layered_ids.push_back(id);
    GUID guid = i == 0 ? ProductLspGuid : OtherLspGuid(i, false);
    c.push_back(Entry(id, guid, {}, i == 0 ? u"ZTX Layered" : u"Vendor Layered",
                      i == 0 ? u"%SystemRoot%\\ztxlsp.dll" : u"%SystemRoot%\\system32\\vendorlsp.dll"));
  }
  for (int n = 0; static_cast<int>(c.size()) < total && layered > 0; ++n) {
    int owner = n % layered;
    DWORD id = layered_ids[owner] + 1 + static_cast<DWORD>(n / layered);
    DWORD base = bases[static_cast<size_t>(n) % bases.size()];
    std::vector<DWORD> chain = {layered_ids[owner], base};
    if (owner >= 2 && owner % 3 == 0) chain = {layered_ids[owner], layered_ids[owner - 1], base};
    GUID guid = owner == 0 ? sim::ParseGuid(kProductChainGuid) : OtherLspGuid(owner, true);
    c.push_back(Entry(id, guid, chain, owner == 0 ? u"ZTX over base" : u"Vendor over base",
                      u"%SystemRoot%\\system32\\vendorlsp.dll"));
  }
  return c;
}

bool IsProductEntry(const sim::ProviderEntry& e) {
  return sim::SameGuid(e.guid, ProductLspGuid) || sim::SameGuid(e.guid, sim::ParseGuid(kProductChainGuid));
}

// ------------------------------------------------------------------ registry
// A tree of `count` keys below and including `top`, filled breadth first with
// ten subkeys per key.
void PlantKeyTree(const std::string& top, int count) {
  std::vector<std::string> level = {top};
  sim::RegCreate(top);
  int made = 1;
  while (made < count) {
    std::vector<std::string> next;
    for (const std::string& parent : level) {
      for (int i = 0; i < 10 && made < count; ++i, ++made) {
        std::string key = parent + Printf("\\Node%d", i);
        sim::RegCreate(key);
        if (made % 7 == 0) sim::RegSetString(key, "Setting", "on");
        next.push_back(key);
      }
    }
    level.swap(next);
  }
}

void PlantInstallation(const Sizes& sizes) {
  PlantKeyTree(kProductKey, sizes.keys);
  sim::RegCreate(kVendorSibling);
  sim::RegSetString(kRunKey, "ztxcfg", std::string(kProgramFiles) + "\\Varlume\\ZTX\\ztxcfg.exe");
  sim::RegSetString(kRunKey, "OtherTool", "C:\\other\\tool.exe");
  sim::RegSetString(kAppletKey, std::string(kSystemDir) + "\\ztxcfg.cpl", "1");
  sim::RegSetString(kUninstall, "DisplayName", "ZTX Web Filter");
  sim::MkFile(std::string(kProgramFiles) + "\\Corda Vale\\KOBR_SE\\logs\\filter.log");
  sim::MkFile(std::string(kProgramFiles) + "\\Corda Vale\\KOBR_SE\\ztxcfg.exe");
  sim::MkFile(std::string(kProgramFiles) + "\\Corda Vale\\Other\\keep.txt");
  sim::MkFile(std::string(kStartMenu) + "\\ZTX Web Filter\\Settings.lnk");
  sim::MkFile(std::string(kStartMenu) + "\\Accessories\\Notepad.lnk");
  sim::MkFile(std::string(kProgramFiles) +
              "\\InstallShield Installation Information\\{6E2C41D8-93AF-4B07-A1C5-2F8D07E4B913}\\setup.ini");
  sim::MkFile(std::string(kSystemDir) + "\\ztxcfg.cpl");
  sim::MkFile("C:\\WINDOWS\\ztxlsp.dll");
}

// What the tool prints after the question on this machine: the product folder
// is present, so the applet and LSP steps run silently.
std::string ExpectedTail() {
  return std::string(".....") + kRegistryRemoved + "....." + kFoldersRemoved + "....." + kInstallInfoRemoved +
         "....." + kUninstallKeyRemoved + kSummaryRestart + kClosing;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

bool ParseArgs(int argc, char** argv, Sizes* sizes) {
  for (int i = 1; i < argc; ++i) {
    int* target = nullptr;
    if (!strcmp(argv[i], "--processes")) target = &sizes->processes;
    else if (!strcmp(argv[i], "--catalog")) target = &sizes->catalog;
    else if (!strcmp(argv[i], "--layered")) target = &sizes->layered;
    else if (!strcmp(argv[i], "--keys")) target = &sizes->keys;
    if (target == nullptr || i + 1 == argc) return false;
    char* end = nullptr;
    long v = strtol(argv[++i], &end, 10);
    if (*end != '\0' || v < 1 || v > 1000000) return false;
    *target = static_cast<int>(v);
  }
  // Room for the product's five programs, for at least one chain per layered
  // provider beside the base providers, and at most 99 chains per layered
  // provider (their catalog ids follow the provider's in steps of 100).
  int bases = static_cast<int>(sim::BaseProviders().size());
  return sizes->processes >= 5 && sizes->layered <= 90 && sizes->catalog >= bases + 2 * sizes->layered &&
         sizes->catalog - bases - sizes->layered <= 99 * sizes->layered;
}

}  // namespace

int main(int argc, char** argv) {
  Sizes sizes;
  if (!ParseArgs(argc, argv, &sizes)) {
    std::fprintf(stderr,
                 "usage: ztxbench [--processes N>=5] [--catalog N] [--layered N<=90] [--keys N]\n"
                 "(the catalog holds the base providers and 2 to 100 entries per layered provider)\n");
    return 2;
  }

  double setup_start = CpuSeconds();
  sim::Reset(sim::Windows::WinXP);
  sim::SetConsole(false);
  Processes procs = PlantProcesses(sizes.processes);
  std::vector<sim::ProviderEntry> catalog = BuildCatalog(sizes.catalog, sizes.layered);
  sim::SetCatalog(catalog);
  PlantInstallation(sizes);
  double setup_cpu = CpuSeconds() - setup_start;

  size_t product_entries = 0;
  for (const auto& e : catalog) product_entries += IsProductEntry(e) ? 1 : 0;
  Check(sim::RegCountKeys(kProductKey) == static_cast<size_t>(sizes.keys), "product key tree size");

  sim::ClearCalls();
  uint64_t virtual_start = sim::NowMs();
  int exit_code = -1;
  auto wall_start = std::chrono::steady_clock::now();
  double cpu_start = CpuSeconds();
  std::string out = sim::RunWithConsole("y\n", [&] { exit_code = RunCleanup(); });
  double cpu = CpuSeconds() - cpu_start;
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  uint64_t virtual_ms = sim::NowMs() - virtual_start;
  size_t calls = sim::Calls().size();
  size_t sleeps = sim::CountCalls("Sleep");

  // The run did its job, and only its job.
  Check(exit_code == 0, Printf("exit code %d", exit_code));
  std::string tail = ExpectedTail();
  Check(out.size() >= tail.size() && out.compare(out.size() - tail.size(), tail.size(), tail) == 0,
        "console output after the question");
  for (DWORD pid : procs.product) Check(!sim::IsRunning(pid), Printf("product process %u still runs", pid));
  size_t stopped_bystanders = 0;
  for (DWORD pid : procs.bystanders) stopped_bystanders += sim::IsRunning(pid) ? 0 : 1;
  Check(stopped_bystanders == 0, Printf("%zu processes of other makers were stopped", stopped_bystanders));
  Check(!sim::RegExists(kProductKey), "product key tree left");
  Check(sim::RegExists(kVendorSibling), "the vendor's other key went");
  Check(!sim::RegValueExists(kRunKey, "ztxcfg") && sim::RegValueExists(kRunKey, "OtherTool"), "Run values");
  Check(!sim::RegValueExists(kAppletKey, std::string(kSystemDir) + "\\ztxcfg.cpl"), "applet registration left");
  Check(!sim::RegExists(kUninstall), "uninstall key left");
  Check(!sim::Exists(std::string(kProgramFiles) + "\\Corda Vale\\KOBR_SE"), "product folder left");
  Check(sim::Exists(std::string(kProgramFiles) + "\\Corda Vale\\Other\\keep.txt"), "a bystander folder went");
  Check(!sim::Exists(std::string(kStartMenu) + "\\ZTX Web Filter"), "Start-menu folder left");
  Check(sim::Exists(std::string(kStartMenu) + "\\Accessories\\Notepad.lnk"), "a bystander shortcut went");
  Check(!sim::Exists(std::string(kSystemDir) + "\\ztxcfg.cpl"), "applet left");
  Check(!sim::Exists("C:\\WINDOWS\\ztxlsp.dll"), "LSP DLL left");
  std::set<DWORD> want_ids, got_ids;
  for (const auto& e : catalog)
    if (!IsProductEntry(e)) want_ids.insert(e.id);
  for (const auto& e : sim::CatalogEntries()) got_ids.insert(e.id);
  Check(got_ids == want_ids, Printf("catalog holds %zu entries, want the %zu of other vendors", got_ids.size(),
                                    want_ids.size()));
  Check(sim::LiveHeapBlocks() == 0 && sim::LiveLocalBlocks() == 0, "heap or local blocks left");
  Check(sim::OpenKernelHandles() == 0 && sim::RegOpenHandles() == 0, "handles left open");
  Check(sim::WinsockStartedCount() == 0, "Winsock left started");

  std::printf("ztxbench: one whole run of the tool answering \"y\", simulated 32-bit Windows XP\n");
  std::printf("  machine: %d processes (%zu of the product's programs, the rest of other makers or of\n"
              "           the maker's other programs, each with a version resource)\n",
              sizes.processes, procs.product.size());
  std::printf("           Winsock catalog of %zu entries, %d layered providers (1 the product's, with\n"
              "           %zu entries in all)\n",
              catalog.size(), sizes.layered, product_entries);
  std::printf("           product key tree of %d keys, plus the full installation (Run value, applet,\n"
              "           product folder with logs, LSP DLL, installer-information and Start-menu folders,\n"
              "           uninstall key)\n",
              sizes.keys);
  std::printf("  setup:   %.3f s CPU (planting the machine; not part of the run)\n", setup_cpu);
  std::printf("  run:     %.3f s CPU (user and system), %.3f s wall, %zu calls into the simulated Windows\n",
              cpu, wall, calls);
  std::printf("  pacing:  %zu sleeps, %.1f s of virtual time: the simulated Sleep only moves a virtual\n"
              "           clock, so the pacing costs no real time and is not in the figures above\n",
              sleeps, static_cast<double>(virtual_ms) / 1000.0);
  std::printf("  build:   the host build, with AddressSanitizer and UBSan instrumentation and every\n"
              "           call recorded by the simulated Windows; a native build would be faster\n");
  std::printf("  checks:  %s\n", failures == 0 ? "everything of the product removed, every bystander kept"
                                                 : "FAILED (see above)");
  return failures == 0 ? 0 : 1;
}
