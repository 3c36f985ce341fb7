// The product let users write its keys, so a user may plant a registry link
// under them while the tool deletes them. The two registry steps run once
// for every call they make and every place a link may appear at that call;
// nothing outside the product may go, and a step that reports success has
// removed the product's keys.
#include <gtest/gtest.h>

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

// Where a link may appear: a new subkey, or in place of a key (made only
// while that key, or the key above a new one, is still there).
std::vector<std::string> Places(const Installation& inst) {
  std::vector<std::string> p = {inst.Key("Varlume\\ZTX\\Shared*"), inst.Key("Varlume\\ZTX\\Settings"),
                                inst.Key("Varlume\\ZTX\\Settings\\Filter\\Lists"),
                                inst.Key("Corda_Vale\\KOBR_SE\\Settings")};
  if (inst.machine().windows_64)
    p.insert(p.end(), {inst.Key64("Varlume\\ZTX"), inst.Key64("Varlume\\Shared*"), inst.Key64("Corda_Vale\\KOBR_SE")});
  return p;
}

// One run of the steps as the driver makes them, with a link appearing at
// call `moment` (0: never) in place `place`. Gives what went wrong; sets
// *planted when the link appeared and *calls to the calls made.
std::vector<std::string> RunSteps(const SweepMachine& m, size_t moment, size_t place, bool* planted, size_t* calls) {
  Installation inst(m.kind, m.windows_64, 1);
  inst.Plant(install::kRegistry | install::kRegistry64);
  sim::RegSetString(kVictim, "ImagePath", "C:\\victim.sys");
  std::string where = Places(inst).at(place);
  bool fresh = where.back() == '*';
  if (fresh) where.pop_back();
  *planted = false;
  size_t made = 0;
  sim::ObserveCalls([&](const sim::Call&) {
    if (++made != moment || !sim::RegExists(fresh ? where.substr(0, where.rfind('\\')) : where)) return;
    sim::RegLink(where, kVictim);
    *planted = true;
  });
  const int generation = inst.machine().generation;
  int result = HasProductRegistry(1, generation) ? DeleteProductRegistry(1, generation) : -1;
  int result64 = m.windows_64 && HasProductRegistry64(1) ? DeleteProductRegistry64(1) : -1;
  sim::ObserveCalls(nullptr);
  *calls = made;
  std::vector<std::string> wrong = inst.BystandersHurt();
  if (!sim::RegValueExists(kVictim, "ImagePath")) wrong.push_back("the service key went");
  if (result == 1 && !inst.Left(install::kRegistry).empty()) wrong.push_back("success reported, keys left");
  if (result64 == 1 && !inst.Left(install::kRegistry64).empty()) wrong.push_back("64-bit success, keys left");
  if (sim::RegOpenHandles() != 0) wrong.push_back("registry handles left open");
  return wrong;
}

class RegistryChangeSweep : public ::testing::TestWithParam<SweepMachine> {};

TEST_P(RegistryChangeSweep, ALinkAppearingAtAnyCallIsNeverFollowed) {
  const SweepMachine& m = GetParam();
  bool planted = false;
  size_t calls = 0;
  ASSERT_EQ(RunSteps(m, 0, 0, &planted, &calls), std::vector<std::string>{});
  const size_t places = Places(Installation(m.kind, m.windows_64, 1)).size();
  size_t runs = 0;
  size_t hurt = 0;
  for (size_t moment = 1; moment <= calls; ++moment) {
    for (size_t place = 0; place < places; ++place) {
      size_t made = 0;
      std::vector<std::string> wrong = RunSteps(m, moment, place, &planted, &made);
      runs += planted;
      if (!planted || wrong.empty()) continue;
      if (++hurt <= 20) ADD_FAILURE() << "call " << moment << ", place " << place << ": " << wrong[0];
    }
  }
  std::cout << "[ sweep    ] " << m.name << ": " << calls << " calls, " << runs << " links planted, " << hurt
            << " runs went wrong" << std::endl;
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
