#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "process/stop.h"
#include "simwin/machine_process.h"
#include "support.h"

namespace {

const char kProductDir[] = "C:\\Program Files\\Varlume\\ZTX\\";

// Plants a running program whose file carries that company name.
DWORD PlantProgram(const std::string& path, const std::string& company) {
  sim::SetVersionResource(path, sim::MakerVersion(company));
  return sim::AddProcess(path);
}

// Programs of other makers and of the system that must outlive every run.
std::vector<DWORD> PlantBystanders() {
  std::vector<DWORD> pids;
  sim::MkFile("C:\\WINDOWS\\explorer.exe");
  pids.push_back(sim::AddProcess("C:\\WINDOWS\\explorer.exe"));
  pids.push_back(PlantProgram("C:\\Program Files\\Other\\ztxcfg.exe", "Other Maker Ltd."));
  pids.push_back(PlantProgram(std::string(kProductDir) + "ztxupd.exe", "Varlume Inc."));
  return pids;
}

void ExpectBystandersRunning(const std::vector<DWORD>& pids) {
  for (DWORD pid : pids) EXPECT_TRUE(sim::IsRunning(pid)) << "bystander " << pid << " was stopped";
}

void ExpectAllReleased() {
  EXPECT_EQ(sim::LoadedCount("PSAPI"), 0);
  EXPECT_EQ(sim::LoadedCount("VDMDBG"), 0);
  EXPECT_EQ(sim::LoadedCount("KERNEL32"), 0);
  EXPECT_EQ(sim::LiveHeapBlocks(), 0u);
  EXPECT_EQ(sim::LiveLocalBlocks(), 0u);
  EXPECT_EQ(sim::OpenKernelHandles(), 0u);
}

std::string StopAndCapture() {
  return sim::RunWithConsole("", [] { StopProductProcesses(); });
}

std::vector<std::string> QueriesOf(const std::string& value_name) {
  std::vector<std::string> out;
  for (const sim::Call& c : sim::Calls()) {
    if (c.name != "VerQueryValueA") continue;
    size_t q = c.args.find('"');
    std::string path = c.args.substr(q + 1, c.args.size() - q - 2);
    if (path.size() >= value_name.size() &&
        path.compare(path.size() - value_name.size(), value_name.size(), value_name) == 0)
      out.push_back(path);
  }
  return out;
}

}  // namespace

TEST(ProductProcess, RecognisedByFileNameAndMakersNameInTheCompany) {
  struct Row {
    const char* file;     // "" + kProductDir, or a whole path when it has a colon
    const char* company;
    bool stopped;
  } rows[] = {
      {"ztxcfg.exe", "Varlume", true},
      {"ztxblk.exe", "Varlume Inc.", true},
      {"ZTXBLK.EXE", "VARLUME CORPORATION", true},
      {"ZtxBlk.Exe", "varlume", true},
      {"ztxcfg.exe", "Kabushiki Kaisha vArLuMe Japan", true},
      {"ztxcfg.exe", "MegaVarlumeSoft", true},          // inside another word
      {"ztxcfg.exe", "Other Maker Ltd.", false},
      {"ztxcfg.exe", "Varlum", false},
      {"ztxcfg.exe", "Var lume", false},
      {"ztxsvc.exe", "Varlume", false},                 // another program of the maker
      {"ztxcfg.exe.bak", "Varlume", false},
      {"xztxcfg.exe", "Varlume", false},
      {"ztxcfg.ex", "Varlume", false},
      {"C:ztxcfg.exe", "Varlume", false},               // no backslash
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.file) + " / " + row.company);
    sim::Reset(sim::Windows::WinXP);
    std::vector<DWORD> bystanders = PlantBystanders();
    std::string path = strchr(row.file, ':') ? row.file : std::string(kProductDir) + row.file;
    DWORD pid = PlantProgram(path, row.company);
    sim::ClearCalls();
    EXPECT_EQ(StopAndCapture(), "");
    EXPECT_EQ(sim::IsRunning(pid), !row.stopped);
    if (row.stopped) {
      EXPECT_EQ(sim::ProcessExitCode(pid), 0u);
    }
    ExpectBystandersRunning(bystanders);
    ExpectAllReleased();
  }
}

