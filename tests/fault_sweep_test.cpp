// A whole run on a fully installed machine, repeated once for every call it
// makes into Windows with that one call failing. Whatever fails, the run must
// end normally, give back everything it took, leave every bystander alone and
// never claim a removal that did not happen.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "install_fixture.h"
#include "probes/probes.h"
#include "support.h"

namespace {

using install::Installation;

struct SweepMachine {
  const char* name;
  sim::Windows kind;
  bool windows_64;
  int edition;
  bool links = false;  // links in every product folder (Installation::PlantLinks)
};

void PrintTo(const SweepMachine& m, std::ostream* os) { *os << m.name; }

// A full installation, a console with one key waiting, and on 64-bit Windows
// the companion beside the tool.
std::unique_ptr<Installation> Prepare(const SweepMachine& m) {
  auto inst = std::make_unique<Installation>(m.kind, m.windows_64, m.edition);
  inst->Plant(install::FullInstall(m.edition));
  if (m.links) inst->PlantLinks();
  if (m.windows_64) inst->PlantCompanion();
  sim::SetConsole(true);
  sim::QueueKey('x');
  sim::ClearCalls();
  return inst;
}

bool Printed(const std::string& out, const std::string& line) { return out.find(line) != std::string::npos; }

// The items that each success line, when printed, says are gone.
struct Claim {
  std::string line;
  unsigned parts;
  std::string only;  // when set, the one item of those parts the line speaks of
};

std::vector<Claim> Claims() {
  using namespace install;
  return {
      {text::Registry(true), kRegistry, ""},
      {text::Registry64(true), kRegistry64, ""},
      {text::Folders(true), kFolder | kAppData, ""},
      {text::Applet(true), kApplet, ""},
      {text::Applet64(true), kApplet, ""},
      {text::Lsp(true), kLsp, ""},
      {text::InstallInfo(true), kInstallInfo, ""},
      // the key and the Start-menu folder it names
      {text::Uninstall(true), kUninstall, ""},
  };
}

// What went wrong in one run; empty when it held.
std::vector<std::string> Judge(const Installation& inst, const std::vector<std::string>& before, const RunResult& r,
                               const std::string& failed_call) {
  std::vector<std::string> wrong;
  const std::string closing = install::text::Closing();
  if (failed_call == "GetModuleHandleA(null)") {
    // The framework's start-up is the one failure that ends the run at once,
    // with exit code 1 and before anything is looked at.
    if (r.exit_code != 1 || !r.out.empty()) wrong.push_back("framework failure not reported with exit code 1");
    if (inst.Left() != before) wrong.push_back("items removed after a framework failure");
  } else {
    if (r.exit_code != 0) wrong.push_back("exit code " + std::to_string(r.exit_code));
    if (r.out.size() < closing.size() || r.out.compare(r.out.size() - closing.size(), closing.size(), closing) != 0)
      wrong.push_back("no closing line at the end");
  }
  for (const std::string& leak : Installation::Leaks()) wrong.push_back("leak: " + leak);
  for (const std::string& hurt : inst.BystandersHurt()) wrong.push_back("bystander gone: " + hurt);
  for (const Claim& c : Claims()) {
    if (!Printed(r.out, c.line)) continue;
    for (const std::string& left : inst.Left(c.parts))
      if (c.only.empty() || left == c.only)
        wrong.push_back("success line printed but still present: " + left);
  }
  return wrong;
}

std::string Describe(const sim::Call& c) {
  if (c.name == "GetModuleHandleA" && c.args == "(null)") return "GetModuleHandleA(null)";
  return c.name + "(" + c.args + ")";
}

class FaultSweep : public ::testing::TestWithParam<SweepMachine> {};

TEST_P(FaultSweep, EveryFailingCallLeavesASoundRun) {
  const SweepMachine& m = GetParam();
  auto started = std::chrono::steady_clock::now();

  // The run without a fault: its calls are the ones to fail one by one.
  std::vector<sim::Call> calls;
  {
    std::unique_ptr<Installation> inst = Prepare(m);
    std::vector<std::string> before = inst->Left();
    RunResult r = RunTool("y\n");
    calls = sim::Calls();
    ASSERT_EQ(Judge(*inst, before, r, ""), std::vector<std::string>{});
    ASSERT_EQ(inst->Left(), std::vector<std::string>{}) << "the run without a fault removes everything";
  }

  size_t held = 0;
  std::vector<std::string> broken;
  for (size_t n = 1; n <= calls.size(); ++n) {
    std::unique_ptr<Installation> inst = Prepare(m);
    std::vector<std::string> before = inst->Left();
    sim::FailCallNumber(n);
    RunResult r = RunTool("y\n");
    std::string failed = Describe(calls[n - 1]);
    std::vector<std::string> wrong = Judge(*inst, before, r, failed);
    if (sim::FaultsFired() != 1) wrong.push_back("the fault did not fire once");
    if (wrong.empty()) {
      ++held;
      continue;
    }
    std::ostringstream s;
    s << "call " << n << " " << failed << ":";
    for (const std::string& w : wrong) s << "\n    " << w;
    broken.push_back(s.str());
  }

  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::cout << "[ sweep    ] " << m.name << ": " << calls.size() << " faults injected, " << held
            << " runs held, " << seconds << " s" << std::endl;
  RecordProperty("faults_injected", static_cast<int>(calls.size()));
  RecordProperty("runs_held", static_cast<int>(held));
  for (size_t i = 0; i < broken.size() && i < 40; ++i) ADD_FAILURE() << broken[i];
  EXPECT_EQ(held, calls.size());
}

INSTANTIATE_TEST_SUITE_P(Machines, FaultSweep,
                         ::testing::Values(SweepMachine{"XpEdition1", sim::Windows::WinXP, false, 1},
                                           SweepMachine{"XpEdition0", sim::Windows::WinXP, false, 0},
                                           SweepMachine{"XpEdition2Links", sim::Windows::WinXP, false, 2, true},
                                           SweepMachine{"Win7x64Edition2", sim::Windows::Win7, true, 2},
                                           SweepMachine{"Win7x64Edition0", sim::Windows::Win7, true, 0}),
                         [](const ::testing::TestParamInfo<SweepMachine>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
