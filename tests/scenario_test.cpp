// Runs every end-to-end scenario of e2e/scenarios on the simulated Windows,
// set up as the 64-bit Windows 7 of a new Wine prefix, with the 64-bit tool;
// and, for each setting of e2e/settings.txt, the scenarios it names with the
// 32-bit tool on the simulated Windows set up as Wine's prefix of that
// setting. The same files drive the Wine harnesses (e2e/wine_run.py,
// e2e/wine32.py).
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "scenario.h"
#include "support.h"

namespace {

std::string ScenarioDir() { return std::string(ZTX_SOURCE_DIR) + "/e2e/scenarios"; }

std::vector<std::string> ScenarioFiles() {
  std::vector<std::string> names;
  if (DIR* d = opendir(ScenarioDir().c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n.size() > 4 && n.compare(n.size() - 4, 4, ".scn") == 0) names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct SettingCase {
  std::string setting;
  std::string file;
};

void PrintTo(const SettingCase& c, std::ostream* os) { *os << c.setting << " " << c.file; }

// Every (setting, scenario) pair of e2e/settings.txt.
std::vector<SettingCase> SettingCases() {
  std::vector<SettingCase> cases;
  for (const auto& setting : ReadSettings(std::string(ZTX_SOURCE_DIR) + "/e2e/settings.txt", ScenarioFiles()))
    for (const std::string& file : setting.second) cases.push_back({setting.first, file});
  return cases;
}

// Runs the scenario, leaves what it did in the results folder for
// e2e/agree.py and judges it.
void RunAndJudge(const std::string& file, const std::string& setting, const std::string& results_name) {
  Scenario s = ParseScenario(ScenarioDir() + "/" + file, setting);
  ScenarioResult r = RunScenarioOnHost(s);

  mkdir((std::string(ZTX_SOURCE_DIR) + "/build").c_str(), 0755);
  std::string results = std::string(ZTX_SOURCE_DIR) + "/build/" + results_name;
  mkdir(results.c_str(), 0755);
  std::ofstream(results + "/" + s.name + ".host.out", std::ios::binary) << r.output;
  std::ofstream state(results + "/" + s.name + ".host.state");
  state << "exit";
  for (int code : r.exit_codes) state << " " << code;
  state << "\n";
  for (const std::string& line : r.state_lines) state << line << "\n";

  std::vector<int> want_codes;
  for (const ScenarioRun& run : s.runs) want_codes.push_back(run.exit_code);
  EXPECT_EQ(r.exit_codes, want_codes);
  EXPECT_EQ(r.output, Cp932(s.Output())) << "scenario " << s.name << ": " << s.title;
  for (size_t i = 0; i < s.checks.size(); ++i) {
    const ScenarioCheck& c = s.checks[i];
    EXPECT_EQ(r.present[i], !c.gone) << c.kind << " " << c.Joined() << " should be "
                                     << (c.gone ? "gone" : "kept");
  }
}

std::string TestName(const std::string& text) {
  std::string n = text;
  for (char& c : n)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
}

std::string ScenarioName(const std::string& file) { return file.substr(0, file.size() - 4); }

class Scenarios : public ::testing::TestWithParam<std::string> {};

TEST_P(Scenarios, RunsOnSimulatedWindows) { RunAndJudge(GetParam(), "win64", "scenario-results"); }

INSTANTIATE_TEST_SUITE_P(All, Scenarios, ::testing::ValuesIn(ScenarioFiles()),
                         [](const ::testing::TestParamInfo<std::string>& param_info) {
                           return TestName(ScenarioName(param_info.param));
                         });

class ScenarioSettings : public ::testing::TestWithParam<SettingCase> {};

TEST_P(ScenarioSettings, RunsOnSimulatedWindows) {
  RunAndJudge(GetParam().file, GetParam().setting, "scenario-results-" + GetParam().setting);
}

// Settings/ScenarioSettings.RunsOnSimulatedWindows/Wow64_full_install,
// .../Win7_32_cancel: --gtest_filter='Settings/*/Wow64_*' runs one setting.
INSTANTIATE_TEST_SUITE_P(Settings, ScenarioSettings, ::testing::ValuesIn(SettingCases()),
                         [](const ::testing::TestParamInfo<SettingCase>& param_info) {
                           std::string setting = TestName(param_info.param.setting);
                           setting[0] = static_cast<char>(toupper(static_cast<unsigned char>(setting[0])));
                           return setting + "_" + TestName(ScenarioName(param_info.param.file));
                         });

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string r;
  for (unsigned char c : bytes) {
    r += kDigits[c >> 4];
    r += kDigits[c & 15];
  }
  return r;
}

// A scenario as read, in the form of dump() in e2e/scenario.py.
std::string Dump(const Scenario& s) {
  std::ostringstream d;
  d << "scenario " << s.name << " " << s.setting << "\ntitle " << s.title << "\ncompanion " << s.companion << "\n";
  for (const ScenarioItem& p : s.plants) d << "plant " << p.kind << " " << p.Joined() << "\n";
  for (const ScenarioRun& r : s.runs) d << "run " << Hex(r.input) << " " << Hex(r.output) << " " << r.exit_code << "\n";
  for (const ScenarioCheck& c : s.checks) d << (c.gone ? "gone " : "kept ") << c.kind << " " << c.Joined() << "\n";
  for (const ScenarioItem& x : s.differs) d << "differs " << x.kind << " " << x.Joined() << "\n";
  return d.str();
}

// The Wine harnesses read the scenarios with e2e/scenario.py: it must read
// every one, in every setting, as the host runner does.
TEST(ScenarioReaders, PythonReadsEveryScenarioAsTheHostRunnerDoes) {
  std::string host;
  for (const std::string& file : ScenarioFiles()) host += Dump(ParseScenario(ScenarioDir() + "/" + file, "win64"));
  for (const SettingCase& c : SettingCases()) host += Dump(ParseScenario(ScenarioDir() + "/" + c.file, c.setting));

  std::string python;
  std::string command = "python3 -B " + std::string(ZTX_SOURCE_DIR) + "/e2e/scenario.py";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) python.append(buffer, got);
  ASSERT_EQ(pclose(pipe), 0) << command;

  std::istringstream h(host), p(python);
  std::string hl, pl, scenario;
  int line = 0;
  for (;;) {
    bool more_h = static_cast<bool>(std::getline(h, hl));
    bool more_p = static_cast<bool>(std::getline(p, pl));
    ++line;
    if (more_h && hl.compare(0, 9, "scenario ") == 0) scenario = hl;
    if (!more_h && !more_p) break;
    ASSERT_EQ(more_h ? hl : "(end)", more_p ? pl : "(end)") << "line " << line << ", " << scenario;
  }
}

// A misspelt qualifier would drop its line from every setting unnoticed.
TEST(ScenarioReaders, RefuseAnUnknownQualifier) {
  char path[] = "/tmp/ztx-scenario-XXXXXX.scn";
  int fd = mkstemps(path, 4);
  ASSERT_GE(fd, 0);
  close(fd);
  std::ofstream(path) << "title t\nwinxp,win95 out x\n";
  EXPECT_THROW(ParseScenario(path, "winxp"), std::runtime_error);
  std::ofstream(path) << "title t\nwinxp,win98 title x\n";
  EXPECT_THROW(ParseScenario(path, "winxp"), std::runtime_error);
  std::ofstream(path) << "title t\nwinxp,32-bit out x\n";
  EXPECT_EQ(ParseScenario(path, "win98").Output(), "x");
  EXPECT_EQ(ParseScenario(path, "wow64").Output(), "");
  unlink(path);
}

}  // namespace