TEST(ProductProcess, ProgramWithoutReadableVersionResourceIsLeftRunning) {
  sim::Reset(sim::Windows::WinXP);
  std::string dir = kProductDir;
  sim::MkFile(dir + "ztxcfg.exe");  // no version resource
  DWORD bare = sim::AddProcess(dir + "ztxcfg.exe");
  DWORD gone = sim::AddProcess(dir + "ztxblk.exe");  // file deleted while running
  sim::VersionResource no_company = sim::MakerVersion("Varlume");
  no_company.tables[0].strings.erase(no_company.tables[0].strings.begin());
  sim::SetVersionResource("C:\\Other\\ztxcfg.exe", no_company);
  DWORD nameless = sim::AddProcess("C:\\Other\\ztxcfg.exe");
  sim::VersionResource empty_company = sim::MakerVersion("");
  sim::SetVersionResource("C:\\Other2\\ztxcfg.exe", empty_company);
  DWORD empty = sim::AddProcess("C:\\Other2\\ztxcfg.exe");

  EXPECT_EQ(StopAndCapture(), "");
  for (DWORD pid : {bare, gone, nameless, empty}) EXPECT_TRUE(sim::IsRunning(pid)) << pid;
  ExpectAllReleased();
}

TEST(ProductProcess, SixteenBitTaskIsLeftAloneAndItsFileNotRead) {
  sim::Reset(sim::Windows::WinXP);
  std::string task_file = std::string(kProductDir) + "ztxcfg.exe";
  sim::SetVersionResource(task_file, sim::MakerVersion("Varlume"));
  sim::PlantedProcess host;
  host.path = "NTVDM.EXE";
  host.tasks = {{0x2b7e, task_file}};
  DWORD pid = sim::AddProcess(host);
  sim::ClearCalls();
  EXPECT_EQ(StopAndCapture(), "");
  EXPECT_TRUE(sim::IsRunning(pid));
  EXPECT_EQ(sim::CountCalls("VDMEnumTaskWOWEx"), 1u);
  for (const sim::Call& c : sim::Calls())
    EXPECT_EQ(c.args.find("ztxcfg"), std::string::npos) << c.name << " " << c.args;
  ExpectAllReleased();
}

TEST(ProductProcess, StoppedOnWindows98FromTheSnapshotName) {
  sim::Reset(sim::Windows::Win98);
  std::vector<DWORD> bystanders = PlantBystanders();
  DWORD pid = PlantProgram("C:\\PROGRA~1\\VARLUME\\ZTX\\ZTXBLK.EXE", "Varlume");
  EXPECT_EQ(StopAndCapture(), "");
  EXPECT_FALSE(sim::IsRunning(pid));
  ExpectBystandersRunning(bystanders);
  ExpectAllReleased();
}

// The name must fit the 1024-byte buffer with its NUL; a longer one is no
// name at all, and the buffer is never written past its end.
TEST(CompanyName, LengthMustLeaveRoomForTheNul) {
  struct Row {
    size_t chars;
    bool read;
  } rows[] = {{1, true}, {1022, true}, {1023, false}, {1024, false}, {4000, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.chars);
    sim::Reset(sim::Windows::WinXP);
    std::string company = row.chars == 1 ? "V" : "Varlume" + std::string(row.chars - 7, 'x');
    std::string path = std::string(kProductDir) + "ztxcfg.exe";
    DWORD pid = PlantProgram(path, company);

    std::vector<char> buffer(1024 + 64, static_cast<char>(0xbd));
    EXPECT_EQ(ReadCompanyName(path.c_str(), buffer.data(), 1024), row.read);
    if (row.read) {
      EXPECT_EQ(std::string(buffer.data()), company);
    }
    size_t untouched_from = row.read ? row.chars + 1 : 0;
    for (size_t i = untouched_from; i < buffer.size(); ++i)
      ASSERT_EQ(buffer[i], static_cast<char>(0xbd)) << "byte " << i << " written";

    EXPECT_EQ(StopAndCapture(), "");
    EXPECT_EQ(sim::IsRunning(pid), !(row.read && row.chars >= 7));
  }
}

