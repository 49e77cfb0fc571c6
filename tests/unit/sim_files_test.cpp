// The simulated file system is a second implementation of kernel32 that the agent's tests trust:
// these cases pin down the Windows behaviours they rely on.
#include "files.h"
#include "fixture.h"
#include "registry.h"

namespace {

using sim::files::AddFile;
using sim::files::Attributes;
using sim::files::Contents;
using sim::files::Exists;

class SimFiles : public SimTest {};

TEST_F(SimFiles, NamesAreCaseInsensitiveAndABackslashStartsOnTheCurrentDrive) {
  AddFile("D:\\Data\\Report.TXT", "x");
  sim::settings().currentDrive = 'D';
  EXPECT_NE(GetFileAttributesA("\\data\\report.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA("d:/DATA//report.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(sim::files::List("d:\\data"), std::vector<std::string>{"Report.TXT"});
  sim::settings().currentDrive = 'C';
  EXPECT_EQ(GetFileAttributesA("\\data\\report.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(SimFiles, CopyOverwritesUnlessToldNotToAndCarriesTheReadOnlyBit) {
  AddFile("C:\\a.dll", "new", FILE_ATTRIBUTE_READONLY);
  AddFile("C:\\b.dll", "old");
  EXPECT_FALSE(CopyFileA("C:\\a.dll", "C:\\b.dll", TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_TRUE(CopyFileA("C:\\a.dll", "C:\\b.dll", FALSE));
  EXPECT_EQ(Contents("C:\\b.dll"), "new");
  EXPECT_TRUE(Attributes("C:\\b.dll") & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(CopyFileA("C:\\a.dll", "C:\\b.dll", FALSE)) << "the destination is read-only now";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(SimFiles, CopyFailures) {
  AddFile("C:\\a.dll", "a");
  AddFile("C:\\busy.dll", "b");
  sim::files::SetInUse("C:\\busy.dll");
  struct Case {
    const char* from;
    const char* to;
    DWORD error;
  } cases[] = {{"C:\\missing.dll", "C:\\x.dll", ERROR_FILE_NOT_FOUND},
               {"C:\\nodir\\a.dll", "C:\\x.dll", ERROR_PATH_NOT_FOUND},
               {"C:\\a.dll", "C:\\nodir\\x.dll", ERROR_PATH_NOT_FOUND},
               {"C:\\a.dll", "C:\\busy.dll", ERROR_SHARING_VIOLATION},
               {"C:\\a.dll", "C:\\Windows", ERROR_ACCESS_DENIED}};
  for (const Case& c : cases) {
    EXPECT_FALSE(CopyFileA(c.from, c.to, FALSE)) << c.from << " -> " << c.to;
    EXPECT_EQ(GetLastError(), c.error) << c.from << " -> " << c.to;
  }
  EXPECT_EQ(Contents("C:\\busy.dll"), "b");
}

TEST_F(SimFiles, MoveNeverReplacesAndRenamesInUseAndReadOnlyFiles) {
  AddFile("C:\\d\\drv.dll", "driver", FILE_ATTRIBUTE_READONLY);
  sim::files::SetInUse("C:\\d\\drv.dll");
  AddFile("C:\\d\\tmp.tmp", "older");
  EXPECT_FALSE(MoveFileA("C:\\d\\drv.dll", "C:\\d\\tmp.tmp"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(Contents("C:\\d\\tmp.tmp"), "older");
  ASSERT_TRUE(DeleteFileA("C:\\d\\tmp.tmp"));
  EXPECT_TRUE(MoveFileA("C:\\d\\drv.dll", "C:\\d\\tmp.tmp"));
  EXPECT_FALSE(Exists("C:\\d\\drv.dll"));
  EXPECT_EQ(Contents("C:\\d\\tmp.tmp"), "driver");
  EXPECT_FALSE(DeleteFileA("C:\\d\\tmp.tmp")) << "still in use under its new name";
  EXPECT_FALSE(MoveFileA("C:\\d\\gone.dll", "C:\\d\\x.tmp"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// A file held open without delete sharing cannot even be moved: MoveFile opens it for deletion.
// A handle of the agent's own withholds what its sharing does not grant, until it is closed.
TEST_F(SimFiles, TheAgentsOwnOpenFileSharesOnlyWhatItSays) {
  AddFile("C:\\d\\src.dll", "new");
  AddFile("C:\\d\\drv.dll", "driver");
  auto open = [](const char* path, DWORD share) {
    return CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  };
  for (const DWORD share : {DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_DELETE}}) {
    HANDLE file = open("C:\\d\\drv.dll", share);
    EXPECT_FALSE(CopyFileA("C:\\d\\src.dll", "C:\\d\\drv.dll", FALSE)) << share;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(MoveFileA("C:\\d\\drv.dll", "C:\\d\\tmp.tmp"), share != FILE_SHARE_READ) << share;
    CloseHandle(file);
  }
  HANDLE file = open("C:\\d\\tmp.tmp", FILE_SHARE_READ);
  EXPECT_FALSE(DeleteFileA("C:\\d\\tmp.tmp"));
  CloseHandle(file);
  EXPECT_TRUE(DeleteFileA("C:\\d\\tmp.tmp")) << "once it is closed";
}

TEST_F(SimFiles, DeleteFailsOnMissingReadOnlyInUseFilesAndDirectories) {
  AddFile("C:\\ro.txt", "", FILE_ATTRIBUTE_READONLY);
  AddFile("C:\\busy.dll");
  sim::files::SetInUse("C:\\busy.dll");
  AddFile("C:\\open.txt");
  sim::files::SetInUse("C:\\open.txt", sim::files::Use::HeldOpen);
  for (const char* path : {"C:\\ro.txt", "C:\\busy.dll", "C:\\Windows", "C:\\open.txt"}) {
    EXPECT_FALSE(DeleteFileA(path)) << path;
    EXPECT_EQ(GetLastError(),
              static_cast<DWORD>(std::string(path) == "C:\\open.txt" ? ERROR_SHARING_VIOLATION
                                                                     : ERROR_ACCESS_DENIED))
        << path;
    EXPECT_TRUE(Exists(path));
  }
  EXPECT_FALSE(MoveFileA("C:\\open.txt", "C:\\moved.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(CopyFileA("C:\\ro.txt", "C:\\open.txt", FALSE));
  EXPECT_FALSE(DeleteFileA("C:\\none.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// As Windows keeps them: pairs of an NT path and a new name, "" for a deletion, in one list.
TEST_F(SimFiles, DeletionAtRestartIsOnlyRecordedAndNeedsAnAdministrator) {
  AddFile("C:\\d\\there.tmp");
  EXPECT_TRUE(MoveFileExA("\\d\\none.tmp", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT | 1));
  EXPECT_TRUE(MoveFileExA("C:\\d\\there.tmp", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  using namespace std::string_literals;
  const std::string list = "\\??\\C:\\d\\none.tmp\0\0\\??\\C:\\d\\there.tmp\0\0\0"s;
  const auto value =
      sim::reg::GetValue(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                         "PendingFileRenameOperations");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(std::string(value->data.begin(), value->data.end()), list);
  sim::settings().administrator = false;
  EXPECT_FALSE(MoveFileExA("C:\\x.tmp", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(sim::files::PendingDeletions().size(), 2u);
  sim::files::Restart();
  EXPECT_FALSE(Exists("C:\\d\\there.tmp"));
  EXPECT_EQ(sim::reg::Dump(HKEY_LOCAL_MACHINE), "[]\n") << "the list goes with the restart";
}

TEST_F(SimFiles, SettingAttributesKeepsTheOthersAndNormalIsNotStored) {
  AddFile("C:\\f.dll", "", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(SetFileAttributesA("C:\\f.dll", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA("C:\\f.dll"), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesA("C:\\f.dll", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesA("C:\\f.dll"), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
}

TEST_F(SimFiles, FindMatchesFilesAndDirectoriesAndItsHandleIsInTheLedger) {
  AddFile("C:\\Windows\\System32\\psapi.dll");
  sim::files::AddDirectory("C:\\Windows\\System32\\framedyn.dll");
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA("C:\\WINDOWS\\system32\\framedyn.dll", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_NE(sim::Leaks(), "") << "an open search is a held resource";
  EXPECT_TRUE(FindClose(search));
  search = FindFirstFileA("C:\\Windows\\System32\\*.dll", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "framedyn.dll");
  ASSERT_TRUE(DeleteFileA("C:\\Windows\\System32\\psapi.dll"));
  EXPECT_TRUE(FindNextFileA(search, &data)) << "the entries as they were when the search began";
  EXPECT_STREQ(data.cFileName, "psapi.dll");
  EXPECT_FALSE(FindNextFileA(search, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  FindClose(search);
  EXPECT_EQ(FindFirstFileA("C:\\Windows\\System32\\wbem\\x.dll", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(FindFirstFileA("C:\\Windows\\System32\\x.dll", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(SimFiles, Wow64RedirectsSystem32ButNotTheSpoolerTree) {
  sim::settings().wow64 = true;
  AddFile("C:\\Windows\\SysWOW64\\psapi.dll", "32-bit");
  AddFile("C:\\Windows\\System32\\spool\\drivers\\x64\\drv.dll", "64-bit");
  EXPECT_NE(GetFileAttributesA("C:\\Windows\\System32\\psapi.dll"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA("C:\\Windows\\system32\\spool\\drivers\\x64\\drv.dll"),
            INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(CopyFileA("C:\\Windows\\System32\\psapi.dll", "C:\\Windows\\System32\\p2.dll", 0));
  EXPECT_TRUE(Exists("C:\\Windows\\SysWOW64\\p2.dll"));
  EXPECT_FALSE(Exists("C:\\Windows\\System32\\p2.dll"));
  sim::settings().wow64 = false;
  EXPECT_EQ(GetFileAttributesA("C:\\Windows\\System32\\psapi.dll"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(SimFiles, TooLongPathsAreRefusedWhole) {
  const std::string longName = "C:\\" + std::string(MAX_PATH, 'a');
  AddFile(longName.substr(0, MAX_PATH - 1), "fits");
  EXPECT_FALSE(DeleteFileA(longName.c_str()));
  EXPECT_EQ(GetLastError(), 206u);
  EXPECT_TRUE(Exists(longName.substr(0, MAX_PATH - 1)));
}

TEST_F(SimFiles, WindowsDirectoryAndItsSizingAnswer) {
  char buffer[MAX_PATH];
  EXPECT_EQ(GetWindowsDirectoryA(buffer, MAX_PATH), 10u);
  EXPECT_STREQ(buffer, "C:\\Windows");
  EXPECT_EQ(GetWindowsDirectoryA(buffer, 10), 11u) << "no room for the terminator";
  sim::FailAlways("GetWindowsDirectoryA", 0);
  EXPECT_EQ(GetWindowsDirectoryA(buffer, MAX_PATH), 0u);
}

}  // namespace

// What icacls shows on Windows 7 and later: below a volume's root Authenticated Users may change
// everything; below Program Files CREATOR OWNER is the owner and generic rights are mapped.
TEST_F(SimFiles, NewFilesAndFoldersInheritTheirSecurityAsWindowsGivesIt) {
  AddFile("C:\\Tembrin\\x.dll");
  AddFile("C:\\Program Files\\T\\x.dll");
  const std::string fromRoot =
      "(A;0x13;0x1f01ff;S-1-5-32-544)(A;0x13;0x1f01ff;S-1-5-18)"
      "(A;0x13;0x1200a9;S-1-5-32-545)(A;0x13;0x1301bf;S-1-5-11)";
  EXPECT_EQ(sim::security::Text(sim::files::Security("C:\\Tembrin")),
            "O:S-1-5-32-544 D:" + fromRoot);
  std::string onFile = fromRoot;
  for (size_t at; (at = onFile.find(";0x13;")) != std::string::npos;)
    onFile.replace(at, 6, ";0x10;");
  EXPECT_EQ(sim::security::Text(sim::files::Security("C:\\Tembrin\\x.dll")),
            "O:S-1-5-32-544 D:" + onFile);
  EXPECT_EQ(sim::security::Text(sim::files::Security("C:\\Program Files\\T\\x.dll")),
            "O:S-1-5-32-544 D:(A;0x10;0x1f01ff;S-1-5-18)(A;0x10;0x1f01ff;S-1-5-32-544)"
            "(A;0x10;0x1200a9;S-1-5-32-545)(A;0x10;0x1f01ff;S-1-5-32-544)"
            "(A;0x10;0x1200a9;S-1-15-2-1)");
  EXPECT_EQ(sim::security::Text(sim::files::Security("C:\\Program Files\\T")).substr(0, 67),
            "O:S-1-5-32-544 D:(A;0x10;0x1f01ff;S-1-5-80-956008885-3418522649-183");
}
