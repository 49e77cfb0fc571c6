#include "fixture.h"
#include "kernel.h"
#include "registry.h"
#include "registry/registry.h"

#include <vector>

namespace {

using sim::reg::View;
constexpr char kKey[] = "Software\\Vendor\\Product";

std::vector<BYTE> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

class ValueAccess : public SimTest {
 protected:
  PathBuffer out = {};
  std::string Read(const char* fallback = "fallback") {
    EXPECT_EQ(ReadRegString(HKEY_LOCAL_MACHINE, kKey, "v", fallback, out), 1);
    return out;
  }
};

TEST_F(ValueAccess, WriteCreatesTheWholePathAndStoresTheTerminator) {
  EXPECT_EQ(WriteRegString(HKEY_LOCAL_MACHINE, "Software\\A\\B\\C", "v", "text", REG_SZ), 1);
  const auto value = sim::reg::GetValue(HKEY_LOCAL_MACHINE, "Software\\A\\B\\C", "v");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->type, REG_SZ);
  EXPECT_EQ(value->data, Bytes(std::string("text", 5)));
  EXPECT_EQ(CallSequence({"RegCreateKeyExA"}), "RegCreateKeyExA(HKLM, Software\\A\\B\\C, 0, 0x2)");
}

TEST_F(ValueAccess, EmptyTextIsOneNulByteAndReadsBackAsTheFallback) {
  WriteRegString(HKEY_LOCAL_MACHINE, kKey, "v", "", REG_SZ);
  EXPECT_EQ(sim::reg::GetValue(HKEY_LOCAL_MACHINE, kKey, "v")->data, std::vector<BYTE>{0});
  EXPECT_EQ(Read(), "fallback");
}

TEST_F(ValueAccess, EmptyNameWritesTheDefaultValue) {
  WriteRegString(HKEY_CURRENT_USER, kKey, "", "doc", REG_SZ);
  EXPECT_EQ(sim::reg::ValueNames(HKEY_CURRENT_USER, kKey), std::vector<std::string>{""});
  EXPECT_EQ(sim::reg::GetString(HKEY_CURRENT_USER, kKey, ""), "doc");
}

TEST_F(ValueAccess, WriteWithoutAKeyHandleReturnsZero) {
  sim::settings().administrator = false;
  EXPECT_EQ(WriteRegString(HKEY_LOCAL_MACHINE, kKey, "v", "x", REG_SZ), 0);
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kKey));
}

TEST_F(ValueAccess, FailedSetStillReturnsOne) {
  sim::FailAlways("RegSetValueExA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(WriteRegString(HKEY_LOCAL_MACHINE, kKey, "v", "x", REG_SZ), 1);
}

TEST_F(ValueAccess, NonStringTypesAreNotWritten) {
  EXPECT_EQ(WriteRegString(HKEY_LOCAL_MACHINE, kKey, "v", "x", REG_DWORD), 0);
  EXPECT_EQ(WriteRegString(HKEY_LOCAL_MACHINE, kKey, "v", "x", REG_BINARY), 0);
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kKey));
  EXPECT_EQ(WriteRegString(HKEY_LOCAL_MACHINE, kKey, "v", "%x%", REG_EXPAND_SZ), 1);
  EXPECT_EQ(sim::reg::GetValue(HKEY_LOCAL_MACHINE, kKey, "v")->type, REG_EXPAND_SZ);
}

TEST_F(ValueAccess, ReadsAStringAndAnUnexpandedExpandString) {
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kKey, "v", "C:\\x");
  EXPECT_EQ(Read(), "C:\\x");
  sim::reg::SetValue(HKEY_LOCAL_MACHINE, kKey, "v", REG_EXPAND_SZ,
                     Bytes(std::string("%WINDIR%\\a", 11)));
  EXPECT_EQ(Read(), "%WINDIR%\\a");
}

TEST_F(ValueAccess, MissingKeyIsCreatedEmptyAndYieldsTheFallback) {
  EXPECT_EQ(Read(), "fallback");
  EXPECT_TRUE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kKey));
  EXPECT_TRUE(sim::reg::ValueNames(HKEY_LOCAL_MACHINE, kKey).empty());
}

TEST_F(ValueAccess, NoKeyHandleYieldsTheFallback) {
  sim::settings().administrator = false;  // may not create under HKLM
  EXPECT_EQ(Read(), "fallback");
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kKey));
}

TEST_F(ValueAccess, NonStringValueYieldsTheFallbackWithoutReadingItsData) {
  sim::reg::SetDword(HKEY_LOCAL_MACHINE, kKey, "v", 0x41414141);
  EXPECT_EQ(Read(), "fallback");
  EXPECT_EQ(sim::CountCalls("RegQueryValueExA"), 1);
  sim::reg::SetValue(HKEY_LOCAL_MACHINE, kKey, "v", REG_MULTI_SZ, Bytes(std::string("a\0b\0", 5)));
  EXPECT_EQ(Read(), "fallback");
}

TEST_F(ValueAccess, TextOf259CharactersFitsAnd260DoNot) {
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kKey, "v", std::string(259, 'a'));
  EXPECT_EQ(Read(), std::string(259, 'a'));
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kKey, "v", std::string(260, 'b'));
  EXPECT_EQ(Read(), "fallback");
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kKey, "v", std::string(70000, 'c'));
  EXPECT_EQ(Read(), "fallback");
}

