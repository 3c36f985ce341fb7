// The product let users write its keys, so a user may plant a registry link
// under them while the tool deletes them. The registry steps run once for
// every call they make, with a link appearing at that call (in one of a few
// places); whatever the moment, nothing outside the product may go, and a
// step that reports success has removed the product's keys.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "install_fixture.h"
#include "registry/product_registry.h"

namespace {

using install::Installation;

const std::string kVictim = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Victim";

struct SweepMachine {
  const char* name;
  sim::Windows kind;
  bool windows_64;
};
void PrintTo(const SweepMachine& m, std::ostream* os) { *os << m.name; }

// Where the link appears: a physical key path and whether it replaces a key
// that stood there (a new subkey otherwise). Only made while the key above
// it is still there.
struct Placement {
  std::string path;
  bool replaces;
};

std::vector<Placement> Placements(const Installation& inst) {
  std::vector<Placement> p = {
      {inst.Key("Varlume\\ZTX\\Shared"), false},
      {inst.Key("Varlume\\ZTX\\Settings"), true},
      {inst.Key("Varlume\\ZTX\\Settings\\Filter\\Lists"), true},
      {inst.Key("Corda_Vale\\KOBR_SE\\Settings"), true},
  };
  if (inst.machine().windows_64) {
    p.push_back({inst.Key64("Varlume\\ZTX"), true});
    p.push_back({inst.Key64("Varlume\\Shared"), false});
    p.push_back({inst.Key64("Corda_Vale\\KOBR_SE"), true});
  }
  return p;
}

bool ParentExists(const std::string& path) { return sim::RegExists(path.substr(0, path.rfind('\\'))); }

struct Outcome {
  std::vector<std::string> wrong;
  bool planted = false;
};

// One run of the two registry steps as the driver makes them; the link
// appears when call `moment` (1-based, 0: never) is made.
Outcome RunSteps(const SweepMachine& m, size_t moment, size_t placement, size_t* calls) {
  Installation inst(m.kind, m.windows_64, 1);
  inst.Plant(install::kRegistry | install::kRegistry64);
  sim::RegSetString(kVictim, "ImagePath", "C:\\victim.sys");
  const int generation = inst.machine().generation;
  Placement where = Placements(inst).at(placement);
  Outcome out;
  size_t made = 0;
  sim::ObserveCalls([&](const sim::Call&) {
    if (++made != moment || !ParentExists(where.path)) return;
    if (where.replaces && !sim::RegExists(where.path)) return;
    sim::RegLink(where.path, kVictim);
    out.planted = true;
  });
  int result = -1;
  int result64 = -1;
  if (HasProductRegistry(1, generation)) result = DeleteProductRegistry(1, generation);
  if (m.windows_64 && HasProductRegistry64(1)) result64 = DeleteProductRegistry64(1);
  sim::ObserveCalls(nullptr);
  *calls = made;

  if (!sim::RegValueExists(kVictim, "ImagePath")) out.wrong.push_back("the service key went");
  for (const std::string& hurt : inst.BystandersHurt()) out.wrong.push_back("bystander gone: " + hurt);
  if (result == 1 && !inst.Left(install::kRegistry).empty()) out.wrong.push_back("success reported, keys left");
  if (result64 == 1 && !inst.Left(install::kRegistry64).empty())
    out.wrong.push_back("64-bit success reported, keys left");
  if (sim::RegOpenHandles() != 0) out.wrong.push_back("registry handles left open");
  return out;
}

class RegistryChangeSweep : public ::testing::TestWithParam<SweepMachine> {};

TEST_P(RegistryChangeSweep, ALinkAppearingAtAnyCallIsNeverFollowed) {
  const SweepMachine& m = GetParam();
  size_t calls = 0;
  ASSERT_TRUE(RunSteps(m, 0, 0, &calls).wrong.empty());
  size_t placements = 0;
  {
    Installation inst(m.kind, m.windows_64, 1);
    placements = Placements(inst).size();
  }
  size_t runs = 0;
  size_t hurt = 0;
  size_t moments_hurt = 0;
  std::vector<std::string> failures;
  for (size_t moment = 1; moment <= calls; ++moment) {
    size_t hurt_before = hurt;
    for (size_t p = 0; p < placements; ++p) {
      size_t made = 0;
      Outcome o = RunSteps(m, moment, p, &made);
      if (!o.planted) continue;
      ++runs;
      if (o.wrong.empty()) continue;
      ++hurt;
      std::string s = "call " + std::to_string(moment) + ", placement " + std::to_string(p) + ":";
      for (const std::string& w : o.wrong) s += " " + w + ";";
      failures.push_back(s);
    }
    moments_hurt += hurt != hurt_before;
  }
  std::cout << "[ sweep    ] " << m.name << ": " << calls << " calls, " << runs << " links planted, " << hurt
            << " runs went wrong, at " << moments_hurt << " of the calls" << std::endl;
  for (size_t i = 0; i < failures.size() && i < 20; ++i) ADD_FAILURE() << failures[i];
  EXPECT_EQ(hurt, 0u);
  EXPECT_GT(runs, calls);
}

INSTANTIATE_TEST_SUITE_P(Machines, RegistryChangeSweep,
                         ::testing::Values(SweepMachine{"Win2000", sim::Windows::Win2000, false},
                                           SweepMachine{"Xp", sim::Windows::WinXP, false},
                                           SweepMachine{"XpX64", sim::Windows::XP64, true},
                                           SweepMachine{"Win7x64", sim::Windows::Win7, true}),
                         [](const ::testing::TestParamInfo<SweepMachine>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
