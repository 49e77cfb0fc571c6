#include "com.h"
#include "fixture.h"
#include "kernel.h"
#include "ole.h"
#include "system/system.h"

#include <ole2.h>

namespace {

constexpr char kDir[] = "C:\\Program Files\\Tembrin\\";
constexpr char kAddin[] = "C:\\Program Files\\Tembrin\\qlc_wordaddin.dll";

HRESULT Succeed() {
  return S_OK;
}

class AddinRegistration : public SimTest {
 protected:
  // The add-in's own calls and the search around them; the kernel's entry points looked up on
  // the way are left out.
  static std::string Steps() {
    std::string text;
    for (const sim::Call& call : sim::Calls()) {
      const bool kernelLookup = call.function == "GetProcAddress" && call.args[0] == "kernel32.dll";
      for (const char* name : {"OleInitialize", "SetDefaultDllDirectories", "SetDllDirectoryA",
                               "LoadLibraryExA", "GetProcAddress", "DllRegisterServer",
                               "DllUnregisterServer", "FreeLibrary", "OleUninitialize"})
        if (call.function == name && !kernelLookup)
          text += (text.empty() ? "" : ", ") + call.Text();
    }
    return text;
  }
};

TEST_F(AddinRegistration, RegisterRunsTheServerInsideItsOwnOleInitialisation) {
  int oleDuringCall = -1;
  bool loadedDuringCall = false;
  sim::com::AddServer(
      kAddin,
      [&] {
        oleDuringCall = sim::ole::InitCount();
        loadedDuringCall = sim::kernel::IsLoaded(kAddin);
        return S_OK;
      },
      Succeed);
  EXPECT_EQ(RegisterWordAddin(kDir), 1);
  EXPECT_EQ(oleDuringCall, 1);
  EXPECT_TRUE(loadedDuringCall);
  EXPECT_EQ(Steps(),
            "OleInitialize(NULL), SetDllDirectoryA(C:\\Program Files\\Tembrin\\), "
            "LoadLibraryExA(C:\\Program Files\\Tembrin\\qlc_wordaddin.dll, 0x0, 0x8), "
            "GetProcAddress(C:\\Program Files\\Tembrin\\qlc_wordaddin.dll, DllRegisterServer), "
            "DllRegisterServer(C:\\Program Files\\Tembrin\\qlc_wordaddin.dll), "
            "FreeLibrary(C:\\Program Files\\Tembrin\\qlc_wordaddin.dll), SetDllDirectoryA(), "
            "OleUninitialize()");
  EXPECT_EQ(sim::com::UnregisterCalls(kAddin), 0);
}

TEST_F(AddinRegistration, UnregisterRunsOnlyDllUnregisterServer) {
  sim::com::AddServer(kAddin, Succeed, Succeed);
  EXPECT_EQ(UnregisterWordAddin("c:\\program files\\tembrin\\"), 1);
  EXPECT_EQ(sim::com::UnregisterCalls(kAddin), 1);
  EXPECT_EQ(sim::com::RegisterCalls(kAddin), 0);
}

TEST_F(AddinRegistration, EachServerAnswersForItself) {
  sim::com::AddServer("D:\\Other\\qlc_wordaddin.dll", Succeed, Succeed);
  sim::com::AddServer(
      kAddin, [] { return E_FAIL; }, Succeed);
  EXPECT_EQ(RegisterWordAddin(kDir), 0);
  EXPECT_EQ(RegisterWordAddin("D:\\Other\\"), 1);
  EXPECT_EQ(sim::com::RegisterCalls(kAddin), 1);
  EXPECT_EQ(sim::com::RegisterCalls("D:\\Other\\qlc_wordaddin.dll"), 1);
}

TEST_F(AddinRegistration, MissingLibraryUndoesOleOnly) {
  EXPECT_EQ(RegisterWordAddin(kDir), 0);
  EXPECT_EQ(Steps(),
            "OleInitialize(NULL), SetDllDirectoryA(C:\\Program Files\\Tembrin\\), "
            "LoadLibraryExA(C:\\Program Files\\Tembrin\\qlc_wordaddin.dll, 0x0, 0x8), "
            "SetDllDirectoryA(), OleUninitialize()");
}

// A rooted or relative path would be taken from whatever the current drive and directory are.
TEST_F(AddinRegistration, OnlyAFullPathIsLoaded) {
  for (const char* directory : {"\\", "T\\", "C:T\\"}) {
    EXPECT_EQ(UnregisterWordAddin(directory), 0) << directory;
    EXPECT_EQ(sim::CountCalls("LoadLibraryExA"), 0) << directory;
  }
  sim::com::AddServer("\\\\server\\share\\qlc_wordaddin.dll", Succeed, Succeed);
  EXPECT_EQ(UnregisterWordAddin("\\\\server\\share\\"), 1);
}

TEST_F(AddinRegistration, MissingEntryPointFreesTheLibraryBeforeOle) {
  sim::com::AddServer(kAddin, Succeed, nullptr);
  EXPECT_EQ(RegisterWordAddin(kDir), 1);
  sim::ClearCalls();
  EXPECT_EQ(UnregisterWordAddin(kDir), 0);
  EXPECT_EQ(Steps(),
            "OleInitialize(NULL), SetDllDirectoryA(C:\\Program Files\\Tembrin\\), "
            "LoadLibraryExA(C:\\Program Files\\Tembrin\\qlc_wordaddin.dll, 0x0, 0x8), "
            "GetProcAddress(C:\\Program Files\\Tembrin\\qlc_wordaddin.dll, DllUnregisterServer), "
            "FreeLibrary(C:\\Program Files\\Tembrin\\qlc_wordaddin.dll), SetDllDirectoryA(), "
            "OleUninitialize()");
}

TEST_F(AddinRegistration, OnlyTheSignOfTheResultCounts) {
  struct Case {
    HRESULT result;
    int expected;
  };
  for (const Case& c : {Case{S_OK, 1}, Case{S_FALSE, 1}, Case{0x7FFFFFFF, 1}, Case{E_FAIL, 0},
                        Case{static_cast<HRESULT>(0x80040201), 0},  // SELFREG_E_CLASS
                        Case{static_cast<HRESULT>(0x80000000), 0}}) {
    SetUp();
    sim::com::AddServer(
        kAddin, [&] { return c.result; }, nullptr);
    EXPECT_EQ(CallComRegistration(kAddin, 1), c.expected) << std::hex << c.result;
    EXPECT_EQ(sim::Calls().back().Text(), "OleUninitialize()");
    EXPECT_EQ(sim::CountCalls("FreeLibrary"), 1);
    EXPECT_EQ(sim::Leaks(), "");
  }
}

TEST_F(AddinRegistration, AnyNonZeroChoiceRegisters) {
  sim::com::AddServer(kAddin, Succeed, Succeed);
  CallComRegistration(kAddin, -1);
  CallComRegistration(kAddin, 2);
  EXPECT_EQ(sim::com::RegisterCalls(kAddin), 2);
  CallComRegistration(kAddin, 0);
  EXPECT_EQ(sim::com::UnregisterCalls(kAddin), 1);
}

TEST_F(AddinRegistration, FailedOleInitialisationIsNotUndone) {
  sim::com::AddServer(kAddin, Succeed, Succeed);
  sim::FailAlways("OleInitialize", static_cast<int32_t>(0x80010106));  // RPC_E_CHANGED_MODE
  EXPECT_EQ(RegisterWordAddin(kDir), 0);
  EXPECT_EQ(Steps(), "OleInitialize(NULL)");
}

TEST_F(AddinRegistration, OleAlreadyInitialisedIsStillMatched) {
  sim::com::AddServer(kAddin, Succeed, Succeed);
  ASSERT_EQ(OleInitialize(nullptr), S_OK);
  EXPECT_EQ(RegisterWordAddin(kDir), 1) << "S_FALSE from OleInitialize is a success";
  EXPECT_EQ(sim::ole::InitCount(), 1) << "our own initialisation was undone, the caller's stays";
  OleUninitialize();
}

TEST_F(AddinRegistration, DirectoryTooLongForTheLibraryNameLoadsNothing) {
  // 242 characters of directory and the 17 of the name fill a MAX_PATH buffer.
  const std::string fits = "C:\\" + std::string(238, 'd') + "\\";
  ASSERT_EQ(fits.size(), 242u);
  sim::com::AddServer(fits + "qlc_wordaddin.dll", Succeed, Succeed);
  EXPECT_EQ(RegisterWordAddin(fits.c_str()), 1);

  sim::ClearCalls();
  const std::string tooLong = "C:\\" + std::string(239, 'd') + "\\";
  EXPECT_EQ(RegisterWordAddin(tooLong.c_str()), 0);
  EXPECT_EQ(Steps(), "") << "not even OLE is initialised";
}

}  // namespace
