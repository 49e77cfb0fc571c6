#include "fixture.h"
#include "registry.h"

namespace {

using sim::reg::View;

class SimRegistry : public SimTest {};

// The agent's tree removal opens children relative to an open key; they must stay in its view.
TEST_F(SimRegistry, KeysOpenedBelowAnOpenKeyStayInItsView) {
  sim::settings().wow64 = true;
  sim::reg::SetString(HKEY_LOCAL_MACHINE, "Software\\V\\Child", "v", "64", View::Native);
  sim::reg::SetString(HKEY_LOCAL_MACHINE, "Software\\V\\Child", "v", "32");
  HKEY parent = nullptr;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\V", 0, KEY_READ | KEY_WOW64_64KEY, &parent),
      ERROR_SUCCESS);
  HKEY child = nullptr;
  ASSERT_EQ(RegOpenKeyExA(parent, "Child", 0, KEY_READ, &child), ERROR_SUCCESS);
  char data[8] = {};
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(child, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(data, "64");
  RegCloseKey(child);
  RegCloseKey(parent);
}

// Windows 7 and later: HKLM\Software is redirected, its Classes shared but for the COM keys,
// which are redirected in HKCU too.
TEST_F(SimRegistry, The32BitViewRedirectsSoftwareAndTheComKeysOfClasses) {
  sim::settings().wow64 = true;
  const struct {
    HKEY root;
    const char* seen;
    const char* stored;
  } rows[] = {
      {HKEY_LOCAL_MACHINE, "Software\\V", "Software\\Wow6432Node\\V"},
      {HKEY_LOCAL_MACHINE, "Software\\Classes\\.pdf", "Software\\Classes\\.pdf"},
      {HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID\\{X}",
       "Software\\Classes\\Wow6432Node\\CLSID\\{X}"},
      {HKEY_LOCAL_MACHINE, "Software\\Classes\\interface\\{X}",
       "Software\\Classes\\Wow6432Node\\interface\\{X}"},
      {HKEY_CURRENT_USER, "Software\\V", "Software\\V"},
      {HKEY_CURRENT_USER, "Software\\Classes\\.pdf", "Software\\Classes\\.pdf"},
      {HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{X}",
       "Software\\Classes\\Wow6432Node\\CLSID\\{X}"},
  };
  for (const auto& row : rows) {
    sim::reg::SetString(row.root, row.stored, "v", "32", View::Native);
    EXPECT_EQ(sim::reg::GetString(row.root, row.seen, "v"), "32") << row.seen;
  }
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, "Software\\V", View::Native));
  sim::settings().wow64 = false;
  EXPECT_FALSE(sim::reg::GetString(HKEY_LOCAL_MACHINE, "Software\\V", "v"));
}

TEST_F(SimRegistry, NonAdministratorMayReadButNotWriteTheMachineHive) {
  sim::settings().administrator = false;
  sim::reg::SetString(HKEY_LOCAL_MACHINE, "Software\\V", "v", "x");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\V", 0, KEY_ALL_ACCESS, &key),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\New", 0, nullptr, 0, KEY_QUERY_VALUE,
                            nullptr, &key, nullptr),
            ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\V", 0, KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("y"), 2),
            ERROR_ACCESS_DENIED)
      << "a handle opened for reading cannot write";
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(SimRegistry, TooSmallBufferGivesMoreDataAndTheNeededSize) {
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\V", "v", "abcdef");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\V", 0, KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS);
  char data[4];
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 7u);
  RegCloseKey(key);
}

// The ANSI read of a name that 1252 cannot write gives its best fit; the Unicode read gives the
// name, and the ANSI text converted back shows the difference.
TEST_F(SimRegistry, AnsiReadsBestFitWhereUnicodeReadsTheName) {
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\V", "v", "C:\\Łódź＼Ā?");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\V", 0, KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS);
  char ansi[32] = {};
  DWORD size = sizeof ansi;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(ansi), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(ansi,
               "C:\\L\xf3"
               "dz\\A?");
  const WCHAR name[] = {'v', 0};
  WCHAR wide[16] = {};
  size = sizeof wide;
  RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(wide), &size);
  EXPECT_EQ(std::u16string(wide), u"C:\\Łódź＼Ā?");
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, 16), 11) << "terminator included";
  EXPECT_EQ(std::u16string(wide), u"C:\\Lódz\\A?");
  RegCloseKey(key);
}

}  // namespace
