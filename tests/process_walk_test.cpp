#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "process/walk.h"
#include "simwin/machine_process.h"

namespace {

struct Visit {
  DWORD pid;
  WORD task;
  std::string path;
  bool operator==(const Visit& o) const { return pid == o.pid && task == o.task && path == o.path; }
};
std::ostream& operator<<(std::ostream& os, const Visit& v) {
  return os << "{" << v.pid << "," << v.task << ",\"" << v.path << "\"}";
}

struct Recorder {
  std::vector<Visit> visits;
  size_t stop_at = SIZE_MAX;          // the visit (1-based) that returns false
  size_t handles_seen_open = 0;       // kernel handles open while visiting
};

bool Record(DWORD pid, WORD task, const char* path, ULONG_PTR data) {
  Recorder* r = reinterpret_cast<Recorder*>(data);
  r->visits.push_back({pid, task, path});
  r->handles_seen_open += sim::OpenKernelHandles();
  return r->visits.size() != r->stop_at;
}

bool Walk(Recorder* r) { return WalkProcesses(&Record, reinterpret_cast<ULONG_PTR>(r)); }

void ExpectAllReleased() {
  EXPECT_EQ(sim::LoadedCount("PSAPI"), 0);
  EXPECT_EQ(sim::LoadedCount("VDMDBG"), 0);
  EXPECT_EQ(sim::LoadedCount("KERNEL32"), 0);
  EXPECT_EQ(sim::LiveHeapBlocks(), 0u);
  EXPECT_EQ(sim::OpenKernelHandles(), 0u);
}

std::vector<std::string> ArgsOf(const std::string& name) {
  std::vector<std::string> out;
  for (const sim::Call& c : sim::Calls())
    if (c.name == name) out.push_back(c.args);
  return out;
}

DWORD AddHost(const std::string& path, std::vector<std::pair<WORD, std::string>> tasks) {
  sim::PlantedProcess s;
  s.path = path;
  s.tasks = std::move(tasks);
  return sim::AddProcess(s);
}

}  // namespace

TEST(ProcessWalkNt, VisitsEachProcessInListOrderWithItsPathOrEmpty) {
  sim::Reset(sim::Windows::WinXP);
  sim::PlantedProcess idle;
  idle.pid = 0;
  idle.can_open = false;
  idle.open_error = ERROR_INVALID_PARAMETER;
  sim::AddProcess(idle);
  sim::PlantedProcess system;  // opens, but its module list cannot be read
  system.pid = 4;
  system.path = "System";
  system.modules_readable = false;
  sim::AddProcess(system);
  DWORD explorer = sim::AddProcess("C:\\WINDOWS\\explorer.exe");
  sim::PlantedProcess locked;
  locked.path = "C:\\WINDOWS\\system32\\csrss.exe";
  locked.can_open = false;
  DWORD csrss = sim::AddProcess(locked);
  DWORD no_path = sim::AddProcess(std::string());  // module path unreadable
  sim::ClearCalls();

  Recorder r;
  EXPECT_TRUE(Walk(&r));
  std::vector<Visit> expected = {{0, 0, ""},
                                 {4, 0, ""},
                                 {explorer, 0, "C:\\WINDOWS\\explorer.exe"},
                                 {csrss, 0, ""},
                                 {no_path, 0, ""}};
  EXPECT_EQ(r.visits, expected);
  EXPECT_EQ(r.handles_seen_open, 0u) << "a process handle was still open during a visit";
  for (const std::string& a : ArgsOf("OpenProcess")) EXPECT_EQ(a.substr(0, 8), "0x410,0,");
  EXPECT_EQ(sim::LoadCalls("PSAPI"), 1);
  EXPECT_EQ(sim::LoadCalls("VDMDBG"), 1);
  ExpectAllReleased();
}

