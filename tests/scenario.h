// End-to-end scenarios as data: what to plant, what to answer, what must be
// printed, gone and kept. Read from e2e/scenarios/*.scn (format in
// e2e/README.md) for one setting, and run on the simulated Windows set up
// as Wine's prefix of that setting.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct ScenarioItem {
  std::string kind;
  std::vector<std::string> fields;
  std::string Joined() const;
};
struct ScenarioCheck : ScenarioItem {
  bool gone = false;
};

// One run of the tool on the planted machine.
struct ScenarioRun {
  std::string input;
  std::string output;  // UTF-8, "\n" as the tool writes it
  int exit_code = 0;
};

struct Scenario {
  std::string name;
  std::string setting = "win64";  // the setting it was read for
  std::string title;
  std::string companion = "none";
  std::vector<ScenarioItem> plants;
  std::vector<ScenarioRun> runs;
  std::vector<ScenarioCheck> checks;  // judged after the last run
  // What Wine does differently from Windows; the simulated Windows behaves as
  // Windows does, so the host judges these like any other line or check.
  std::vector<ScenarioItem> differs;
  std::string Output() const;  // every run's output in order
};

// Reads the scenario for one setting: win64 (the 64-bit build on 64-bit
// Windows 7), or the 32-bit tool on win7-32, wow64, winxp, win2000 or win98.
// A line that starts with qualifiers ("win98,win2000 out ...", "32-bit gone
// ...") holds only in the settings they name; paths are expanded as that
// setting lays the machine out.
Scenario ParseScenario(const std::string& path, const std::string& setting = "win64");

// The settings of e2e/settings.txt in their order, each with its scenario
// files ("cancel.scn"); "all" stands for every file of all_files.
std::vector<std::pair<std::string, std::vector<std::string>>> ReadSettings(
    const std::string& path, const std::vector<std::string>& all_files);

struct ScenarioResult {
  std::vector<int> exit_codes;  // one per run
  std::string output;           // bytes written by the tool, every run in order
  std::vector<bool> present;    // one per check
  std::vector<std::string> state_lines;
};

// Sets up the simulated Windows like a new Wine prefix of the scenario's
// setting, plants the scenario and runs the tool.
ScenarioResult RunScenarioOnHost(const Scenario& s);