TEST(CompanyName, ReadOnlyUnderTheTranslationThatHasAFileVersion) {
  sim::Reset(sim::Windows::WinXP);
  // The first listed translation has no FileVersion; the second does.
  sim::VersionResource r;
  r.translations = {{0x0409, 0x04b0}, {0x0411, 0x03a4}};
  r.tables = {{0x0409, 0x04b0, {{"CompanyName", "Other Maker Ltd."}}},
              {0x0411, 0x03a4, {{"CompanyName", "Varlume"}, {"FileVersion", "2, 0"}}}};
  std::string listed = std::string(kProductDir) + "ztxcfg.exe";
  sim::SetVersionResource(listed, r);
  DWORD second_entry = sim::AddProcess(listed);
  // The maker's name lies in a block without a FileVersion.
  sim::VersionResource elsewhere;
  elsewhere.translations = {{0x0409, 0x04b0}};
  elsewhere.tables = {{0x0409, 0x04b0, {{"FileVersion", "2, 0"}, {"CompanyName", "Reseller"}}},
                      {0x0411, 0x04b0, {{"CompanyName", "Varlume"}}}};
  sim::SetVersionResource("C:\\Other\\ztxblk.exe", elsewhere);
  DWORD other_block = sim::AddProcess("C:\\Other\\ztxblk.exe");

  char name[1024];
  ASSERT_TRUE(ReadCompanyName(listed.c_str(), name, sizeof name));
  EXPECT_STREQ(name, "Varlume");
  EXPECT_EQ(StopAndCapture(), "");
  EXPECT_FALSE(sim::IsRunning(second_entry));
  EXPECT_TRUE(sim::IsRunning(other_block));
}

TEST(VersionTranslation, FallbackSearchesEachCodePageWithEveryLanguageInTableOrder) {
  const WORD code_pages[] = {0, 932, 949, 950, 1200, 1250, 1251, 1252, 1253, 1254, 1255, 1256};
  std::vector<WORD> languages;
  for (WORD l = 0x0401; l <= 0x0421; ++l) languages.push_back(l);
  for (WORD l : {0x0804, 0x0807, 0x0809, 0x080A, 0x080C, 0x0810, 0x0813, 0x0814, 0x0816, 0x081A,
                 0x0C0C, 0x100C})
    languages.push_back(l);
  ASSERT_EQ(languages.size(), 45u);
  std::vector<std::string> all;
  for (WORD cp : code_pages)
    for (WORD l : languages) {
      char q[64];
      snprintf(q, sizeof q, "\\StringFileInfo\\%04x%04x\\FileVersion", l, cp);
      all.push_back(q);
    }

  struct Row {
    const char* what;
    bool list;                                     // a translation list is present
    std::vector<std::pair<WORD, WORD>> listed;     // its entries
    std::vector<std::pair<WORD, WORD>> versions;   // tables with a FileVersion
    bool found;
    WORD language, code_page;
    size_t fallback_queries;
  } rows[] = {
      {"no list, Japanese in 1252", false, {}, {{0x0411, 1252}}, true, 0x0411, 1252, 7 * 45 + 17},
      {"code page 0 comes before 932", false, {}, {{0x0401, 932}, {0x0409, 0}}, true, 0x0409, 0, 9},
      {"empty list", true, {}, {{0x100C, 1256}}, true, 0x100C, 1256, 540},
      {"listed entries without FileVersion", true, {{0x0409, 1200}}, {{0x0412, 949}}, true, 0x0412,
       949, 2 * 45 + 18},
      {"nothing anywhere", false, {}, {{0x0409, 437}}, false, 0xBEEF, 0xBEEF, 540},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    sim::Reset(sim::Windows::WinXP);
    sim::VersionResource r;
    r.has_translation_list = row.list;
    r.translations = row.listed;
    for (auto v : row.versions) r.tables.push_back({v.first, v.second, {{"FileVersion", "1"}}});
    sim::SetVersionResource("C:\\f.exe", r);
    DWORD size = GetFileVersionInfoSizeA("C:\\f.exe", nullptr);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA("C:\\f.exe", 0, size, block.data()));
    sim::ClearCalls();

    WORD language = 0xBEEF, code_page = 0xBEEF;
    EXPECT_EQ(FindVersionTranslation(block.data(), &language, &code_page), row.found);
    EXPECT_EQ(language, row.language);
    EXPECT_EQ(code_page, row.code_page);
    std::vector<std::string> queries = QueriesOf("\\FileVersion");
    std::vector<std::string> fallback(queries.begin() + row.listed.size(), queries.end());
    std::vector<std::string> expected(all.begin(), all.begin() + row.fallback_queries);
    EXPECT_EQ(fallback, expected);
  }
}

