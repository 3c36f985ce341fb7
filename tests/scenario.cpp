#include "scenario.h"

#include <fstream>
#include <map>
#include <stdexcept>

#include "simwin/machine.h"
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

// Wine's prefix as a 64-bit program sees it.
void SetUpLikeWine() {
  sim::Reset(sim::Windows::Win7, true, true);
  sim::SetConsole(false);
  sim::SetSystemDirs(Folders().at("WinDir"), Folders().at("SystemDir"));
  sim::SetSpecialFolder(CSIDL_COMMON_APPDATA, Folders().at("ProgramData"));
  sim::SetSpecialFolder(CSIDL_COMMON_PROGRAMS, Folders().at("CommonPrograms"));
  sim::SetSpecialFolder(CSIDL_APPDATA, "C:\\users\\root\\AppData\\Roaming");
  sim::SetSpecialFolder(CSIDL_PROGRAMS, "C:\\users\\root\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs");
  sim::MkDir(Folders().at("ToolDir"));
  sim::SetCurrentDir(Folders().at("CurrentDir"));
}

}  // namespace

std::string ScenarioItem::Joined() const {
  std::string r;
  for (size_t i = 0; i < fields.size(); ++i) r += (i ? "|" : "") + fields[i];
  return r;
}

Scenario ParseScenario(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  Scenario s;
  size_t slash = path.rfind('/');
  s.name = path.substr(slash + 1, path.size() - slash - 5);
  std::string line;
  while (std::getline(in, line)) {
    size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos || line[first] == '#') continue;
    size_t sp = line.find(' ');
    std::string word = line.substr(0, sp);
    std::string rest = sp == std::string::npos ? "" : line.substr(sp + 1);
    std::string kind = rest.substr(0, rest.find(' '));
    std::string fields = rest.find(' ') == std::string::npos ? "" : rest.substr(rest.find(' ') + 1);
    if (word == "title") s.title = rest;
    else if (word == "input") s.input += Unescape(rest);
    else if (word == "companion") s.companion = rest;
    else if (word == "plant") s.plants.push_back(ScenarioItem{kind, Fields(fields)});
    else if (word == "out") s.output += rest[0] == '@' ? Macro(rest) : Unescape(rest);
    else if (word == "exit") s.exit_code = std::stoi(rest);
    else if (word == "gone" || word == "kept") {
      ScenarioCheck c;
      c.kind = kind;
      c.fields = Fields(fields);
      c.gone = word == "gone";
      s.checks.push_back(c);
    } else if (word == "differs") s.differs.push_back(rest);
    else throw std::runtime_error(path + ": unknown directive " + word);
  }
  return s;
}

ScenarioResult RunScenarioOnHost(const Scenario& s) {
  ScenarioResult r;
  SetUpLikeWine();
  for (const ScenarioItem& p : s.plants) {
    const std::string& a = p.fields.at(0);
    if (p.kind == "key") sim::RegCreate(a);
    else if (p.kind == "value") sim::RegSetString(a, p.fields.at(1), p.fields.size() > 2 ? p.fields[2] : "");
    else if (p.kind == "dir") sim::MkDir(a);
    else if (p.kind == "file") sim::MkFile(a);
    else if (p.kind == "open") {
      sim::MkFile(a);
      sim::SetInUse(a);
    } else r.unsupported.push_back("plant " + p.kind);
  }
  if (s.companion != "none") {
    // Until the shell can start programs, a companion stand-in is a file only.
    sim::MkFile(Folders().at("CurrentDir") + "\\ztxins64.exe");
  }
  RunResult run = RunTool(s.input);
  r.exit_code = run.exit_code;
  r.output = run.out;
  for (const ScenarioCheck& c : s.checks) {
    bool present = false;
    if (c.kind == "key") present = sim::RegExists(c.fields.at(0));
    else if (c.kind == "value") present = sim::RegValueExists(c.fields.at(0), c.fields.at(1));
    else if (c.kind == "path") present = sim::Exists(c.fields.at(0));
    else r.unsupported.push_back("check " + c.kind);
    r.present.push_back(present);
    r.state_lines.push_back(c.kind + " " + c.Joined() + (present ? " present" : " absent"));
  }
  return r;
}
