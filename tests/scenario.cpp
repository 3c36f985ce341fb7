#include "scenario.h"

#include <fstream>
#include <map>
#include <stdexcept>

#include "lsp/companion_main.h"
#include "simwin/machine.h"
#include "simwin/machine_process.h"
#include "simwin/machine_shell.h"
#include "simwin/machine_winsock.h"
#include "support.h"

namespace {

const std::map<std::string, std::string>& Folders() {
  static const std::map<std::string, std::string> f = {
      {"ProgramFiles", "C:\\Program Files"},
      {"ProgramData", "C:\\ProgramData"},
      {"CommonPrograms", "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
      {"WinDir", "C:\\windows"},
      {"SystemDir", "C:\\windows\\system32"},
      {"CurrentDir", "C:\\ztx"},
      {"ToolDir", "C:\\tool"},
  };
  return f;
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

std::string Expand(const std::string& s) {
  std::string r;
  for (size_t i = 0; i < s.size(); ++i) {
    size_t end = s[i] == '%' ? s.find('%', i + 1) : std::string::npos;
    if (end == std::string::npos) {
      r += s[i];
      continue;
    }
    r += Folders().at(s.substr(i + 1, end - i - 1));
    i = end;
  }
  return r;
}

std::vector<std::string> Fields(const std::string& s) {
  std::vector<std::string> f;
  size_t start = 0;
  for (;;) {
    size_t bar = s.find('|', start);
    f.push_back(Expand(s.substr(start, bar - start)));
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
// starts them: the stand-ins leave a file that tells their arguments.
sim::ProgramHandler Companion(const std::string& kind) {
  if (kind == "real") {
    return [](const std::string& parameters) {
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
      return static_cast<DWORD>(CompanionMain(static_cast<int>(argv.size()), argv.data()));
    };
  }
  DWORD code = kind == "stub-fail" ? 3 : 0;
  return [code](const std::string& parameters) {
    sim::MkFile(Folders().at("CurrentDir") + (parameters == "-f" ? "\\companion ran with -f"
                                                                 : "\\companion ran with other arguments"));
    return code;
  };
}

// Wine's prefix as the tool sees it: 64-bit Wine and the 64-bit build, or
// 32-bit Wine (Windows 7, not under WOW64) and the 32-bit build. The ANSI code
// page of 32-bit Wine (1252) plays no part: the tool writes its code page 932
// bytes unchanged and names only ASCII paths of its own.
void SetUpLikeWine(int bits, std::map<std::string, DWORD>* running) {
  sim::Reset(sim::Windows::Win7, bits == 64, bits == 64);
  if (bits == 32) sim::SetCatalog(WineCatalog());
  sim::SetConsole(false);
  sim::SetSystemDirs(Folders().at("WinDir"), Folders().at("SystemDir"));
  sim::SetSpecialFolder(CSIDL_COMMON_APPDATA, Folders().at("ProgramData"));
  sim::SetSpecialFolder(CSIDL_COMMON_PROGRAMS, Folders().at("CommonPrograms"));
  sim::SetSpecialFolder(CSIDL_APPDATA, "C:\\users\\root\\AppData\\Roaming");
  sim::SetSpecialFolder(CSIDL_PROGRAMS, "C:\\users\\root\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs");
  sim::MkDir(Folders().at("ToolDir"));
  sim::SetCurrentDir(Folders().at("CurrentDir"));
  auto start = [running](const char* name) {
    std::string path = Folders().at("SystemDir") + "\\" + name;
    (*running)[path] = sim::AddProcess(path);
  };
  if (bits == 32) {
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

Scenario ParseScenario(const std::string& path, int bits) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  Scenario s;
  s.bits = bits;
  const std::string this_build = std::to_string(bits) + "-bit";
  s.runs.emplace_back();
  size_t slash = path.rfind('/');
  s.name = path.substr(slash + 1, path.size() - slash - 5);
  std::string line;
  while (std::getline(in, line)) {
    size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos || line[first] == '#') continue;
    size_t sp = line.find(' ');
    std::string word = line.substr(0, sp);
    std::string rest = sp == std::string::npos ? "" : line.substr(sp + 1);
    if (word == "32-bit" || word == "64-bit") {
      if (word != this_build) continue;
      sp = rest.find(' ');
      word = rest.substr(0, sp);
      rest = sp == std::string::npos ? "" : rest.substr(sp + 1);
    }
    std::string kind = rest.substr(0, rest.find(' '));
    std::string fields = rest.find(' ') == std::string::npos ? "" : rest.substr(rest.find(' ') + 1);
    if (word == "title") s.title = rest;
    else if (word == "input") s.runs.back().input += Unescape(rest);
    else if (word == "next-run") s.runs.emplace_back();
    else if (word == "companion") s.companion = rest;
    else if (word == "plant") s.plants.push_back(ScenarioItem{kind, Fields(fields)});
    else if (word == "out") s.runs.back().output += rest[0] == '@' ? Macro(rest) : Unescape(rest);
    else if (word == "exit") s.runs.back().exit_code = std::stoi(rest);
    else if (word == "gone" || word == "kept") {
      ScenarioCheck c;
      c.kind = kind;
      c.fields = Fields(fields);
      c.gone = word == "gone";
      s.checks.push_back(c);
    } else if (word == "differs") {
      std::string what = rest.substr(0, rest.find(" -- "));
      size_t space = what.find(' ');
      s.differs.push_back(ScenarioItem{what.substr(0, space), Fields(what.substr(space + 1))});
    }
    else throw std::runtime_error(path + ": unknown directive " + word);
  }
  return s;
}

ScenarioResult RunScenarioOnHost(const Scenario& s) {
  ScenarioResult r;
  std::map<std::string, DWORD> programs;
  SetUpLikeWine(s.bits, &programs);
  for (const ScenarioItem& p : s.plants) {
    const std::string& a = p.fields.at(0);
    if (p.kind == "key") sim::RegCreate(a);
    else if (p.kind == "value") sim::RegSetString(a, p.fields.at(1), p.fields.size() > 2 ? p.fields[2] : "");
    else if (p.kind == "dir") sim::MkDir(a);
    else if (p.kind == "file") sim::MkFile(a);
    else if (p.kind == "deny-delete") {
      sim::MkDir(a);
      sim::SetDenyDeleteAcl(a);
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
      programs[a] = sim::AddProcess(a);
    } else throw std::runtime_error("cannot plant " + p.kind);
  }
  if (s.companion != "none") {
    std::string companion = Folders().at("CurrentDir") + "\\ztxins64.exe";
    sim::MkFile(companion);
    sim::RegisterProgram(companion, Companion(s.companion));
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
