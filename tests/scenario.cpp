#include "scenario.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>

#include "lsp/companion_main.h"
#include "simwin/machine.h"
#include "simwin/machine_process.h"
#include "simwin/machine_shell.h"
#include "simwin/machine_winsock.h"
#include "support.h"

namespace {

// The settings a scenario runs in: the Windows that Wine's prefix poses as,
// whether it is 64-bit, and whether the tool is a 64-bit program there.
struct Setting {
  const char* name;
  sim::Windows windows;
  bool windows_64;
  bool tool_64;
};
const Setting kSettings[] = {
    {"win64", sim::Windows::Win7, true, true},     {"wow64", sim::Windows::Win7, true, false},
    {"win7-32", sim::Windows::Win7, false, false}, {"winxp", sim::Windows::WinXP, false, false},
    {"win2000", sim::Windows::Win2000, false, false}, {"win98", sim::Windows::Win98, false, false},
};

const Setting* FindSetting(const std::string& name) {
  for (const Setting& s : kSettings)
    if (name == s.name) return &s;
  return nullptr;
}

const Setting& SettingNamed(const std::string& name) {
  const Setting* s = FindSetting(name);
  if (s == nullptr) throw std::runtime_error("unknown setting " + name);
  return *s;
}

// Whether a qualifier ("win98", "32-bit", "64-bit") names the setting.
bool Names(const std::string& qualifier, const Setting& setting) {
  if (qualifier == "32-bit") return !setting.windows_64;
  if (qualifier == "64-bit") return setting.windows_64;
  return qualifier == setting.name;
}

bool IsQualifier(const std::string& word) {
  return word == "32-bit" || word == "64-bit" || FindSetting(word) != nullptr;
}

// Where things lie in Wine's prefix, whatever Windows it poses as. The
// Program Files folder and the SOFTWARE key are those the tool sees by
// default: a WOW64 program's are the 32-bit ones.
std::map<std::string, std::string> Folders(const Setting& setting) {
  const bool wow64 = setting.windows_64 && !setting.tool_64;
  return {
      {"ProgramFiles", wow64 ? "C:\\Program Files (x86)" : "C:\\Program Files"},
      {"Software", wow64 ? "HKLM\\SOFTWARE\\Wow6432Node" : "HKLM\\SOFTWARE"},
      {"ProgramData", "C:\\ProgramData"},
      {"CommonPrograms", "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
      {"AppData", "C:\\users\\root\\AppData\\Roaming"},
      {"Programs", "C:\\users\\root\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
      {"WinDir", "C:\\windows"},
      {"SystemDir", "C:\\windows\\system32"},
      {"CurrentDir", "C:\\ztx"},
      {"ToolDir", "C:\\tool"},
  };
}

std::string Macro(const std::string& name) {
  const std::string rule = std::string(68, '#') + "\n";
  static const std::map<std::string, std::string> m = {
      {"@banner", rule + "#        製品情報フォルダ／レジストリ削除ツール「ZTXCleanUp」      #\n" + rule + "\n"},
      {"@question", "製品情報フォルダ／レジストリを削除します。続行しますか？(y/n):"},
      {"@again", "y/nで入力してください:"},
      {"@cancel", "処理はキャンセルされました\n"},
      {"@restart", "\n終了後はOSを再起動してください"},
      {"@run-again", "\n使用中のファイルが削除できていないため\nOS再起動後もう１度実行してください"},
      {"@closing", "\n何かキーを押すと終了します"},
      {"@dots", "....."},
  };
  auto it = m.find(name);
  return it == m.end() ? "" : it->second;
}

std::string Unescape(const std::string& s) {
  std::string r;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      r += s[i];
      continue;
    }
    char c = s[++i];
    if (c == 'n') r += '\n';
    else if (c == 'r') r += '\r';
    else if (c == 't') r += '\t';
    else if (c == 'x' && i + 2 < s.size()) {
      r += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else r += c;
  }
  return r;
}

std::string Expand(const std::string& s, const std::map<std::string, std::string>& folders) {
  std::string r;
  for (size_t i = 0; i < s.size(); ++i) {
    size_t end = s[i] == '%' ? s.find('%', i + 1) : std::string::npos;
    if (end == std::string::npos) {
      r += s[i];
      continue;
    }
    auto it = folders.find(s.substr(i + 1, end - i - 1));
    if (it == folders.end()) throw std::runtime_error("unknown folder " + s.substr(i, end - i + 1));
    r += it->second;
    i = end;
  }
  return r;
}

std::vector<std::string> Fields(const std::string& s, const std::map<std::string, std::string>& folders) {
  std::vector<std::string> f;
  size_t start = 0;
  for (;;) {
    size_t bar = s.find('|', start);
    f.push_back(Expand(s.substr(start, bar - start), folders));
    if (bar == std::string::npos) return f;
    start = bar + 1;
  }
}

// The programs that run in a new Wine prefix; they carry no version resource
// the tool would look at.
const char* const kWineProcesses[] = {"services.exe", "winedevice.exe", "plugplay.exe",
                                      "svchost.exe", "rpcss.exe", "winedevice.exe"};
// The emulated 32-bit prefix starts on demand the services the tool does not
// call on (e2e/wine32.py), so fewer programs run there.
const char* const kWine32Processes[] = {"services.exe"};

// Wine's Winsock catalog: the seven base providers of its ws2_32, whose
// provider paths come back empty.
std::vector<sim::ProviderEntry> WineCatalog() {
  struct Base {
    DWORD id;
    const char* guid;
    const char16_t* name;
  };
  static const Base kBases[] = {
      {1001, "{E70F1AA0-AB8B-11CF-8CA3-00805F48A192}", u"TCP/IP"},
      {1002, "{E70F1AA0-AB8B-11CF-8CA3-00805F48A192}", u"UDP/IP"},
      {1004, "{F9EAB0C0-26D4-11D0-BBBF-00AA006C34E4}", u"TCP/IPv6"},
      {1005, "{F9EAB0C0-26D4-11D0-BBBF-00AA006C34E4}", u"UDP/IPv6"},
      {1030, "{11058240-BE47-11CF-95C8-00805F48A192}", u"IPX"},
      {1031, "{11058241-BE47-11CF-95C8-00805F48A192}", u"SPX"},
      {1032, "{11058241-BE47-11CF-95C8-00805F48A192}", u"SPX II"},
  };
  std::vector<sim::ProviderEntry> entries;
  for (const Base& b : kBases) {
    sim::ProviderEntry e;
    e.id = b.id;
    e.guid = sim::ParseGuid(b.guid);
    e.chain_len = 1;
    e.chain = {b.id};
    e.name = b.name;
    entries.push_back(e);
  }
  return entries;
}

// Company names of the version resources of e2e/programs/idle_*.rc.
const char kMakerCompany[] = "Varlume Software Inc.";
const char kOtherCompany[] = "Northwind Filters";

sim::VersionResource ProgramVersion(const std::string& kind) {
  if (kind == "maker") return sim::MakerVersion(kMakerCompany, 0x0411, 0x04b0);
  if (kind == "other") return sim::MakerVersion(kOtherCompany, 0x0409, 0x04b0);
  if (kind == "fallback") {
    sim::VersionResource r;
    r.has_translation_list = false;
    r.tables.push_back({0x0411, 0x03a4, {{"CompanyName", kMakerCompany}, {"FileVersion", "1, 0, 0, 1"}}});
    return r;
  }
  throw std::runtime_error("unknown program kind " + kind);
}

// What e2e/programs/companion_stub.cpp and our companion do when the tool
// starts them: the stand-ins leave a file that tells their arguments. Our
// companion is a 64-bit program; started by the WOW64 tool it runs as one.
sim::ProgramHandler Companion(const std::string& kind, const std::string& current_dir, bool from_wow64) {
  if (kind == "real") {
    return [from_wow64](const std::string& parameters) {
      std::string name = "ztxins64.exe";
      std::vector<std::string> words;
      size_t at = 0;
      while ((at = parameters.find_first_not_of(' ', at)) != std::string::npos) {
        size_t end = parameters.find(' ', at);
        words.push_back(parameters.substr(at, end - at));
        at = end;
      }
      std::vector<char*> argv = {name.data()};
      for (std::string& w : words) argv.push_back(w.data());
      auto run = [&argv] {
        return static_cast<DWORD>(CompanionMain(static_cast<int>(argv.size()), argv.data()));
      };
      return from_wow64 ? sim::RunAs64BitProcess(run) : run();
    };
  }
  DWORD code = kind == "stub-fail" ? 3 : 0;
  return [code, current_dir](const std::string& parameters) {
    sim::MkFile(current_dir + (parameters == "-f" ? "\\companion ran with -f" : "\\companion ran with other arguments"));
    return code;
  };
}

// Wine's prefix of the setting as the tool sees it. 64-bit Wine and the
// 64-bit build (win64) keep the services Wine starts and the simulated
// Windows' own catalog. Every other setting runs the shipped 32-bit tool in
// the trimmed prefix of e2e/wine32.py: Wine's seven base providers (in both
// catalogs of 64-bit Windows: Wine keeps one catalog for 32-bit and 64-bit
// programs alike), services.exe alone, and Wine's folders whatever Windows
// its version setting names. The ANSI code page of 32-bit Wine (1252) plays
// no part: the tool writes its code page 932 bytes unchanged and names only
// ASCII paths of its own.
void SetUpLikeWine(const Setting& setting, const std::map<std::string, std::string>& folders,
                   std::map<std::string, DWORD>* running) {
  const bool shipped = !setting.tool_64;
  sim::Reset(setting.windows, setting.windows_64, setting.tool_64);
  if (shipped) {
    sim::SetCatalog(WineCatalog());
    if (setting.windows_64) sim::SetCatalog(WineCatalog(), sim::Catalog::Wow32);
  }
  sim::SetConsole(false);
  sim::SetSystemDirs(folders.at("WinDir"), folders.at("SystemDir"));
  sim::SetSpecialFolder(CSIDL_COMMON_APPDATA, folders.at("ProgramData"));
  sim::SetSpecialFolder(CSIDL_COMMON_PROGRAMS, folders.at("CommonPrograms"));
  sim::SetSpecialFolder(CSIDL_APPDATA, folders.at("AppData"));
  sim::SetSpecialFolder(CSIDL_PROGRAMS, folders.at("Programs"));
  sim::MkDir(folders.at("ToolDir"));
  sim::SetCurrentDir(folders.at("CurrentDir"));
  auto start = [&](const char* name) {
    sim::PlantedProcess p;
    p.path = folders.at("SystemDir") + "\\" + name;
    // Wine's services of 64-bit Windows are 64-bit programs.
    p.is_64 = setting.windows_64;
    (*running)[p.path] = sim::AddProcess(p);
  };
  if (shipped) {
    for (const char* name : kWine32Processes) start(name);
  } else {
    for (const char* name : kWineProcesses) start(name);
  }
}

}  // namespace

std::string Scenario::Output() const {
  std::string r;
  for (const ScenarioRun& run : runs) r += run.output;
  return r;
}

std::string ScenarioItem::Joined() const {
  std::string r;
  for (size_t i = 0; i < fields.size(); ++i) r += (i ? "|" : "") + fields[i];
  return r;
}

Scenario ParseScenario(const std::string& path, const std::string& setting_name) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  const Setting& setting = SettingNamed(setting_name);
  const std::map<std::string, std::string> folders = Folders(setting);
  Scenario s;
  s.setting = setting_name;
  s.runs.emplace_back();
  size_t slash = path.rfind('/');
  s.name = path.substr(slash + 1, path.size() - slash - 5);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos || line[first] == '#') continue;
    size_t sp = line.find(' ');
    std::string word = line.substr(0, sp);
    std::string rest = sp == std::string::npos ? "" : line.substr(sp + 1);
    static const char* const kDirectives[] = {"title", "input", "next-run", "companion", "plant",
                                              "out",   "exit",  "gone",     "kept",      "differs"};
    if (std::find(std::begin(kDirectives), std::end(kDirectives), word) == std::end(kDirectives)) {
      // Qualifiers: the line holds in the settings they name.
      bool holds = false;
      size_t at = 0;
      for (;;) {
        size_t comma = word.find(',', at);
        std::string q = word.substr(at, comma - at);
        if (!IsQualifier(q)) throw std::runtime_error(where + "unknown directive or qualifier " + q);
        holds = holds || Names(q, setting);
        if (comma == std::string::npos) break;
        at = comma + 1;
      }
      sp = rest.find(' ');
      word = rest.substr(0, sp);
      rest = sp == std::string::npos ? "" : rest.substr(sp + 1);
      static const char* const kQualified[] = {"plant", "out", "exit", "gone", "kept", "differs"};
      if (std::find(std::begin(kQualified), std::end(kQualified), word) == std::end(kQualified))
        throw std::runtime_error(where + "qualifiers go before plant, out, exit, gone, kept or differs");
      if (!holds) continue;
    }
    std::string kind = rest.substr(0, rest.find(' '));
    std::string fields = rest.find(' ') == std::string::npos ? "" : rest.substr(rest.find(' ') + 1);
    if (word == "title") s.title = rest;
    else if (word == "input") s.runs.back().input += Unescape(rest);
    else if (word == "next-run") s.runs.emplace_back();
    else if (word == "companion") s.companion = rest;
    else if (word == "plant") s.plants.push_back(ScenarioItem{kind, Fields(fields, folders)});
    else if (word == "out") s.runs.back().output += rest[0] == '@' ? Macro(rest) : Unescape(rest);
    else if (word == "exit") s.runs.back().exit_code = std::stoi(rest);
    else if (word == "gone" || word == "kept") {
      ScenarioCheck c;
      c.kind = kind;
      // " -- WHY" after a check says why it stays; only the demo prints it.
      c.fields = Fields(fields.substr(0, fields.find(" -- ")), folders);
      c.gone = word == "gone";
      s.checks.push_back(c);
    } else {
      std::string what = rest.substr(0, rest.find(" -- "));
      size_t space = what.find(' ');
      s.differs.push_back(ScenarioItem{what.substr(0, space), Fields(what.substr(space + 1), folders)});
    }
  }
  return s;
}

