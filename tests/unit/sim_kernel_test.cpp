// The simulated loader answers as Windows' loader does (Wine's kernel32 module tests record
// the same answers): the product's loading tests are only as strict as these rules.
#include "common/entry_point.h"
#include "fixture.h"
#include "kernel.h"

namespace {

constexpr char kApp[] = "C:\\Setup";
constexpr char kCurrent[] = "D:\\Work";

class SimKernel : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim::settings().programFolder = kApp;
    sim::settings().currentDirectory = kCurrent;
    for (const char* folder : {kApp, kCurrent, "C:\\Windows\\System32", "E:\\Lib"})
      sim::kernel::AddModule(std::string(folder) + "\\x.dll");
  }
  // Where a load of x.dll came from, or "" when it failed; the library is freed again.
  static std::string Found(HMODULE module) {
    if (!module)
      return "";
    const std::string path = sim::kernel::MappedPaths().back();
    FreeLibrary(module);
    return path;
  }
  using SetDefaultFn = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
  static SetDefaultFn SetDefault() {
    return EntryPoint<SetDefaultFn>(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
  }
  static SetDllDirectoryFn SetDllDirectory() {
    return EntryPoint<SetDllDirectoryFn>(GetModuleHandleA("kernel32.dll"), "SetDllDirectoryA");
  }
};

TEST_F(SimKernel, TheClassicSearchStartsBesideTheProgramAndEndsInTheCurrentDirectory) {
  EXPECT_EQ(Found(LoadLibraryA("x.dll")), "C:\\Setup\\x.dll");
  sim::kernel::RemoveModule("C:\\Setup\\x.dll");
  sim::kernel::RemoveModule("C:\\Windows\\System32\\x.dll");
  EXPECT_EQ(Found(LoadLibraryA("x.dll")), "D:\\Work\\x.dll");
  ASSERT_TRUE(SetDllDirectory()(""));
  EXPECT_EQ(Found(LoadLibraryA("x.dll")), "") << "\"\" takes the current directory out";
  ASSERT_TRUE(SetDllDirectory()("E:\\Lib"));
  EXPECT_EQ(Found(LoadLibraryA("x.dll")), "E:\\Lib\\x.dll");
  SetDllDirectory()(nullptr);
  EXPECT_EQ(Found(LoadLibraryExA("E:\\Lib\\x.dll", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)),
            "E:\\Lib\\x.dll");
}

TEST_F(SimKernel, SearchFlagsNameTheFoldersAndCheckTheirArguments) {
  EXPECT_EQ(Found(LoadLibraryExA("x.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)),
            "C:\\Windows\\System32\\x.dll");
  EXPECT_EQ(Found(LoadLibraryExA("x.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)),
            "C:\\Setup\\x.dll")
      << "the default directories include the program's folder";
  ASSERT_TRUE(SetDefault()(LOAD_LIBRARY_SEARCH_SYSTEM32));
  EXPECT_EQ(Found(LoadLibraryA("x.dll")), "C:\\Windows\\System32\\x.dll");
  EXPECT_FALSE(SetDefault()(LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR)) << "not a default";
  for (const char* name : {"x.dll", "Lib\\x.dll"})
    EXPECT_EQ(Found(LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR)), "") << name;
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_EQ(Found(LoadLibraryExA("E:\\Lib\\x.dll", nullptr,
                                 LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_WITH_ALTERED_SEARCH_PATH)),
            "");
  sim::kernel::RemoveExport("kernel32.dll", "SetDefaultDllDirectories");
  EXPECT_EQ(Found(LoadLibraryExA("x.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)), "")
      << "an old loader knows no search flags";
}

TEST_F(SimKernel, ImportsComeThroughTheSameSearchAndAMissingOneFailsTheLoad) {
  sim::kernel::AddModule("E:\\Lib\\server.dll", {"dep.dll"});
  EXPECT_EQ(LoadLibraryA("E:\\Lib\\server.dll"), nullptr);
  sim::kernel::AddModule("E:\\Lib\\dep.dll");
  EXPECT_EQ(LoadLibraryA("E:\\Lib\\server.dll"), nullptr)
      << "the classic search starts at C:\\Setup";
  HMODULE server = LoadLibraryExA("E:\\Lib\\server.dll", nullptr,
                                  LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  ASSERT_NE(server, nullptr);
  EXPECT_TRUE(sim::kernel::IsLoaded("E:\\Lib\\dep.dll"));
  FreeLibrary(server);
  EXPECT_FALSE(sim::kernel::IsLoaded("E:\\Lib\\dep.dll"));
}

// Loading depends on the redirection: with it switched off nothing loads.
TEST_F(SimKernel, NothingLoadsWhileTheRedirectionIsSwitchedOff) {
  sim::settings().wow64 = true;
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  PVOID cookie = nullptr;
  ASSERT_TRUE(EntryPoint<BOOL(WINAPI*)(PVOID*)>(kernel, "Wow64DisableWow64FsRedirection")(&cookie));
  EXPECT_EQ(Found(LoadLibraryA("x.dll")), "");
  EXPECT_TRUE(EntryPoint<BOOL(WINAPI*)(PVOID)>(kernel, "Wow64RevertWow64FsRedirection")(cookie));
  EXPECT_NE(sim::Leaks().find("redirection is switched off"), std::string::npos);
  sim::Reset();  // the misuse was the point
}

}  // namespace