// EnumProcesses cannot say that it left ids out; only a list shorter than
// the buffer is known to be whole.
TEST(ProcessWalkNt, FullIdListIsReadAgainIntoDoubleTheSpace) {
  struct Row {
    int processes;
    std::vector<std::string> reads;
  } rows[] = {
      {0, {"bytes=1024"}},
      {255, {"bytes=1024"}},
      {256, {"bytes=1024", "bytes=2048"}},
      {257, {"bytes=1024", "bytes=2048"}},
      {512, {"bytes=1024", "bytes=2048", "bytes=4096"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.processes);
    sim::Reset(sim::Windows::Win2000);
    std::vector<DWORD> pids;
    for (int i = 0; i < row.processes; ++i)
      pids.push_back(sim::AddProcess("C:\\WINNT\\p" + std::to_string(i) + ".exe"));
    sim::ClearCalls();
    Recorder r;
    EXPECT_TRUE(Walk(&r));
    EXPECT_EQ(ArgsOf("EnumProcesses"), row.reads);
    ASSERT_EQ(r.visits.size(), pids.size());
    for (size_t i = 0; i < pids.size(); ++i) EXPECT_EQ(r.visits[i].pid, pids[i]);
    ExpectAllReleased();
  }
}

TEST(ProcessWalkNt, PathCutByTheSystemCountsAsUnreadable) {
  sim::Reset(sim::Windows::WinXP);
  std::string deep = "C:\\" + std::string(300, 'd') + "\\ztxcfg.exe";
  DWORD pid = sim::AddProcess(deep);
  std::string fits = "C:\\" + std::string(MAX_PATH - 4, 'e');  // 259 characters
  DWORD pid2 = sim::AddProcess(fits);
  Recorder r;
  EXPECT_TRUE(Walk(&r));
  std::vector<Visit> expected = {{pid, 0, ""}, {pid2, 0, fits}};
  EXPECT_EQ(r.visits, expected);
  ExpectAllReleased();
}

TEST(ProcessWalkNt, OnlyABareNtvdmPathInAnyCaseRunsTheTaskWalk) {
  struct Row {
    const char* host;
    bool tasks;
  } rows[] = {
      {"NTVDM.EXE", true},
      {"ntvdm.exe", true},
      {"NtVdm.ExE", true},
      {"C:\\WINDOWS\\system32\\ntvdm.exe", false},
      {"C:\\WINDOWS\\system32\\NTVDM.EXE", false},
      {"NTVDM.EXE ", false},
      {"XNTVDM.EXE", false},
      {"NTVDM", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.host);
    sim::Reset(sim::Windows::WinXP);
    DWORD before = sim::AddProcess("C:\\WINDOWS\\explorer.exe");
    DWORD host = AddHost(row.host, {{0x1a6f, "C:\\WINDOWS\\system32\\WOWEXEC.EXE"},
                                    {0x2b7e, "C:\\APPS\\LEGACY.EXE"}});
    DWORD after = sim::AddProcess("C:\\WINDOWS\\notepad.exe");
    sim::ClearCalls();
    Recorder r;
    EXPECT_TRUE(Walk(&r));
    std::vector<Visit> expected = {{before, 0, "C:\\WINDOWS\\explorer.exe"}, {host, 0, row.host}};
    if (row.tasks) {
      expected.push_back({host, 0x1a6f, "C:\\WINDOWS\\system32\\WOWEXEC.EXE"});
      expected.push_back({host, 0x2b7e, "C:\\APPS\\LEGACY.EXE"});
    }
    expected.push_back({after, 0, "C:\\WINDOWS\\notepad.exe"});
    EXPECT_EQ(r.visits, expected);
    EXPECT_EQ(sim::CountCalls("VDMEnumTaskWOWEx"), row.tasks ? 1u : 0u);
    ExpectAllReleased();
  }
}

TEST(ProcessWalkNt, VisitorStopEndsTheWholeWalk) {
  struct Row {
    const char* what;
    size_t stop_at;
    size_t visits;
    size_t task_walks;
  } rows[] = {
      {"at the host itself: no task walk", 1, 1, 0},
      {"at the first task: no second task, no next process", 2, 2, 1},
      {"at the last task: no next process", 3, 3, 1},
      {"at the next process", 4, 4, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    sim::Reset(sim::Windows::Win7);
    AddHost("NTVDM.EXE", {{0x11, "C:\\A.EXE"}, {0x22, "C:\\B.EXE"}});
    sim::AddProcess("C:\\Windows\\explorer.exe");
    sim::AddProcess("C:\\Windows\\notepad.exe");
    sim::ClearCalls();
    Recorder r;
    r.stop_at = row.stop_at;
    EXPECT_TRUE(Walk(&r));
    EXPECT_EQ(r.visits.size(), row.visits);
    EXPECT_EQ(sim::CountCalls("VDMEnumTaskWOWEx"), row.task_walks);
    ExpectAllReleased();
  }
}

TEST(ProcessWalk, MissingLibraryOrEntryPointVisitsNothingAndSucceeds) {
  struct Row {
    sim::Windows kind;
    const char* dll;
    const char* entry;  // null: the whole library is missing
  } rows[] = {
      {sim::Windows::WinXP, "PSAPI", nullptr},
      {sim::Windows::WinXP, "VDMDBG", nullptr},
      {sim::Windows::WinXP, "PSAPI", "EnumProcesses"},
      {sim::Windows::WinXP, "PSAPI", "EnumProcessModules"},
      {sim::Windows::WinXP, "PSAPI", "GetModuleFileNameExW"},
      {sim::Windows::WinXP, "VDMDBG", "VDMEnumTaskWOWEx"},
      {sim::Windows::Win95, "KERNEL32", "CreateToolhelp32Snapshot"},
      {sim::Windows::Win95, "KERNEL32", "Process32First"},
      {sim::Windows::Win95, "KERNEL32", "Process32Next"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.dll) + " " + (row.entry ? row.entry : "(library)"));
    sim::Reset(row.kind);
    sim::AddProcess("C:\\WINDOWS\\explorer.exe");
    if (row.entry == nullptr)
      sim::RemoveDll(row.dll);
    else
      sim::RemoveExport(row.dll, row.entry);
    Recorder r;
    EXPECT_TRUE(Walk(&r));
    EXPECT_TRUE(r.visits.empty());
    EXPECT_EQ(sim::CountCalls("EnumProcesses") + sim::CountCalls("CreateToolhelp32Snapshot"), 0u);
    ExpectAllReleased();
  }
}

TEST(ProcessWalkNt, IdListThatCannotBeAllocatedOrFilledVisitsNothingAndSucceeds) {
  struct Row {
    const char* call;
    int nth;
  } rows[] = {{"HeapAlloc", 1}, {"EnumProcesses", 1}, {"HeapAlloc", 2}, {"EnumProcesses", 2}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.call) + " #" + std::to_string(row.nth));
    sim::Reset(sim::Windows::WinXP);
    for (int i = 0; i < 300; ++i) sim::AddProcess("C:\\p" + std::to_string(i) + ".exe");
    sim::FailCall(row.call, row.nth);
    Recorder r;
    EXPECT_TRUE(Walk(&r));
    EXPECT_TRUE(r.visits.empty());
    ExpectAllReleased();
  }
}