TEST(SystemErrorText, PrintedWithALineEndOrAsTheNumberWhenTheSystemHasNone) {
  sim::Reset(sim::Windows::WinXP);
  sim::SetMessageText(5, "Access is denied.\r\n");
  sim::RemoveMessageText(31);
  sim::ClearCalls();
  EXPECT_EQ(sim::RunWithConsole("", [] { PrintSystemErrorText(5); }), "Access is denied.\r\n\n");
  EXPECT_EQ(sim::RunWithConsole("", [] { PrintSystemErrorText(31); }), "Error 31\n");
  EXPECT_EQ(sim::CountCalls("FormatMessageA"), 2u);
  EXPECT_EQ(sim::Calls()[0].args.substr(0, 5), "0x130");
  EXPECT_NE(sim::Calls()[0].args.find(",5,0x400,0"), std::string::npos) << sim::Calls()[0].args;
  EXPECT_EQ(sim::LiveLocalBlocks(), 0u);
  sim::FailAlways("FormatMessageA");
  EXPECT_EQ(sim::RunWithConsole("", [] { PrintSystemErrorText(5); }), "Error 5\n");
}

TEST(ProductProcess, FailureOnOneIsPrintedAndTheOthersAreStillStopped) {
  sim::Reset(sim::Windows::Win7);
  std::vector<DWORD> bystanders = PlantBystanders();
  std::string dir = kProductDir;
  sim::SetVersionResource(dir + "ztxcfg.exe", sim::MakerVersion("Varlume"));
  sim::SetVersionResource(dir + "ztxblk.exe", sim::MakerVersion("Varlume"));
  DWORD first = sim::AddProcess(dir + "ztxcfg.exe");
  sim::PlantedProcess locked;
  locked.path = dir + "ztxblk.exe";
  locked.denied_access = PROCESS_TERMINATE;
  locked.open_error = ERROR_ACCESS_DENIED;
  DWORD unopenable = sim::AddProcess(locked);
  sim::PlantedProcess stubborn;
  stubborn.path = dir + "ztxcfg.exe";
  stubborn.can_terminate = false;
  stubborn.terminate_error = 31;
  DWORD unstoppable = sim::AddProcess(stubborn);
  sim::PlantedProcess odd = locked;
  odd.open_error = 12345;  // no system text
  DWORD textless = sim::AddProcess(odd);
  DWORD last = sim::AddProcess(dir + "ztxblk.exe");
  sim::SetMessageText(5, "Access is denied.\r\n");
  sim::SetMessageText(31, "A device attached to the system is not functioning.\r\n");
  sim::ClearCalls();

  EXPECT_EQ(StopAndCapture(),
            "Access is denied.\r\n\n"
            "A device attached to the system is not functioning.\r\n\n"
            "Error 12345\n");
  EXPECT_EQ(sim::ProcessExitCode(first), 0u);
  EXPECT_EQ(sim::ProcessExitCode(last), 0u);
  for (DWORD pid : {unopenable, unstoppable, textless}) EXPECT_TRUE(sim::IsRunning(pid));
  // Each product process is opened once to be checked and terminated.
  size_t terminate_opens = 0;
  for (const sim::Call& c : sim::Calls())
    if (c.name == "OpenProcess" && c.args.substr(0, 8) == "0x411,0,") ++terminate_opens;
  EXPECT_EQ(terminate_opens, 5u);
  ExpectBystandersRunning(bystanders);
  ExpectAllReleased();
}