TEST_F(ValueAccess, UnterminatedTextIsTerminatedWhenThereIsRoomAndRefusedOtherwise) {
  memset(out, 'z', sizeof out);
  sim::reg::SetValue(HKEY_LOCAL_MACHINE, kKey, "v", REG_SZ, Bytes("abc"));
  EXPECT_EQ(Read(), "abc");
  sim::reg::SetValue(HKEY_LOCAL_MACHINE, kKey, "v", REG_SZ, Bytes(std::string(259, 'd')));
  EXPECT_EQ(Read(), std::string(259, 'd'));
  sim::reg::SetValue(HKEY_LOCAL_MACHINE, kKey, "v", REG_SZ, Bytes(std::string(260, 'e')));
  EXPECT_EQ(Read(), "fallback");
}

TEST_F(ValueAccess, EmbeddedNulEndsTheText) {
  sim::reg::SetValue(HKEY_LOCAL_MACHINE, kKey, "v", REG_SZ, Bytes(std::string("ab\0cd", 5)));
  EXPECT_EQ(Read(), "ab");
  sim::reg::SetValue(HKEY_LOCAL_MACHINE, kKey, "v", REG_SZ, Bytes(std::string("\0cd", 3)));
  EXPECT_EQ(Read(), "fallback");
}

TEST_F(ValueAccess, FailedSecondQueryYieldsTheFallbackNotItsUndefinedBytes) {
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kKey, "v", "real");
  sim::FailNth("RegQueryValueExA", 2, ERROR_MORE_DATA, ERROR_MORE_DATA);
  memset(out, 0xCD, sizeof out);
  EXPECT_EQ(Read(), "fallback");
}

TEST_F(ValueAccess, On64BitWindowsTheReaderSeesOnlyThe64BitView) {
  sim::settings().wow64 = true;
  Is64BitWindows = 1;
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kKey, "v", "32-bit only");
  EXPECT_EQ(Read(), "fallback");
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kKey, "v", "64-bit", View::Native);
  EXPECT_EQ(Read(), "64-bit");
  EXPECT_EQ(sim::CallsTo("RegCreateKeyExA").back().args[3], "0x101");
}

TEST_F(ValueAccess, On64BitWindowsTheWriterLandsInThe32BitView) {
  sim::settings().wow64 = true;
  Is64BitWindows = 1;
  WriteRegString(HKEY_LOCAL_MACHINE, kKey, "v", "x", REG_SZ);
  EXPECT_EQ(sim::reg::GetString(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\Vendor\\Product", "v",
                                View::Native),
            "x");
  EXPECT_FALSE(sim::reg::GetString(HKEY_LOCAL_MACHINE, kKey, "v", View::Native));
}

TEST_F(ValueAccess, NoRedirectReadsWithRedirectionOffAndTurnsItBackOn) {
  sim::settings().wow64 = true;
  Is64BitWindows = 1;
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kKey, "v", "D:\\Product\\", View::Native);
  EXPECT_EQ(ReadRegStringNoRedirect(HKEY_LOCAL_MACHINE, kKey, "v", "", out), 1);
  EXPECT_STREQ(out, "D:\\Product\\");
  EXPECT_FALSE(sim::kernel::RedirectionDisabled());
  EXPECT_EQ(CallSequence({"Wow64DisableWow64FsRedirection", "RegQueryValueExA",
                          "Wow64RevertWow64FsRedirection"}),
            "Wow64DisableWow64FsRedirection(), RegQueryValueExA(key#256, v, NULL, 0), "
            "RegQueryValueExA(key#256, v, buffer, 12), Wow64RevertWow64FsRedirection(0x7e570000)");
}

TEST_F(ValueAccess, NoRedirectWithoutTheSwitchLeavesTheBufferUntouched) {
  sim::settings().wow64 = true;
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kKey, "v", "x", View::Native);
  CopyPath(out, "before");
  sim::kernel::RemoveExport("kernel32.dll", "Wow64RevertWow64FsRedirection");
  EXPECT_EQ(ReadRegStringNoRedirect(HKEY_LOCAL_MACHINE, kKey, "v", "", out), 0);
  EXPECT_STREQ(out, "before");
  EXPECT_EQ(sim::CountCalls("Wow64DisableWow64FsRedirection"), 0);
  EXPECT_EQ(sim::CountCalls("GetProcAddress"), 2) << "both entry points are looked up first";
}

TEST_F(ValueAccess, NoRedirectWhenTheSwitchIsRefused) {
  sim::settings().wow64 = false;  // 32-bit Windows refuses the switch
  CopyPath(out, "before");
  EXPECT_EQ(ReadRegStringNoRedirect(HKEY_LOCAL_MACHINE, kKey, "v", "", out), 0);
  EXPECT_STREQ(out, "before");
  EXPECT_EQ(sim::CountCalls("RegCreateKeyExA"), 0);
  sim::FailAlways("LoadLibraryA", 0);
  EXPECT_EQ(ReadRegStringNoRedirect(HKEY_LOCAL_MACHINE, kKey, "v", "", out), 0);
}

}  // namespace
