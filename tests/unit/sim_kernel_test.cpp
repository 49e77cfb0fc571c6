// The simulated loader answers as Windows' loader does (Wine's kernel32 module tests record
// the same answers): the product's loading tests are only as strict as these rules.
#include "common/entry_point.h"
#include "fixture.h"
#include "kernel.h"

#include <tuple>

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

// Only a caller whose token holds every SID of the boundary may create or open the namespace: a
// standard user neither makes nor enters the administrators' one, but makes another of the same
// name without the SID. A namespace goes with its last handle, and what was in it.
TEST_F(SimKernel, APrivateNamespaceAdmitsOnlyCallersInsideItsBoundary) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const auto boundaryFor =
      EntryPoint<HANDLE(WINAPI*)(LPCSTR, ULONG)>(kernel, "CreateBoundaryDescriptorA");
  const auto addSid =
      EntryPoint<BOOL(WINAPI*)(HANDLE*, PSID)>(kernel, "AddSIDToBoundaryDescriptor");
  const auto create = EntryPoint<HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCSTR)>(
      kernel, "CreatePrivateNamespaceA");
  const auto close = EntryPoint<BOOLEAN(WINAPI*)(HANDLE, ULONG)>(kernel, "ClosePrivateNamespace");
  const auto drop = EntryPoint<VOID(WINAPI*)(HANDLE)>(kernel, "DeleteBoundaryDescriptor");
  BYTE administrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
  for (const auto& [administrator, withSid, inside] :
       {std::tuple{true, true, true}, {false, true, false}, {false, false, true}}) {
    sim::settings().administrator = administrator;
    HANDLE boundary = boundaryFor("B", 0);
    if (withSid)
      addSid(&boundary, administrators);
    HANDLE space = create(nullptr, boundary, "b");
    drop(boundary);
    EXPECT_EQ(space != nullptr, inside) << administrator << withSid;
    if (!space) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
      continue;
    }
    CloseHandle(CreateMutexA(nullptr, FALSE, "b\\m"));
    const std::string key = withSid ? "B{S-1-5-32-544}" : "B{}";
    EXPECT_EQ(sim::kernel::Mutexes(), std::vector<std::string>{"\\Namespace\\" + key + "\\m"});
    close(space, 0);
    EXPECT_TRUE(sim::kernel::Mutexes().empty());
  }
}
