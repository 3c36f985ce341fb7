// End-to-end scenarios as data: what to plant, what to answer, what must be
// printed, gone and kept. Read from e2e/scenarios/*.scn (format in
// e2e/README.md) and run on the simulated Windows.
#pragma once

#include <string>
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
  int bits = 64;  // the build it was read for: 32 or 64
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

// Reads the scenario as the build of that many bits runs it: a line that
// starts with "32-bit" or "64-bit" belongs to that build only.
Scenario ParseScenario(const std::string& path, int bits = 64);

struct ScenarioResult {
  std::vector<int> exit_codes;  // one per run
  std::string output;           // bytes written by the tool, every run in order
  std::vector<bool> present;    // one per check
  std::vector<std::string> state_lines;
};

// Sets up the simulated Windows like a new Wine prefix of the scenario's build
// (64-bit Wine and the 64-bit tool, or 32-bit Wine and the 32-bit tool),
// plants the scenario and runs the tool.
ScenarioResult RunScenarioOnHost(const Scenario& s);
