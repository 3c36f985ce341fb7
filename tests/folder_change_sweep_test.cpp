// A user who can write where the product's folders lie acts at one moment of
// a folder step: at each call the step makes, in one run each, the user plants
// a link inside the folder being deleted, swaps a subfolder of it for a link,
// or swaps the folder above it (the vendor folder) for a link, each time
// through Windows, as the user's own calls could. Whatever the moment, nothing
// outside the product may go, no access list may change, and the step's line
// must be true.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "files/acl.h"
#include "files/folders.h"
#include "install_fixture.h"
#include "probes/probes.h"
#include "simwin/machine_shell.h"
#include "support.h"

namespace {

using install::Installation;

const char kInstallInfoName[] =
    "InstallShield Installation Information\\{6E2C41D8-93AF-4B07-A1C5-2F8D07E4B913}";
// Outside every folder a user may write: what planted links point at. It
// holds folders of the product's names, so that a path through a swapped-in
// link names something that exists.
const char kVictim[] = "C:\\Victim";

struct Machine {
  const char* name;
  sim::Windows kind;
};

// One folder of a step: the folder, the subfolder a user swaps and the folder
// above it that a user swaps (the folder itself when it lies directly in its base).
struct Target {
  std::string folder;
  std::string subfolder;
  std::string above;
};

struct Step {
  const char* name;
  unsigned parts;
  std::function<std::vector<Target>(const Installation&)> targets;
  // Runs the step; gives 1 or 0 for its line, -1 for a step without one.
  std::function<int(const Installation&)> run;
};

std::string Parent(const std::string& path) { return path.substr(0, path.rfind('\\')); }

std::vector<Step> Steps() {
  return {
      {"product folders", install::kFolder | install::kAppData,
       [](const Installation& inst) {
         return std::vector<Target>{{inst.ProductFolder(), inst.ProductFolder() + "\\data", Parent(inst.ProductFolder())},
                                    {inst.AppDataFolder(), inst.AppDataFolder() + "\\data", Parent(inst.AppDataFolder())}};
       },
       [](const Installation& inst) { return DeleteProductFolders(inst.Edition(), inst.machine().generation); }},
      {"installer information", install::kInstallInfo,
       [](const Installation& inst) {
         return std::vector<Target>{{inst.InstallInfoFolder(), inst.InstallInfoFolder() + "\\Disk1",
                                     Parent(inst.InstallInfoFolder())}};
       },
       [](const Installation& inst) {
         return DeleteFolder(inst.ProgramFiles().c_str(), kInstallInfoName);
       }},
      {"Start menu", install::kUninstall,
       [](const Installation& inst) {
         return std::vector<Target>{{inst.StartMenuFolder(), inst.StartMenuFolder() + "\\Tools", inst.StartMenuFolder()}};
       },
       [](const Installation&) {
         DeleteStartMenuFolder();
         return -1;
       }},
  };
}

enum Action { kPlantLink, kSwapSubfolder, kSwapAbove };
const char* const kActionNames[] = {"link planted inside", "subfolder swapped for a link", "folder above swapped for a link"};

void Act(Action action, const std::vector<Target>& targets) {
  for (const Target& t : targets) {
    switch (action) {
      case kPlantLink:
        sim::UserMkLink(t.folder + "\\planted", kVictim, true);
        break;
      case kSwapSubfolder:
        if (sim::UserRename(t.subfolder, t.subfolder + "-moved")) sim::UserMkLink(t.subfolder, kVictim, true);
        break;
      case kSwapAbove:
        if (sim::UserRename(t.above, t.above + "-moved")) sim::UserMkLink(t.above, kVictim, true);
        break;
    }
  }
}

// One moment: a machine with the step's folders, the victim and the folders a
// user may write; what was there before, to judge by afterwards.
struct Moment {
  std::unique_ptr<Installation> inst;
  std::unique_ptr<AdvapiLoaded> advapi;
  std::vector<Target> targets;
  std::vector<uint64_t> product;                             // nodes of the folders the step deletes
  struct Outside {
    std::string path;
    std::vector<sim::AceEntry> dacl;
  };
  std::map<uint64_t, Outside> outside;                       // every other node, as it was
  std::map<uint64_t, std::vector<sim::AceEntry>> product_dacls;
};

std::unique_ptr<Moment> Prepare(const Machine& m, const Step& step) {
  auto moment = std::make_unique<Moment>();
  moment->inst = std::make_unique<Installation>(m.kind, false, 1);
  Installation& inst = *moment->inst;
  inst.Plant(step.parts);
  moment->targets = step.targets(inst);
  for (const Target& t : moment->targets) sim::MkFile(t.subfolder + "\\keep.dat");
  for (const char* p : {"\\keep.txt", "\\sub\\keep.txt", "\\KOBR_SE\\keep.txt", "\\Tools\\keep.txt"})
    sim::MkFile(kVictim + std::string(p));
  sim::MkFile(kVictim + std::string("\\") + std::string(kInstallInfoName).substr(39) + "\\keep.txt");
  // Power Users of 2000 and XP may write Program Files, the all-users
  // application data and Start menu; on Windows 7 users may write ProgramData.
  std::string app_base = Parent(Parent(inst.AppDataFolder()));
  std::string programs = Parent(inst.StartMenuFolder());
  if (m.kind == sim::Windows::Win7) sim::SetUserWritable({"C:\\ProgramData"});
  else sim::SetUserWritable({inst.ProgramFiles(), app_base, programs});
  std::vector<std::string> product_paths;
  for (const Target& t : moment->targets) {
    product_paths.push_back(t.folder);
    for (const std::string& p : sim::ListTree(t.folder)) product_paths.push_back(p);
  }
  for (const std::string& p : product_paths) {
    moment->product.push_back(sim::NodeId(p));
    moment->product_dacls[sim::NodeId(p)] = sim::FolderDacl(p);
  }
  for (const std::string& p : sim::ListTree("C:")) {
    uint64_t id = sim::NodeId(p);
    if (!moment->product_dacls.count(id)) moment->outside[id] = {p, sim::FolderDacl(p)};
  }
  moment->advapi = std::make_unique<AdvapiLoaded>();
  sim::ClearCalls();
  return moment;
}

// What went wrong at one moment; empty when it held.
std::vector<std::string> Judge(const Moment& m, int line) {
  std::vector<std::string> wrong;
  for (const auto& o : m.outside) {
    std::string path = sim::PathOf(o.first);
    if (path.empty()) {
      // What was below it is lost too: name the top of what went.
      std::string above = Parent(o.second.path);
      if (wrong.empty() || wrong.back().find("lost outside the product: " + above) != 0)
        wrong.push_back("lost outside the product: " + o.second.path);
      continue;
    }
    if (sim::FolderDacl(path) != o.second.dacl) wrong.push_back("access list changed outside the product: " + path);
  }
  bool product_left = false;
  for (uint64_t id : m.product) {
    std::string path = sim::PathOf(id);
    if (path.empty()) continue;
    product_left = true;
    if (sim::FolderDacl(path) != m.product_dacls.at(id)) wrong.push_back("access list left changed: " + path);
  }
  if (line == 1 && product_left) wrong.push_back("success line, but the product's folders are still there");
  if (line == 0 && !product_left) wrong.push_back("failure line, but everything went");
  if (sim::OpenKernelHandles() != 0) wrong.push_back("handles left open");
  return wrong;
}

class ChangeSweep : public ::testing::TestWithParam<Machine> {};

TEST_P(ChangeSweep, NoMomentOfAUsersChangeLosesAnythingOutsideTheProduct) {
  const Machine& machine = GetParam();
  size_t moments = 0;
  size_t losing = 0;
  std::vector<std::string> broken;
  for (const Step& step : Steps()) {
    size_t calls = 0;
    {
      std::unique_ptr<Moment> dry = Prepare(machine, step);
      int line = step.run(*dry->inst);
      calls = sim::Calls().size();
      ASSERT_EQ(Judge(*dry, line), std::vector<std::string>{}) << step.name << " without a change";
    }
    for (size_t n = 1; n <= calls; ++n) {
      for (Action action : {kPlantLink, kSwapSubfolder, kSwapAbove}) {
        std::unique_ptr<Moment> m = Prepare(machine, step);
        size_t seen = 0;
        const std::vector<Target>& targets = m->targets;
        std::string at;
        sim::ObserveCalls([&](const sim::Call& c) {
          if (++seen == n) {
            at = c.name + "(" + c.args + ")";
            Act(action, targets);
          }
        });
        int line = step.run(*m->inst);
        sim::ObserveCalls(nullptr);
        ++moments;
        std::vector<std::string> wrong = Judge(*m, line);
        if (wrong.empty()) continue;
        for (const std::string& w : wrong)
          if (w.compare(0, 4, "lost") == 0) {
            ++losing;
            break;
          }
        std::ostringstream s;
        s << step.name << ", " << kActionNames[action] << " at call " << n << " " << at << ":";
        for (const std::string& w : wrong) s << "\n    " << w;
        broken.push_back(s.str());
      }
    }
  }
  std::cout << "[ change   ] " << machine.name << ": " << moments << " moments, " << losing
            << " lose something outside the product, " << broken.size() << " go wrong" << std::endl;
  for (size_t i = 0; i < broken.size() && i < 20; ++i) ADD_FAILURE() << broken[i];
  EXPECT_EQ(broken.size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Machines, ChangeSweep,
                         ::testing::Values(Machine{"Win2000", sim::Windows::Win2000}, Machine{"WinXP", sim::Windows::WinXP},
                                           Machine{"Win7", sim::Windows::Win7}),
                         [](const ::testing::TestParamInfo<Machine>& p) { return std::string(p.param.name); });

}  // namespace
