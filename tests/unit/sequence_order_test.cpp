#include "common/names.h"
#include "com.h"
#include "files.h"
#include "fixture.h"
#include "product_files.h"
#include "registry.h"
#include "spooler.h"

#include <functional>
#include <vector>

namespace {

using Steps = std::vector<int>;

constexpr char kBetaKey[] = "SOFTWARE\\Tessix Software\\Tessix Tembrin Beta";
constexpr char kInstallDir[] = "C:\\Program Files\\Tembrin\\";
constexpr char kAddin[] = "C:\\Program Files\\Tembrin\\qlc_wordaddin.dll";

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool Names(const sim::Call& call, const std::string& function, size_t argument,
           const std::string& text) {
  return call.function == function && call.args.size() > argument && call.args[argument] == text;
}

// The step of the sequence table that a call belongs to, from the calls only that step makes;
// 0 for calls that several steps make. `last` is the step of the previous such call.
using Classifier = std::function<int(const sim::Call&, int last)>;

int InstallStep(const sim::Call& call, int) {
  const std::string& f = call.function;
  if (Names(call, "RegDeleteKeyA", 0, "HKCU"))
    return 1;  // DeleteKeyTree of the beta key
  if (f == "MoveFileA" || (f == "FindFirstFileA" && EndsWith(call.args[0], "\\qnTmp*.tmp")))
    return EndsWith(call.args[0], ".dll.tmp") ? 7 : 2;  // a library renamed into place; retiring
  if (f == "XcvDataW")
    return 3;  // AddPrinterPort
  if (f == "AddPrinterDriverA")
    return 4;  // DeployPrinterDriver
  if (f == "AddPrinterA")
    return 5;  // CreatePrinterQueue
  if (f == "CopyFileA" && EndsWith(call.args[1], "\\3\\QXN_ProxyProcess.exe"))
    return 6;  // DeployProxyProcess
  if (f == "GetWindowsDirectoryA" || f == "FindFirstFileA" ||
      (f == "CopyFileA" && EndsWith(call.args[1], "framedyn.dll.tmp")))
    return 7;  // ProvisionSystemLibraries
  if (f == "OleInitialize" || f == "DllRegisterServer" || f == "OleUninitialize")
    return 8;  // RegisterWordAddin
  if (f == "SetDefaultPrinterA")
    return 9;
  if (Names(call, "RegSetValueExA", 1, "TembrinInstallComplete"))
    return 10;  // the RunOnce entry
  for (const char* name : {"InstallPath", "Version", "IsForAllUser", "Language"})
    if (Names(call, "RegSetValueExA", 1, name))
      return 11;  // the installation record
  return 0;
}

int UninstallStep(const sim::Call& call, int last) {
  const std::string& f = call.function;
  if (f == "MoveFileA")
    return last < 7 ? 1 : 8;  // RetireDriverFiles; RemoveProxyProcess retires the proxy again
  if (f == "OleInitialize" || f == "DllUnregisterServer" || f == "OleUninitialize")
    return 2;  // UnregisterWordAddin
  for (const char* name : {"strdocument", "strCLSID", "strProgid"})
    if (Names(call, "RegQueryValueExA", 1, name))
      return 3;  // RestorePdfAssociation
  if (Names(call, "RegSetValueExA", 1, "CLSID") || Names(call, "RegDeleteValueA", 1, "Progid"))
    return 3;
  if (f == "RegDeleteKeyA" || f == "SHChangeNotify")
    return 4;  // RemoveProductRegistration
  if (f == "EnumPrintersA" || f == "DeletePrinter")
    return 5;  // DeletePrintersOfDriver
  if (f == "DeletePrinterDriverA")
    return 6;  // RemovePrinterDriver
  if (f == "XcvDataW")
    return 7;  // DeletePrinterPort
  return 0;
}

// The steps in the order their calls came, each run of one step counted once.
Steps StepOrder(const Classifier& stepOf) {
  Steps order;
  for (const sim::Call& call : sim::Calls()) {
    const int step = stepOf(call, order.empty() ? 0 : order.back());
    if (step != 0 && (order.empty() || order.back() != step))
      order.push_back(step);
  }
  return order;
}

class SequenceOrder : public SimTest {
 protected:
  // What the application's installer leaves before it starts the agent, and an earlier beta.
  void SetUp() override {
    SimTest::SetUp();
    SeedCompleteInstall(kInstallDir);
    sim::reg::SetString(HKEY_CURRENT_USER, kBetaKey, "v", "beta");
  }
};

TEST_F(SequenceOrder, InstallRunsItsElevenStepsInTableOrder) {
  RunAgent("/Install");
  EXPECT_EQ(StepOrder(InstallStep), (Steps{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(sim::spooler::DefaultPrinter(), "Tessix Tembrin Printer") << "a successful run";
  EXPECT_TRUE(sim::files::Exists("C:\\Windows\\System32\\wbem\\framedyn.dll"));
  EXPECT_EQ(sim::com::RegisterCalls(kAddin), 1);
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_CURRENT_USER, kBetaKey));
}

TEST_F(SequenceOrder, UninstallRunsItsEightStepsInTableOrder) {
  RunAgent("/Install");
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "strCLSID", "{SAVED}");
  sim::reg::SetString(HKEY_CURRENT_USER,
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                      "FileExts\\.pdf",
                      "Progid", "Tembrin");
  sim::ClearCalls();

  RunAgent("/Uninstall");

  EXPECT_EQ(StepOrder(UninstallStep), (Steps{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_TRUE(sim::spooler::Printers().empty()) << "a successful run";
  EXPECT_FALSE(sim::spooler::HasPort("TESSIX_TEMBRIN:"));
  EXPECT_EQ(sim::com::UnregisterCalls(kAddin), 1);
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
}

}  // namespace
