#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "common/owners.h"
#include "regops/primitives.h"
#include "support.h"

namespace {

const char kKey[] = "SOFTWARE\\Varlume\\ZTX";
const std::string kHklmKey = "HKLM\\SOFTWARE\\Varlume\\ZTX";

// The access of the first open, or of the first open of the level named
// `level` (a deletion opens the levels above its key first).
std::string AccessOfOpen(const std::function<void()>& call, const char* level = nullptr) {
  sim::ClearCalls();
  call();
  for (const sim::Call& c : sim::Calls())
    if (c.name.compare(0, 12, "RegOpenKeyEx") == 0 && (level == nullptr || c.args.find(",\"" + std::string(level) + "\",") != std::string::npos))
      return c.args.substr(c.args.rfind(',') + 1);
  return "";
}

TEST(RegistryPrimitives, EachOperationOpensWithItsOwnAccess) {
  sim::Reset(sim::Windows::Win7, true);
  sim::RegSetString("HKLM\\SOFTWARE\\Wow6432Node\\Varlume\\ZTX", "v", "x");
  char buf[260];
  EXPECT_EQ(AccessOfOpen([] { IsRegKeyPresent(HKEY_LOCAL_MACHINE, kKey); }), "0x20019");
  EXPECT_EQ(AccessOfOpen([] { IsRegKeyPresent64(HKEY_LOCAL_MACHINE, kKey); }), "0x20119");
  EXPECT_EQ(AccessOfOpen([&] { ReadRegString(HKEY_LOCAL_MACHINE, kKey, "v", buf, sizeof buf); }), "0x20019");
  EXPECT_EQ(AccessOfOpen([&] { ReadRegValue(HKEY_LOCAL_MACHINE, kKey, "v", buf, 255); }), "0x20019");
  EXPECT_EQ(AccessOfOpen([] { IsRegValuePresent(HKEY_LOCAL_MACHINE, kKey, "v"); }), "0xf003f");
  EXPECT_EQ(AccessOfOpen([] { DeleteRegValue(HKEY_LOCAL_MACHINE, kKey, "v"); }), "0xf003f");
  EXPECT_EQ(AccessOfOpen([] { PurgeRegSubkeys64(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varlume"); }, "Varlume"), "0xf013f");
  RegDeleteDepth = 0;
  EXPECT_EQ(AccessOfOpen([] { DeleteRegKeyTree(HKEY_LOCAL_MACHINE, kKey); }, "ZTX"), "0xf003f");
  EXPECT_EQ(sim::RegOpenHandles(), 0u);
}

TEST(RegistryPrimitives, ViewsOnSixtyFourBitWindows) {
  sim::Reset(sim::Windows::Win7, true);
  sim::RegCreate(kHklmKey);  // the 64-bit view only
  EXPECT_EQ(IsRegKeyPresent(HKEY_LOCAL_MACHINE, kKey), 0);
  EXPECT_EQ(IsRegKeyPresent64(HKEY_LOCAL_MACHINE, kKey), 1);
  sim::RegCreate("HKLM\\SOFTWARE\\Wow6432Node\\Varlume\\ZTX");
  EXPECT_EQ(IsRegKeyPresent(HKEY_LOCAL_MACHINE, kKey), 1);
  EXPECT_EQ(IsRegKeyPresent(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nobody"), 0);
}

struct ReadRow {
  const char* what;
  bool plant;
  std::vector<uint8_t> value;
  size_t buffer_size;
  bool expect_copy;  // otherwise the buffer keeps its sentinel bytes
};

std::vector<uint8_t> Bytes(const std::string& s, bool terminate) {
  std::vector<uint8_t> v(s.begin(), s.end());
  if (terminate) v.push_back(0);
  return v;
}

TEST(ReadRegString, CopiesOnlyWhatFitsAsATerminatedString) {
  const ReadRow rows[] = {
      {"missing value", false, {}, 260, false},
      {"600-byte value fails the 512-byte query", true, Bytes(std::string(599, 'a'), true), 260, false},
      {"empty string", true, Bytes("", true), 260, true},
      {"zero bytes", true, {}, 260, true},
      {"short value without terminator", true, Bytes("ab", false), 260, true},
      {"259 characters and terminator fill the buffer", true, Bytes(std::string(259, 'p'), true), 260, true},
      {"260 characters and terminator do not fit", true, Bytes(std::string(260, 'p'), true), 260, false},
      {"260 bytes without terminator do not fit", true, Bytes(std::string(260, 'p'), false), 260, false},
      {"512 bytes fit a large buffer", true, Bytes(std::string(511, 'q'), true), 600, true},
  };
  for (const ReadRow& row : rows) {
    sim::Reset(sim::Windows::WinXP);
    if (row.plant) sim::RegSetRaw(kHklmKey, "v", REG_SZ, row.value);
    std::vector<char> buf(row.buffer_size + 8, static_cast<char>(0xbd));
    ReadRegString(HKEY_LOCAL_MACHINE, kKey, "v", buf.data(), row.buffer_size);
    if (row.expect_copy) {
      std::string got(buf.data());
      std::string want(row.value.begin(), row.value.end());
      want = want.substr(0, want.find('\0'));
      EXPECT_EQ(got, want) << row.what;
    } else {
      EXPECT_EQ(static_cast<uint8_t>(buf[0]), 0xbd) << row.what;
    }
    // Nothing is ever written past the caller's buffer.
    for (size_t i = row.buffer_size; i < buf.size(); ++i)
      ASSERT_EQ(static_cast<uint8_t>(buf[i]), 0xbd) << row.what;
    EXPECT_EQ(sim::RegOpenHandles(), 0u) << row.what;
  }
}

TEST(RegistryValues, PresenceReadAndDeletion) {
  sim::Reset(sim::Windows::WinXP);
  sim::RegSetRaw(kHklmKey, "empty", REG_BINARY, {});
  sim::RegSetString(kHklmKey, "name", "ZTX Filter");
  EXPECT_EQ(IsRegValuePresent(HKEY_LOCAL_MACHINE, kKey, "empty"), 1);
  EXPECT_EQ(IsRegValuePresent(HKEY_LOCAL_MACHINE, kKey, "none"), 0);

  char name[256] = {};
  EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, kKey, "name", name, 255), 1);
  EXPECT_STREQ(name, "ZTX Filter");
  EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, kKey, "name", name, 4), 0);  // too small
  EXPECT_EQ(ReadRegValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\None", "name", name, 255), 0);

  EXPECT_EQ(DeleteRegValue(HKEY_LOCAL_MACHINE, kKey, "none"), 0);
  EXPECT_EQ(DeleteRegValue(HKEY_LOCAL_MACHINE, kKey, "empty"), 1);
  EXPECT_FALSE(sim::RegValueExists(kHklmKey, "empty"));
  EXPECT_TRUE(sim::RegValueExists(kHklmKey, "name"));

  // A key that may be read but not written hides its values from the test.
  sim::RegDenyWrite(kHklmKey);
  EXPECT_EQ(IsRegValuePresent(HKEY_LOCAL_MACHINE, kKey, "name"), 0);
  EXPECT_EQ(DeleteRegValue(HKEY_LOCAL_MACHINE, kKey, "name"), 0);
  EXPECT_EQ(sim::RegOpenHandles(), 0u);
}

// Plants `depth` levels below root, `width` subkeys at every level.
void PlantTree(const std::string& root, int depth, int width) {
  sim::RegCreate(root);
  if (depth == 0) return;
  for (int i = 0; i < width; ++i) PlantTree(root + "\\k" + std::to_string(i), depth - 1, width);
}

TEST(DeleteRegKeyTree, RemovesTreesOfAnyDepth) {
  sim::Reset(sim::Windows::WinXP);
  sim::RegCreate("HKLM\\SOFTWARE\\Varlume\\Other");
  PlantTree(kHklmKey, 8, 3);
  sim::RegSetString(kHklmKey + "\\k0\\k1\\k2\\k0\\k1\\k2\\k0", "deep", "x");
  RegDeleteDepth = 0;
  EXPECT_EQ(DeleteRegKeyTree(HKEY_LOCAL_MACHINE, kKey), 1);
  EXPECT_FALSE(sim::RegExists(kHklmKey));
  EXPECT_TRUE(sim::RegExists("HKLM\\SOFTWARE\\Varlume\\Other"));
  EXPECT_EQ(RegDeleteDepth, 0);
  EXPECT_EQ(sim::RegOpenHandles(), 0u);
  // Every key is opened by its own name relative to its parent and deleted
  // through that handle, never by a path.
  for (const sim::Call& c : sim::Calls()) {
    EXPECT_NE(c.name, "SHDeleteKeyA");
    EXPECT_NE(c.name, "RegDeleteKeyA");
    if (c.name == "RegOpenKeyExW") {
      EXPECT_EQ(c.args.find('\\'), std::string::npos) << c.args;
    }
  }
  EXPECT_EQ(sim::CountCalls("NtDeleteKey"), sim::CountCalls("RegOpenKeyExW") - 2);
}

TEST(DeleteRegKeyTree, EdgesOfTheTree) {
  sim::Reset(sim::Windows::WinXP);
  RegDeleteDepth = 0;
  EXPECT_EQ(DeleteRegKeyTree(HKEY_LOCAL_MACHINE, kKey), 0);  // absent

  sim::RegCreate(kHklmKey);
  EXPECT_EQ(DeleteRegKeyTree(HKEY_LOCAL_MACHINE, kKey), 1);  // no subkeys

  PlantTree(kHklmKey, 2, 2);
  RegDeleteDepth = 33;
  sim::ClearCalls();
  EXPECT_EQ(DeleteRegKeyTree(HKEY_LOCAL_MACHINE, kKey), 0);
  EXPECT_TRUE(sim::Calls().empty());
  EXPECT_EQ(sim::RegCountKeys(kHklmKey), 7u);
  RegDeleteDepth = 0;

  // Names as long as Windows allows, 255 characters (510 bytes in code page
  // 932), go; a key more than 32 levels below the top stays with its
  // ancestors.
  std::string wide;
  for (int i = 0; i < 255; ++i) wide += "\u3042";
  sim::RegCreate(kHklmKey + "\\" + std::string(255, 'n') + "\\" + wide);
  EXPECT_EQ(DeleteRegKeyTree(HKEY_LOCAL_MACHINE, kKey), 1);
  EXPECT_FALSE(sim::RegExists(kHklmKey));
  std::string deep = kHklmKey;
  for (int i = 0; i < 33; ++i) deep += "\\d";
  sim::RegCreate(deep);
  sim::RegCreate(kHklmKey + "\\shallow");
  EXPECT_EQ(DeleteRegKeyTree(HKEY_LOCAL_MACHINE, kKey), 0);
  EXPECT_TRUE(sim::RegExists(deep));
  EXPECT_EQ(RegDeleteDepth, 0);
  sim::RegDelete(kHklmKey);

  // A key that refuses deletion fails the whole call.
  PlantTree(kHklmKey, 1, 2);
  sim::RegDenyDelete(kHklmKey + "\\k1");
  EXPECT_EQ(DeleteRegKeyTree(HKEY_LOCAL_MACHINE, kKey), 0);
  EXPECT_TRUE(sim::RegExists(kHklmKey + "\\k1"));
  EXPECT_EQ(RegDeleteDepth, 0);
}

TEST(PurgeRegSubkeys64, DeletesDirectSubkeysInTheSixtyFourBitView) {
  sim::Reset(sim::Windows::Win7, true);
  const std::string vendor = "HKLM\\SOFTWARE\\Varlume";
  EXPECT_EQ(PurgeRegSubkeys64(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varlume"), 0);  // missing

  sim::RegSetString(vendor, "kept", "x");
  EXPECT_EQ(PurgeRegSubkeys64(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varlume"), 1);  // nothing below
  for (const char* k : {"\\ZTX", "\\Other", "\\Third"}) sim::RegCreate(vendor + k);
  sim::RegCreate("HKLM\\SOFTWARE\\Wow6432Node\\Varlume\\ZTX");
  EXPECT_EQ(PurgeRegSubkeys64(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varlume"), 1);
  EXPECT_TRUE(sim::RegSubkeys(vendor).empty());
  EXPECT_TRUE(sim::RegValueExists(vendor, "kept"));
  EXPECT_TRUE(sim::RegExists("HKLM\\SOFTWARE\\Wow6432Node\\Varlume\\ZTX"));  // the other view stays
  EXPECT_EQ(sim::RegOpenHandles(), 0u);
}

// Windows XP x64 and Server 2003 x64 open a name relative to a handle of the
// 64-bit view in the 32-bit view unless told otherwise: there a purge that
// lets them choose deletes other products' same-named keys of the 32-bit
// view and leaves the 64-bit ones.
TEST(PurgeRegSubkeys64, DeletesInTheSixtyFourBitViewOfEverySixtyFourBitWindows) {
  const sim::Windows kinds[] = {sim::Windows::XP64, sim::Windows::Server2003, sim::Windows::Vista,
                                sim::Windows::Win7};
  for (sim::Windows kind : kinds) {
    SCOPED_TRACE(static_cast<int>(kind));
    sim::Reset(kind, true);
    const std::string vendor64 = "HKLM\\SOFTWARE\\Varlume";
    const std::string vendor32 = "HKLM\\SOFTWARE\\Wow6432Node\\Varlume";
    for (const char* k : {"\\ZTX", "\\Other"}) sim::RegCreate(vendor64 + k);
    for (const char* k : {"\\ZTX", "\\Other", "\\Tool"}) sim::RegCreate(vendor32 + k);
    EXPECT_EQ(PurgeRegSubkeys64(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varlume"), 1);
    EXPECT_EQ(sim::RegSubkeys(vendor64), std::vector<std::string>());
    EXPECT_EQ(sim::RegSubkeys(vendor32), (std::vector<std::string>{"Other", "Tool", "ZTX"}));
    EXPECT_EQ(sim::RegOpenHandles(), 0u);
  }
}

TEST(PurgeRegSubkeys64, EndsAndReportsFailureWhenASubkeyStays) {
  sim::Reset(sim::Windows::Win7, true);
  const std::string vendor = "HKLM\\SOFTWARE\\Varlume";
  sim::RegCreate(vendor + "\\A\\Child");  // Windows refuses a key with subkeys
  sim::RegCreate(vendor + "\\B");
  sim::RegCreate(vendor + "\\C");
  EXPECT_EQ(PurgeRegSubkeys64(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varlume"), 0);
  EXPECT_EQ(sim::RegSubkeys(vendor), std::vector<std::string>{"A"});
  EXPECT_LE(sim::CountCalls("RegDeleteKeyA"), 3u);

  // The longest name a key can have (255 characters, 510 bytes in code page
  // 932) neither ends the purge nor stays.
  sim::Reset(sim::Windows::Win7, true);
  std::string longest;
  for (int i = 0; i < 255; ++i) longest += "\u3042";
  for (const std::string& k : {longest, std::string("\u3044"), std::string("\u3046")})
    sim::RegCreate(vendor + "\\" + k);
  EXPECT_EQ(PurgeRegSubkeys64(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varlume"), 1);
  EXPECT_TRUE(sim::RegSubkeys(vendor).empty());
  EXPECT_EQ(sim::RegOpenHandles(), 0u);
}

// A user who adds a subkey for every one the tool deletes (100,000 of them)
// cannot keep either walk going: it stops after 65,536 names and fails.
TEST(RegistryWalks, AFloodingUserCannotKeepAWalkGoing) {
  for (bool purge : {false, true}) {
    SCOPED_TRACE(purge ? "64-bit purge" : "tree deletion");
    sim::Reset(sim::Windows::Win7, true);
    const std::string top = purge ? "HKLM\\SOFTWARE\\Varlume" : "HKLM\\SOFTWARE\\Wow6432Node\\Varlume\\ZTX";
    sim::RegCreate(top + "\\k0");
    int added = 0;
    sim::ObserveCalls([&](const sim::Call& c) {
      if (c.name == "NtDeleteKey" && added < 100000) sim::RegCreate(top + "\\k" + std::to_string(++added));
    });
    RegDeleteDepth = 0;
    EXPECT_EQ(purge ? PurgeRegSubkeys64(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varlume")
                    : DeleteRegKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varlume\\ZTX"),
              0);
    sim::ObserveCalls(nullptr);
    EXPECT_LE(sim::CountCalls("NtDeleteKey"), 65536u);
    EXPECT_EQ(sim::RegOpenHandles(), 0u);
  }
}

// Where older Windows refuse an open: the WOW64 flags on Windows 2000, and
// any ulOptions on 98 and Me.
TEST(SimulatedRegistry, RefusesWhatOlderWindowsRefuse) {
  const struct {
    sim::Windows kind;
    DWORD options;
    REGSAM access;
    LSTATUS want;
  } rows[] = {
      {sim::Windows::Win2000, 0, KEY_READ | KEY_WOW64_64KEY, ERROR_ACCESS_DENIED},
      {sim::Windows::Win2000, 0, KEY_READ | KEY_WOW64_32KEY, ERROR_ACCESS_DENIED},
      {sim::Windows::WinXP, 0, KEY_READ | KEY_WOW64_64KEY, ERROR_SUCCESS},
      {sim::Windows::Win98, REG_OPTION_OPEN_LINK, KEY_READ, ERROR_INVALID_PARAMETER},
      {sim::Windows::WinMe, REG_OPTION_OPEN_LINK, KEY_READ, ERROR_INVALID_PARAMETER},
  };
  for (const auto& row : rows) {
    sim::Reset(row.kind);
    ScopedRegKey key;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", row.options, row.access, key.Receive()), row.want)
        << static_cast<int>(row.kind) << " " << row.options << " " << row.access;
  }
}

}  // namespace

namespace {

TEST(RegistryViews, DeletionsThroughTheRootFollowTheToolsView) {
  // The 32-bit tool on 64-bit Windows deletes in SOFTWARE\Wow6432Node.
  sim::Reset(sim::Windows::Win7, true);
  sim::RegCreate("HKLM\\SOFTWARE\\Wow6432Node\\Varlume\\ZTX\\Sub");
  sim::RegCreate("HKLM\\SOFTWARE\\Varlume\\ZTX");
  RegDeleteDepth = 0;
  EXPECT_EQ(DeleteRegKeyTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Varlume\\ZTX"), 1);
  EXPECT_FALSE(sim::RegExists("HKLM\\SOFTWARE\\Wow6432Node\\Varlume\\ZTX"));
  EXPECT_TRUE(sim::RegExists("HKLM\\SOFTWARE\\Varlume\\ZTX"));
}

}  // namespace
