// Names in any script. The agent speaks the ANSI calls, so every path passes through the
// process's code page: UTF-8 where the manifest gets it (Windows 10 1903 and later), the
// system's own before, double-byte ones among them, where the second byte of a character can
// be 0x5C and is no backslash.
#include "common/names.h"
#include "common/path_syntax.h"
#include "com.h"
#include "files.h"
#include "fixture.h"
#include "product_files.h"
#include "registry.h"
#include "spooler.h"

namespace {

using sim::reg::View;

constexpr char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

class CodePage : public SimTest {
 protected:
  // The product installed to `directory` (ending in a backslash), as its installer leaves it.
  static void SeedProduct(const std::string& directory) {
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", directory, View::Native);
    SeedProductFiles(directory);
    SeedSystemLibrarySources();
    sim::com::AddServer(
        directory + "qlc_wordaddin.dll", [] { return S_OK; }, [] { return S_OK; });
  }
  static std::string Argument(const char* function, size_t index = 0) {
    const std::vector<sim::Call> calls = sim::CallsTo(function);
    return calls.empty() ? "<not called>" : calls.front().args.at(index);
  }
};

// Under 932 "ソ" is 0x83 0x5C and "表" 0x95 0x5C: neither ends in a backslash, nor ends a UNC
// path's server name.
TEST_F(CodePage, UnderADoubleByteCodePageATrailByte0x5CIsNoBackslash) {
  sim::settings().codePage = 932;
  const std::pair<const char*, const char*> installPaths[] = {
      {"C:\\Program Files\\ソ", "C:\\Program Files\\\x83\x5c\\"},
      {"C:\\表\\", "C:\\\x95\x5c\\"},
  };
  for (const auto& [installPath, installDir] : installPaths) {
    SetUp();
    sim::settings().codePage = 932;
    const std::string directory = installPath;
    SeedProduct(directory.back() == '\\' ? directory : directory + "\\");
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", installPath, View::Native);
    RunAgent("/Install");
    EXPECT_STREQ(InstallDir, installDir) << installPath;
    EXPECT_EQ(Argument("SetDllDirectoryA"), installDir) << "the add-in's folder";
    EXPECT_TRUE(sim::spooler::HasPrinter(kPrinterName)) << installPath;
  }
  EXPECT_TRUE(IsFullPath("\\\\\x83\x5c\\\x95\x5c"));
  EXPECT_STREQ(LastBackslash("C:\\dir\\\x83\x5c"), "\\\x83\x5c");
  EXPECT_FALSE(EndsInBackslash("C:\\\x95\x5c"));
}

// Under UTF-8 every name goes through as it is: the bytes the agent hands to the file system,
// the spooler and the registry are the UTF-8 of the names. Under 1252 the same machine's names
// turn into question marks, as Windows makes them: a directory that names no folder of the
// product, and so none, and the install changes nothing.
TEST_F(CodePage, UnderUtf8NamesInAnyScriptGoThroughByteForByte) {
  const std::string dir = "C:\\Program Files\\Тессикс Софтвер\\Тембрин\\";
  const std::string appData = "C:\\Users\\用户\\AppData\\Roaming";
  for (const UINT codePage : {65001u, 1252u}) {
    SetUp();
    sim::settings().codePage = codePage;
    sim::settings().appDataFolder = appData;
    SeedProduct(dir);
    RunAgent("/Install");
    if (codePage == 1252) {
      EXPECT_STREQ(InstallDir, "");
      EXPECT_FALSE(sim::spooler::HasPort(kPortName));
      continue;
    }
    EXPECT_EQ(Argument("CopyFileA"), dir + "plugins\\creator\\qelvpr_drv.dll");
    EXPECT_EQ(Argument("LoadLibraryExA"), dir + "qlc_wordaddin.dll");
    EXPECT_EQ(sim::reg::GetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath"), dir);
    EXPECT_EQ(sim::reg::GetString(HKEY_LOCAL_MACHINE, kRunOnceKey, "TembrinInstallComplete"),
              "\"" + appData + "\\Tessix Software\\Tessix Tembrin\\TembrinInstallComplete.exe\"");
    EXPECT_EQ(sim::com::RegisterCalls(dir + "qlc_wordaddin.dll"), 1);
    RunAgent("/Uninstall");
    EXPECT_EQ(sim::com::UnregisterCalls(dir + "qlc_wordaddin.dll"), 1);
    EXPECT_TRUE(sim::spooler::Printers().empty());
    EXPECT_TRUE(sim::spooler::Drivers().empty());
    EXPECT_FALSE(sim::spooler::HasPort(kPortName));
  }
}

// A character takes two or three bytes in UTF-8: the bounds stay 259 bytes, and a path that
// does not fit is refused whole, never cut in the middle of a character.
TEST_F(CodePage, BoundsHoldInBytes) {
  std::string cyrillic;
  for (int i = 0; i < 128; ++i)
    cyrillic += "Ж";  // two bytes each
  for (const size_t characters : {127u, 128u}) {
    SetUp();
    sim::settings().codePage = 65001;
    const std::string installPath = "C:\\" + cyrillic.substr(0, 2 * characters);
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", installPath);
    sim::files::RestrictToAdministrators(installPath);
    RunAgent("/Install");
    // 3 + 254 bytes and the backslash fit; 3 + 256 leave no room for it.
    EXPECT_EQ(std::string(InstallDir), characters == 127 ? installPath + "\\" : "") << characters;
  }
}

}  // namespace