TEST(ProcessWalk, UnsupportedWindowsOrFailedVersionQueryLoadsNothing) {
  sim::Reset(sim::Windows::NT351);
  sim::AddProcess("C:\\WINNT\\explorer.exe");
  Recorder r;
  EXPECT_FALSE(Walk(&r));
  sim::Reset(sim::Windows::WinXP);
  sim::AddProcess("C:\\WINDOWS\\explorer.exe");
  sim::FailCall("GetVersionExA");
  EXPECT_FALSE(Walk(&r));
  EXPECT_TRUE(r.visits.empty());
  EXPECT_EQ(sim::CountCalls("LoadLibraryA"), 0u);
}

TEST(ProcessWalk9x, VisitsSnapshotEntriesWithTheSizeSetBeforeEveryCall) {
  sim::Reset(sim::Windows::Win98);
  sim::PlantedProcess kernel;
  kernel.exe_name = "C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL";
  DWORD k = sim::AddProcess(kernel);
  DWORD explorer = sim::AddProcess("C:\\WINDOWS\\EXPLORER.EXE");
  // No task walk on 9x, even for a name that would trigger one on NT.
  DWORD vdm = AddHost("NTVDM.EXE", {{0x11, "C:\\A.EXE"}});
  sim::ClearCalls();
  Recorder r;
  EXPECT_TRUE(Walk(&r));
  std::vector<Visit> expected = {{k, 0, "C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL"},
                                 {explorer, 0, "C:\\WINDOWS\\EXPLORER.EXE"},
                                 {vdm, 0, "NTVDM.EXE"}};
  EXPECT_EQ(r.visits, expected);
  std::string size = "size=" + std::to_string(sizeof(PROCESSENTRY32));
  size_t entry_calls = 0;
  for (const sim::Call& c : sim::Calls()) {
    if (c.name != "Process32First" && c.name != "Process32Next") continue;
    ++entry_calls;
    EXPECT_NE(c.args.find(size), std::string::npos) << c.name << " " << c.args;
  }
  EXPECT_EQ(entry_calls, 4u);
  EXPECT_EQ(ArgsOf("CreateToolhelp32Snapshot"), std::vector<std::string>{"0x2,0"});
  EXPECT_EQ(sim::LoadCalls("VDMDBG"), 0);
  EXPECT_EQ(sim::LoadCalls("PSAPI"), 0);
  EXPECT_EQ(sim::LoadCalls("KERNEL32"), 1);
  ExpectAllReleased();
}