// Whatever single call fails, the step gives back everything it took and
// never stops a bystander.
TEST(ProductProcess, ReleasesEverythingWhicheverCallFails) {
  for (size_t n = 1;; ++n) {
    SCOPED_TRACE("call " + std::to_string(n));
    sim::Reset(sim::Windows::WinXP);
    std::vector<DWORD> bystanders = PlantBystanders();
    PlantProgram(std::string(kProductDir) + "ztxcfg.exe", "Varlume");
    sim::PlantedProcess locked;
    locked.path = std::string(kProductDir) + "ztxblk.exe";
    locked.denied_access = PROCESS_TERMINATE;
    sim::SetVersionResource(locked.path, sim::MakerVersion("Varlume"));
    sim::AddProcess(locked);
    sim::FailCallNumber(n);
    StopAndCapture();
    ExpectBystandersRunning(bystanders);
    ExpectAllReleased();
    if (sim::FaultsFired() == 0) break;
  }
}

TEST(ProductProcess, StoppedByAConfirmedRunAndNotByACancelledOne) {
  for (const char* answer : {"n\n", "y\n"}) {
    SCOPED_TRACE(answer);
    sim::Reset(sim::Windows::WinXP);
    sim::SetConsole(false);
    sim::QueueKey('x');
    std::vector<DWORD> bystanders = PlantBystanders();
    DWORD pid = PlantProgram(std::string(kProductDir) + "ztxblk.exe", "Varlume");
    RunResult r = RunTool(answer);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(sim::IsRunning(pid), answer[0] == 'n');
    EXPECT_EQ(r.out.find("Error"), std::string::npos);
    ExpectBystandersRunning(bystanders);
  }
}

namespace {

// Calls that open a file by name and whose argument names text.
std::vector<std::string> FileCallsNaming(const std::string& text) {
  std::vector<std::string> out;
  for (const sim::Call& c : sim::Calls()) {
    bool file_call = c.name == "GetFileAttributesA" || c.name == "GetFileVersionInfoSizeA" ||
                     c.name == "GetFileVersionInfoA" || c.name == "CreateFileA";
    if (file_call && c.args.find(text) != std::string::npos) out.push_back(c.name + "(" + c.args + ")");
  }
  return out;
}

}  // namespace

