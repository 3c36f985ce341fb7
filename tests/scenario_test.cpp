// Runs every end-to-end scenario of e2e/scenarios on the simulated Windows,
// set up as the 64-bit Windows 7 of a new Wine prefix, with the 64-bit tool;
// and those of e2e/wine32-scenarios.txt set up as the 32-bit Windows 7 of a
// 32-bit Wine prefix, with the 32-bit tool. The same files drive the Wine
// harnesses (e2e/wine_run.py, e2e/wine32.py).
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
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

// The scenarios that also run with the 32-bit build under emulated Wine.
std::vector<std::string> Scenario32Files() {
  std::vector<std::string> names;
  std::ifstream list(std::string(ZTX_SOURCE_DIR) + "/e2e/wine32-scenarios.txt");
  std::string line;
  while (std::getline(list, line)) {
    if (line.empty() || line[0] == '#') continue;
    names.push_back(line);
  }
  return names;
}

// Runs the scenario, leaves what it did in the results folder for
// e2e/agree.py and judges it.
void RunAndJudge(const std::string& file, int bits, const std::string& results_name) {
  Scenario s = ParseScenario(ScenarioDir() + "/" + file, bits);
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

std::string TestName(const ::testing::TestParamInfo<std::string>& param_info) {
  std::string n = param_info.param.substr(0, param_info.param.size() - 4);
  for (char& c : n)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
}

class Scenarios : public ::testing::TestWithParam<std::string> {};

TEST_P(Scenarios, RunsOnSimulatedWindows) { RunAndJudge(GetParam(), 64, "scenario-results"); }

INSTANTIATE_TEST_SUITE_P(All, Scenarios, ::testing::ValuesIn(ScenarioFiles()), TestName);

class Scenarios32 : public ::testing::TestWithParam<std::string> {};

TEST_P(Scenarios32, RunsOnSimulated32BitWindows7) { RunAndJudge(GetParam(), 32, "scenario-results-32"); }

INSTANTIATE_TEST_SUITE_P(All, Scenarios32, ::testing::ValuesIn(Scenario32Files()), TestName);

}  // namespace