std::vector<std::pair<std::string, std::vector<std::string>>> ReadSettings(
    const std::string& path, const std::vector<std::string>& all_files) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<std::pair<std::string, std::vector<std::string>>> settings;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string name, scenario;
    if (!(words >> name)) continue;
    if (FindSetting(name) == nullptr || SettingNamed(name).tool_64)
      throw std::runtime_error(path + ": " + name + " is no setting of the 32-bit tool");
    std::vector<std::string> files;
    while (words >> scenario) {
      if (scenario == "all") {
        files.insert(files.end(), all_files.begin(), all_files.end());
      } else if (std::find(all_files.begin(), all_files.end(), scenario + ".scn") != all_files.end()) {
        files.push_back(scenario + ".scn");
      } else {
        throw std::runtime_error(path + ": no scenario " + scenario + " (setting " + name + ")");
      }
    }
    settings.emplace_back(name, files);
  }
  return settings;
}

ScenarioResult RunScenarioOnHost(const Scenario& s) {
  ScenarioResult r;
  const Setting& setting = SettingNamed(s.setting);
  const std::map<std::string, std::string> folders = Folders(setting);
  // The idle programs planted are of the tool's build, as under Wine (the
  // product's own programs are 32-bit ones); "|64" plants a 64-bit program
  // on 64-bit Windows.
  std::map<std::string, DWORD> programs;
  SetUpLikeWine(setting, folders, &programs);
  for (const ScenarioItem& p : s.plants) {
    const std::string& a = p.fields.at(0);
    if (p.kind == "key") sim::RegCreate(a);
    else if (p.kind == "value") sim::RegSetString(a, p.fields.at(1), p.fields.size() > 2 ? p.fields[2] : "");
    else if (p.kind == "dir") sim::MkDir(a);
    else if (p.kind == "file") sim::MkFile(a);
    else if (p.kind == "deny-delete") {
      sim::MkDir(a);
      sim::SetDenyDeleteAcl(a);
    } else if (p.kind == "readonly-dir") {
      sim::MkDir(a);
      sim::SetAttributes(a, FILE_ATTRIBUTE_READONLY);
    } else if (p.kind == "readonly") {
      sim::MkFile(a);
      sim::SetAttributes(a, FILE_ATTRIBUTE_READONLY);
    } else if (p.kind == "open") {
      sim::MkFile(a);
      sim::SetInUse(a);
    } else if (p.kind == "link") {
      sim::MkLink(a, p.fields.at(1), sim::IsFolder(p.fields.at(1)));
    } else if (p.kind == "program") {
      sim::SetVersionResource(a, ProgramVersion(p.fields.at(1)));
      sim::PlantedProcess planted;
      planted.path = a;
      planted.is_64 = setting.tool_64 || (setting.windows_64 && p.fields.size() > 2 && p.fields[2] == "64");
      programs[a] = sim::AddProcess(planted);
    } else throw std::runtime_error("cannot plant " + p.kind);
  }
  if (s.companion != "none") {
    std::string companion = folders.at("CurrentDir") + "\\ztxins64.exe";
    sim::MkFile(companion);
    sim::RegisterProgram(companion, Companion(s.companion, folders.at("CurrentDir"),
                                              setting.windows_64 && !setting.tool_64));
  }
  for (const ScenarioRun& run : s.runs) {
    RunResult done = RunTool(run.input);
    r.exit_codes.push_back(done.exit_code);
    r.output += done.out;
  }
  for (const ScenarioCheck& c : s.checks) {
    bool present = false;
    if (c.kind == "key") present = sim::RegExists(c.fields.at(0));
    else if (c.kind == "value") present = sim::RegValueExists(c.fields.at(0), c.fields.at(1));
    else if (c.kind == "path") present = sim::Exists(c.fields.at(0));
    else if (c.kind == "process") {
      auto it = programs.find(c.fields.at(0));
      present = it != programs.end() && sim::IsRunning(it->second);
    } else throw std::runtime_error("cannot check " + c.kind);
    r.present.push_back(present);
    r.state_lines.push_back(c.kind + " " + c.Joined() + (present ? " present" : " absent"));
  }
  return r;
}