// Only a product file name on a local fixed disk is looked at further:
// reading a file on a share logs the administrator's session on to that
// host, and any other program's file is never opened at all.
TEST(ProductProcess, OnlyAProductNameOnALocalFixedDiskHasItsFileOpened) {
  struct Row {
    const char* path;
    const char* never_opened;  // text no file call may name
  } rows[] = {
      {"\\\\host\\share\\ztxcfg.exe", "host"},
      {"\\\\?\\UNC\\host\\share\\ztxblk.exe", "host"},
      {"\\\\.\\pipe\\x\\ztxcfg.exe", "pipe"},
      {"\\\\?\\C:\\Program Files\\Varlume\\ZTX\\ztxcfg.exe", "\\\\?\\"},
      {"Z:\\Varlume\\ztxcfg.exe", "Z:"},  // a drive mapped to a share
      {"C:\\Program Files\\Other\\notepad.exe", "notepad"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    sim::Reset(sim::Windows::WinXP);
    sim::SetVolume('Z', "NTFS");
    sim::SetDriveType('Z', DRIVE_REMOTE);
    sim::SetVersionResource("Z:\\Varlume\\ztxcfg.exe", sim::MakerVersion("Varlume"));
    sim::SetVersionResource("C:\\Program Files\\Other\\notepad.exe", sim::MakerVersion("Varlume"));
    DWORD pid = sim::AddProcess(row.path);
    sim::ClearCalls();
    EXPECT_EQ(StopAndCapture(), "");
    EXPECT_TRUE(sim::IsRunning(pid));
    EXPECT_EQ(FileCallsNaming(row.never_opened), std::vector<std::string>{});
    ExpectAllReleased();
  }
}

// A file name is what follows the last backslash that is a character of its
// own: in code page 932 the trail byte of 表 (0x95 0x5C), ソ (0x83 0x5C) or
// 十 (0x8F 0x5C) is no backslash. A name the ANSI code page lacks is no
// name of the product either, however the code page would best-fit it.
TEST(ProductProcess, NamesAreSplitAndComparedExactlyInTheCodePage) {
  struct Row {
    sim::Windows kind;
    UINT code_page;
    const char* path;     // the running program, planted with the maker's version resource
    const char* beside;   // a product file of the maker beside it, or null
    bool stopped;
  } rows[] = {
      {sim::Windows::WinXP, 932, "C:\\Apps\\Kanji\\表ztxcfg.exe", nullptr, false},
      {sim::Windows::Win7, 932, "C:\\Apps\\Kanji\\ソztxblk.exe", nullptr, false},
      {sim::Windows::Win98, 932, "C:\\Apps\\Kanji\\十ztxcfg.exe", nullptr, false},
      // the trail byte in a folder's name: the product's own name follows
      {sim::Windows::Win2000, 932, "C:\\Apps\\表\\ztxcfg.exe", nullptr, true},
      {sim::Windows::Win98, 932, "C:\\Apps\\表\\ZTXBLK.EXE", nullptr, true},
      // a byte of 0x80 and above that is a character of its own: half-width
      // katakana in 932; é (0xE9, a lead byte in 932) in 1252
      {sim::Windows::WinXP, 932, "C:\\Apps\\ｱ\\ztxcfg.exe", nullptr, true},
      {sim::Windows::Win7, 1252, "C:\\Apps\\é\\ztxblk.exe", nullptr, true},
      // 1252 best-fits the fullwidth ｚ to "z": the ANSI path would name the
      // maker's file beside the program
      {sim::Windows::WinXP, 1252, "C:\\Apps\\Kanji\\ｚtxcfg.exe", "C:\\Apps\\Kanji\\ztxcfg.exe", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    sim::Reset(row.kind);
    sim::SetAnsiCodePage(row.code_page);
    std::vector<DWORD> bystanders = PlantBystanders();
    DWORD pid = PlantProgram(row.path, "Varlume");
    if (row.beside != nullptr) sim::SetVersionResource(row.beside, sim::MakerVersion("Varlume"));
    sim::ClearCalls();
    EXPECT_EQ(StopAndCapture(), "");
    EXPECT_EQ(sim::IsRunning(pid), !row.stopped);
    if (!row.stopped) {
      EXPECT_EQ(FileCallsNaming("Kanji"), std::vector<std::string>{});
      // no open to terminate (0x411 on NT, PROCESS_TERMINATE alone on 9x)
      for (const sim::Call& c : sim::Calls()) {
        bool terminating = c.args.rfind("0x411,", 0) == 0 || c.args.rfind("0x1,", 0) == 0;
        EXPECT_FALSE(c.name == "OpenProcess" && terminating) << c.args;
      }
    }
    ExpectBystandersRunning(bystanders);
    ExpectAllReleased();
  }
}

// Between the walk's look and the termination the product's program may end
// and its id go to another process. The process opened must still run the
// file that was checked, or nothing is terminated; the id stays the same
// process while the handle is held.
TEST(ProductProcess, AnIdReusedAfterTheCheckStopsOnlyTheProductsOwnFile) {
  struct Row {
    const char* what;
    sim::Windows kind;
    bool newcomer;             // another process takes the id
    bool newcomer_is_product;  // started again from the same file
    bool newcomer_64;
    const char* printed;
  } rows[] = {
      {"XP: another program takes the id", sim::Windows::WinXP, true, false, false, "The parameter is incorrect.\r\n\n"},
      {"7: another program takes the id", sim::Windows::Win7, true, false, false, "The parameter is incorrect.\r\n\n"},
      {"2000: the product is started again under the id", sim::Windows::Win2000, true, true, false, ""},
      {"XP: the process ended and nobody took the id", sim::Windows::WinXP, false, false, false,
       "The parameter is incorrect.\r\n\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    sim::Reset(row.kind);
    sim::SetMessageText(ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n");
    std::vector<DWORD> bystanders = PlantBystanders();
    std::string product = std::string(kProductDir) + "ztxcfg.exe";
    DWORD pid = PlantProgram(product, "Varlume");
    std::string other = "C:\\WINDOWS\\system32\\svchost.exe";
    sim::MkFile(other);
    // While its version resource is read, the program ends and (maybe) its
    // id is reused.
    bool ended = false;
    sim::ObserveCalls([&](const sim::Call& c) {
      if (ended || c.name != "GetFileVersionInfoSizeA" || c.args.find(product) == std::string::npos) return;
      ended = true;
      sim::EndProcess(pid, 7);
      if (!row.newcomer) return;
      sim::PlantedProcess next;
      next.pid = pid;
      next.path = row.newcomer_is_product ? product : other;
      sim::AddProcess(next);
    });
    EXPECT_EQ(StopAndCapture(), row.printed);
    if (row.newcomer) {
      EXPECT_EQ(sim::IsRunning(pid), !row.newcomer_is_product);
    }
    ExpectBystandersRunning(bystanders);
    ExpectAllReleased();
  }
}

// A 32-bit tool cannot list a 64-bit process's modules; from Vista on it
// reads the image path from the kernel (QueryFullProcessImageNameW). XP x64
// has no such call: the program's path stays unknown and it runs on.
TEST(ProductProcess, SixtyFourBitProgramsAreStoppedWhereWindowsGivesTheirPath) {
  struct Row {
    sim::Windows kind;
    bool stopped;
  } rows[] = {{sim::Windows::Win7, true}, {sim::Windows::Vista, true}, {sim::Windows::XP64, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.kind));
    sim::Reset(row.kind, true);
    std::string dir = "C:\\Program Files\\Varlume\\ZTX\\";
    sim::SetVersionResource(dir + "ztxblk.exe", sim::MakerVersion("Varlume"));
    sim::SetVersionResource("C:\\Program Files\\Other\\ztxcfg.exe", sim::MakerVersion("Other Maker Ltd."));
    sim::PlantedProcess product;
    product.path = dir + "ztxblk.exe";
    product.is_64 = true;
    DWORD pid = sim::AddProcess(product);
    sim::PlantedProcess other = product;
    other.path = "C:\\Program Files\\Other\\ztxcfg.exe";
    DWORD other_pid = sim::AddProcess(other);
    EXPECT_EQ(StopAndCapture(), "");
    EXPECT_EQ(sim::IsRunning(pid), !row.stopped);
    EXPECT_TRUE(sim::IsRunning(other_pid));
    ExpectAllReleased();
  }
}
