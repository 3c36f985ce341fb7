// The product let users write its keys, so a user may plant a registry link
// under them while the tool deletes them. The two registry steps run once
// for every call they make and every place a link may appear at that call;
// nothing outside the product may go, and a step that reports success has
// removed the product's keys.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "install_fixture.h"
#include "registry/product_registry.h"

namespace {

using install::Installation;

const std::string kServices = "HKLM\\SYSTEM\\CurrentControlSet\\Services";
const std::string kVictim = kServices + "\\Victim";

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

// Every key of HKLM outside the product's trees and the 64-bit vendor keys.
// The tree is read before the user plants anything, so no link is followed.
void KeysOutside(const Installation& inst, const std::string& key, std::set<std::string>* keys) {
  for (const std::string& product : {inst.Key("Varlume\\ZTX"), inst.Key("Corda_Vale\\KOBR_SE"),
                                     inst.Key64("Varlume\\"), inst.Key64("Corda_Vale\\")})
    if (key.compare(0, product.size(), product) == 0) return;
  keys->insert(key);
  for (const std::string& name : sim::RegSubkeys(key)) KeysOutside(inst, key + "\\" + name, keys);
}

// What a user plants at `place`: a link to the victim there, or beside it
// (in the key that holds it) a link "X" to the services that refuses the
// administrator, so it stays, and keys whose names the ANSI code page
// best-fits to "X\\Victim": U+00A5 on code page 932, U+FF3C and U+2216 on
// 1252. A walk that opens a listed name as a path reaches the victim
// through the link.
using Attack = std::function<void(const std::string& where, bool fresh)>;
void PlantLink(const std::string& where, bool) { sim::RegLink(where, kVictim); }
void PlantBestFitNames(const std::string& where, bool fresh) {
  std::string holder = fresh ? where.substr(0, where.rfind('\\')) : where;
  sim::RegLink(holder + "\\X", kServices);
  sim::RegDenyDelete(holder + "\\X");
  for (const char* fit : {"\u00a5", "\uff3c", "\u2216"}) sim::RegCreate(holder + "\\X" + fit + "Victim");
}

// One run of the steps as the driver makes them, with the attack made at
// call `moment` (0: never) in place `place`, on code page 932 at even
// moments and 1252 at odd ones. Gives what went wrong; sets *planted when
// the attack was made and *calls to the calls made.
std::vector<std::string> RunSteps(const SweepMachine& m, const Attack& attack, size_t moment, size_t place,
                                  bool* planted, size_t* calls) {
  Installation inst(m.kind, m.windows_64, 1);
  sim::SetAnsiCodePage(moment % 2 == 0 ? 932 : 1252);
  inst.Plant(install::kRegistry | install::kRegistry64);
  sim::RegSetString(kVictim, "ImagePath", "C:\\victim.sys");
  std::set<std::string> outside;
  KeysOutside(inst, "HKLM", &outside);
  std::string where = Places(inst).at(place);
  bool fresh = where.back() == '*';
  if (fresh) where.pop_back();
  *planted = false;
  size_t made = 0;
  sim::ObserveCalls([&](const sim::Call&) {
    if (++made != moment || !sim::RegExists(fresh ? where.substr(0, where.rfind('\\')) : where)) return;
    attack(where, fresh);
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
  for (const std::string& key : outside)
    if (!sim::RegExists(key)) wrong.push_back(key + " went");
  return wrong;
}

void Sweep(const SweepMachine& m, const Attack& attack) {
  bool planted = false;
  size_t calls = 0;
  ASSERT_EQ(RunSteps(m, attack, 0, 0, &planted, &calls), std::vector<std::string>{});
  const size_t places = Places(Installation(m.kind, m.windows_64, 1)).size();
  size_t runs = 0;
  size_t hurt = 0;
  for (size_t moment = 1; moment <= calls; ++moment) {
    for (size_t place = 0; place < places; ++place) {
      size_t made = 0;
      std::vector<std::string> wrong = RunSteps(m, attack, moment, place, &planted, &made);
      runs += planted;
      if (!planted || wrong.empty()) continue;
      if (++hurt <= 20) ADD_FAILURE() << "call " << moment << ", place " << place << ": " << wrong[0];
    }
  }
  std::cout << "[ sweep    ] " << m.name << ": " << calls << " calls, " << runs << " plants, " << hurt
            << " runs went wrong" << std::endl;
  EXPECT_EQ(hurt, 0u);
  EXPECT_GT(runs, calls);
}

class RegistryChangeSweep : public ::testing::TestWithParam<SweepMachine> {};

TEST_P(RegistryChangeSweep, ALinkAppearingAtAnyCallIsNeverFollowed) { Sweep(GetParam(), PlantLink); }

TEST_P(RegistryChangeSweep, NamesThatBestFitToABackslashNeverLeadOutside) { Sweep(GetParam(), PlantBestFitNames); }

INSTANTIATE_TEST_SUITE_P(Machines, RegistryChangeSweep,
                         ::testing::Values(SweepMachine{"Win2000", sim::Windows::Win2000, false},
                                           SweepMachine{"Xp", sim::Windows::WinXP, false},
                                           SweepMachine{"XpX64", sim::Windows::XP64, true},
                                           SweepMachine{"Win7x64", sim::Windows::Win7, true}),
                         [](const ::testing::TestParamInfo<SweepMachine>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