TEST(ProcessWalk9x, VisitorStopEndsTheWalk) {
  sim::Reset(sim::Windows::WinMe);
  sim::AddProcess("C:\\WINDOWS\\EXPLORER.EXE");
  sim::AddProcess("C:\\WINDOWS\\TASKMON.EXE");
  Recorder r;
  r.stop_at = 1;
  EXPECT_TRUE(Walk(&r));
  EXPECT_EQ(r.visits.size(), 1u);
  EXPECT_EQ(sim::CountCalls("Process32Next"), 0u);
  ExpectAllReleased();
}

TEST(ProcessWalk9x, FailedSnapshotIsAFailureAfterTheLibraryIsReleased) {
  sim::Reset(sim::Windows::Win98);
  sim::AddProcess("C:\\WINDOWS\\EXPLORER.EXE");
  sim::FailCall("CreateToolhelp32Snapshot");
  Recorder r;
  EXPECT_FALSE(Walk(&r));
  EXPECT_TRUE(r.visits.empty());
  EXPECT_EQ(sim::LoadCalls("KERNEL32"), 1);
  ExpectAllReleased();
}

// Whatever single call fails, the walk gives back every library, handle and
// block it took.
TEST(ProcessWalk, ReleasesEverythingWhicheverCallFails) {
  for (sim::Windows kind : {sim::Windows::WinXP, sim::Windows::Win98}) {
    for (size_t n = 1;; ++n) {
      SCOPED_TRACE("call " + std::to_string(n));
      sim::Reset(kind);
      AddHost("NTVDM.EXE", {{0x11, "C:\\A.EXE"}});
      sim::AddProcess("C:\\WINDOWS\\explorer.exe");
      sim::FailCallNumber(n);
      Recorder r;
      Walk(&r);
      ExpectAllReleased();
      if (sim::FaultsFired() == 0) break;  // past the last call
    }
  }
}
