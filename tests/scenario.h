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

struct Scenario {
  std::string name;
  std::string title;
  std::string input;
  std::string companion = "none";
  std::vector<ScenarioItem> plants;
  std::string output;  // UTF-8, "\n" as the tool writes it
  int exit_code = 0;
  std::vector<ScenarioCheck> checks;
  std::vector<std::string> differs;
};

Scenario ParseScenario(const std::string& path);

struct ScenarioResult {
  int exit_code = -1;
  std::string output;  // bytes written by the tool
  std::vector<bool> present;  // one per check
  std::vector<std::string> state_lines;
  std::vector<std::string> unsupported;  // directives the host cannot run yet
};

// Sets up the simulated Windows like a new 64-bit Wine prefix, plants the
// scenario and runs the tool.
ScenarioResult RunScenarioOnHost(const Scenario& s);
