// Where the agent's libraries come from: the search is restricted before anything else happens,
// Windows' libraries come from the system directory, the add-in from its own folder, and nothing
// planted in the agent's folder or the current directory is ever loaded.
#include "com.h"
#include "fixture.h"
#include "kernel.h"
#include "product_files.h"

#include <ole2.h>

namespace {

constexpr char kInstallDir[] = "C:\\Program Files\\Tembrin\\";
constexpr char kAddin[] = "C:\\Program Files\\Tembrin\\qlc_wordaddin.dll";
constexpr char kDownloads[] = "C:\\Users\\tester\\Downloads";
constexpr char kCurrentDir[] = "C:\\Users\\tester\\Downloads\\unpacked";

// Mapped paths keep the spelling they were registered with, here and in the simulation.
bool IsBelow(const std::string& path, const std::string& folder) {
  return path.rfind(folder, 0) == 0;
}

// A Windows version, and the switches of the search it has.
struct Loader {
  const char* name;
  DWORD major, minor;
  WORD servicePack;
  bool loaderUpdate;        // KB2533623 on Vista and 7
  bool defaultDirectories;  // SetDefaultDllDirectories: Windows 8, or 7 with its loader update
  bool dllDirectory;        // SetDllDirectoryA: XP SP1 and later
};
constexpr Loader kWindows8{"Windows 8", 6, 2, 0, false, true, true};
constexpr Loader kWindows7{"Windows 7 SP1 without its loader update", 6, 1, 1, false, false, true};
constexpr Loader kXpSp1{"XP SP1", 5, 1, 1, false, false, true};
constexpr Loader kXp{"XP", 5, 1, 0, false, false, false};
constexpr Loader kWindows2000{"Windows 2000", 5, 0, 4, false, false, false};

class LibraryLoading : public SimTest {
 protected:
  // The agent started from the download folder it was saved to, with libraries of Windows'
  // names and of the add-in's planted beside it and in the current directory. The add-in imports
  // a library that lies beside it and one of Windows', and loads another by name while it
  // registers.
  void SetUpMachine(const Loader& loader) {
    sim::settings().majorVersion = loader.major;
    sim::settings().minorVersion = loader.minor;
    sim::settings().servicePack = loader.servicePack;
    sim::settings().loaderUpdate = loader.loaderUpdate;
    sim::settings().programFolder = kDownloads;
    sim::settings().currentDirectory = kCurrentDir;
    sim::kernel::AddModule("version.dll");
    for (const char* name : {"winspool.drv", "kernel32.dll", "version.dll", "qlc_helper.dll"}) {
      sim::kernel::AddModule(std::string(kDownloads) + "\\" + name);
      sim::kernel::AddModule(std::string(kCurrentDir) + "\\" + name);
    }
    // The classic search always starts in the program's folder, so there nothing keeps the
    // add-in's own loads by name from a library planted beside the agent; with SetDllDirectoryA
    // the current directory at least is out.
    if (loader.defaultDirectories)
      sim::kernel::AddModule(std::string(kDownloads) + "\\qlc_own.dll");
    if (loader.dllDirectory)
      sim::kernel::AddModule(std::string(kCurrentDir) + "\\qlc_own.dll");
    SeedCompleteInstall(kInstallDir, [this] { return RegisterAsTheAddinDoes(); });
    sim::kernel::AddModule(kAddin, {"qlc_helper.dll", "version.dll"});
    sim::kernel::AddModule(std::string(kInstallDir) + "qlc_helper.dll");
    sim::kernel::AddModule(std::string(kInstallDir) + "qlc_own.dll");
  }

  HRESULT RegisterAsTheAddinDoes() {
    HMODULE own = LoadLibraryA("qlc_own.dll");
    ownLibraryFound = own != nullptr;
    if (own)
      FreeLibrary(own);
    return S_OK;
  }

  // Every library mapped came from the system directory or the installation directory.
  static std::string StrayLibraries() {
    std::string stray;
    for (const std::string& path : sim::kernel::MappedPaths())
      if (!IsBelow(path, "C:\\Windows\\System32\\") && !IsBelow(path, kInstallDir))
        stray += path + " ";
    return stray;
  }

  bool ownLibraryFound = false;
};

TEST_F(LibraryLoading, TheSearchIsRestrictedBeforeAnyOtherCall) {
  SetUpMachine(kWindows8);
  RunAgent("/Install");
  std::string first;
  for (size_t i = 0; i < 5 && i < sim::Calls().size(); ++i)
    first += sim::Calls()[i].Text() + "; ";
  EXPECT_EQ(first,
            "GetModuleHandleA(kernel32.dll); "
            "GetProcAddress(kernel32.dll, SetDefaultDllDirectories); "
            "GetProcAddress(kernel32.dll, SetDllDirectoryA); SetDefaultDllDirectories(0x800); "
            "GetVersionExA(156); ");
  EXPECT_EQ(CallSequence({"LoadLibraryA"}),
            "LoadLibraryA(kernel32.dll), LoadLibraryA(winspool.drv), LoadLibraryA(qlc_own.dll), "
            "LoadLibraryA(winspool.drv)")
      << "by name: the search reaches the system directory only";
  EXPECT_EQ(sim::kernel::DefaultDllDirectories(), DWORD{LOAD_LIBRARY_SEARCH_SYSTEM32});
}

TEST_F(LibraryLoading, WithoutTheRestrictionTheCurrentDirectoryGoesAndPathsAreFull) {
  SetUpMachine(kWindows7);
  RunAgent("/Install");
  EXPECT_EQ(CallSequence({"SetDllDirectoryA", "GetVersionExA"}).substr(0, 38),
            "SetDllDirectoryA(), GetVersionExA(156)")
      << "the current directory leaves the search before anything loads";
  EXPECT_EQ(CallSequence({"LoadLibraryA"}),
            "LoadLibraryA(C:\\Windows\\System32\\kernel32.dll), "
            "LoadLibraryA(C:\\Windows\\System32\\winspool.drv), LoadLibraryA(qlc_own.dll), "
            "LoadLibraryA(C:\\Windows\\System32\\winspool.drv)");
}

// From Windows 2000 (neither entry point) to Windows 8 (both), for both commands.
TEST_F(LibraryLoading, NothingPlantedIsLoadedAndTheAddinFindsItsOwnLibraries) {
  for (const Loader& loader : {kWindows8, kWindows7, kXpSp1, kXp, kWindows2000})
    for (const char* command : {"/Install", "/Uninstall"}) {
      SetUp();
      const std::string context = std::string(command) + " on " + loader.name;
      SetUpMachine(loader);
      RunAgent(command);
      EXPECT_EQ(StrayLibraries(), "") << context;
      const bool install = std::string(command) == "/Install";
      EXPECT_EQ(sim::com::RegisterCalls(kAddin), install ? 1 : 0) << context;
      EXPECT_EQ(sim::com::UnregisterCalls(kAddin), install ? 0 : 1) << context;
      EXPECT_EQ(ownLibraryFound, loader.dllDirectory)
          << context << ": its folder is searched while it registers";
      EXPECT_EQ(sim::kernel::DllDirectory().value_or("<none>"), loader.dllDirectory ? "" : "<none>")
          << context << ": the add-in's folder is taken out of the search again";
      EXPECT_EQ(sim::Leaks(), "") << context;
    }
}

}  // namespace
