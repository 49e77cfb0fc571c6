// Code comes only from a folder that administrators alone can change: the installation directory,
// its "plugins\creator" and the files the run copies or loads, and every folder above them.
#include "com.h"
#include "files.h"
#include "fixture.h"
#include "product_files.h"
#include "registry.h"
#include "security.h"
#include "spooler.h"

#include <functional>

namespace {

namespace sec = sim::security;
using sec::Ace;
constexpr char kPort[] = "TESSIX_TEMBRIN:";
const std::string kProgramFiles = "C:\\Program Files\\Tessix Tembrin\\";

void Grant(const std::string& path, Ace ace, const std::string& owner = sec::kAdministrators) {
  sec::Descriptor security = sim::files::Security(path);
  if (!ace.sid.empty())
    security.dacl->push_back(ace);
  security.owner = owner;
  sim::files::SetSecurity(path, security);
}

class TrustedFolder : public SimTest {};

TEST_F(TrustedFolder, OnlyAFolderThatAdministratorsAloneCanChangeIsTakenFrom) {
  const Ace usersWrite{sec::kUsers, 0x2};  // FILE_WRITE_DATA
  // Made where it is, by an installer that does not lock it down.
  const auto asMade = [](const std::string& d) {
    sim::files::Remove(d);
    sim::files::AddDirectory(d + "plugins\\creator");
  };
  struct Row {
    const char* what;
    std::string dir;
    std::function<void(const std::string&)> change;
    bool install, uninstall;  // the folder is taken from
  } rows[] = {
      {"below Program Files, made by an elevated installer", kProgramFiles, {}, true, true},
      {"at the root of a volume: Authenticated Users may change it", "C:\\Tembrin\\", asMade, false,
       false},
      {"a driver file that Users may write", kProgramFiles,
       [&](auto& d) { Grant(d + "plugins\\creator\\qelvpr_ui.dll", usersWrite); }, false, true},
      {"a 64-bit file that Users may write, on 64-bit Windows", kProgramFiles,
       [&](auto& d) {
         Grant(d + "plugins\\creator\\qelvpr_ui64.dll", usersWrite);
         sim::settings().wow64 = true;
         sim::reg::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node", sim::reg::View::Native);
       },
       false, true},
      {"a 64-bit file that a 32-bit Windows never copies", kProgramFiles,
       [&](auto& d) { Grant(d + "plugins\\creator\\qelvpr_ui64.dll", usersWrite); }, true, true},
      {"the proxy owned by another user", kProgramFiles,
       [&](auto& d) { Grant(d + "plugins\\creator\\QXN_ProxyProcess.exe", {}, sec::kOtherUser); },
       false, true},
      {"the add-in that anyone may delete", kProgramFiles,
       [&](auto& d) {
         Grant(d + "qlc_wordaddin.dll", {sec::kEveryone, DELETE});
       },
       false, false},
      {"no add-in, in a folder nobody else may add to", kProgramFiles,
       [](auto& d) { sim::files::Remove(d + "qlc_wordaddin.dll"); }, true, true},
      {"no plugins\\creator", kProgramFiles,
       [](auto& d) { sim::files::Remove(d + "plugins\\creator"); }, false, true},
      {"plugins\\creator with a NULL DACL", kProgramFiles,
       [](auto& d) {
         sim::files::SetSecurity(d + "plugins\\creator", {sec::kSystem, {}});
       },
       false, true},
      {"Users may add a subfolder to plugins\\creator", kProgramFiles,
       [&](auto& d) {
         Grant(d + "plugins\\creator", {sec::kUsers, 0x4});
       },
       false, true},
      {"Users may rename plugins\\creator in plugins", kProgramFiles,
       [&](auto& d) {
         Grant(d + "plugins", {sec::kUsers, 0x40});
       },
       false, true},
      {"a deny entry, and Users' write for files yet to come", kProgramFiles,
       [&](auto& d) {
         Grant(d, {sec::kEveryone, sec::kFullControl, 0, false});
         Grant(d, {sec::kUsers, sec::kModify, sec::kObjectInherit | sec::kInheritOnly});
       },
       true, true},
      {"its parent lets Users rename it", "C:\\Apps\\Tembrin\\",
       [&](auto&) {
         Grant("C:\\Apps", {sec::kUsers, 0x40});
       },
       false, false},
      {"a folder above it owned by another user", "C:\\Apps\\Tembrin\\",
       [&](auto&) { Grant("C:\\Apps", {}, sec::kOtherUser); }, false, false},
      {"owned by the administrator who runs the agent", "C:\\Apps\\Tembrin\\",
       [&](auto& d) {
         Grant(d, {sec::kTester, sec::kFullControl}, sec::kTester);
       },
       true, true},
      {"the same, run as SYSTEM", "C:\\Apps\\Tembrin\\",
       [&](auto& d) {
         Grant(d, {sec::kTester, sec::kFullControl}, sec::kTester);
         sim::settings().account = sec::kSystem;
       },
       false, false},
      {"a FAT volume", "E:\\Tembrin\\", [](auto&) { sec::SetVolume('E', DRIVE_FIXED, false); },
       false, false},
      {"a removable disk", "E:\\Tembrin\\", [](auto&) { sec::SetVolume('E', DRIVE_REMOVABLE); },
       false, false},
      {"a network drive", "E:\\Tembrin\\", [](auto&) { sec::SetVolume('E', DRIVE_REMOTE); }, false,
       false},
      {"security that cannot be read", kProgramFiles,
       [](auto&) { sim::FailAlways("GetNamedSecurityInfoA", ERROR_ACCESS_DENIED); }, false, false},
      {"95/98/Me, which keep no security, at a root", "C:\\Tembrin\\",
       [&](auto& d) {
         asMade(d);
         sim::settings().majorVersion = 4, sim::settings().win9xFamily = true;
       },
       false, true},
  };
  for (const Row& row : rows) {
    SetUp();
    SeedCompleteInstall(row.dir);
    if (row.change)
      row.change(row.dir);
    const std::string before = sim::Dump();
    RunAgent("/Install");
    EXPECT_EQ(sim::spooler::HasPort(kPort), row.install) << row.what;
    if (!row.install) {
      EXPECT_EQ(sim::Dump(), before) << row.what << ": nothing changed";
    }
    RunAgent("/Uninstall");
    EXPECT_EQ(sim::com::UnregisterCalls(row.dir + "qlc_wordaddin.dll"), row.uninstall ? 1 : 0)
        << row.what;
  }
}

// Once a run, each path it uses: the folder and those above it, then for /Install plugins\creator
// and the four files of this Windows, and the add-in.
TEST_F(TrustedFolder, EachPathTheRunUsesIsReadOnce) {
  SeedCompleteInstall(kProgramFiles);
  const std::string chain = "C:\\Program Files\\Tessix Tembrin C:\\Program Files C:\\ ";
  const std::string creator = kProgramFiles + "plugins\\creator";
  const std::string sources = kProgramFiles + "plugins " + creator + " " + creator +
                              "\\qelvpr_drv.dll " + creator + "\\qelvpr_ui.dll " + creator +
                              "\\qelvpr_pnt.txt " + creator + "\\QXN_ProxyProcess.exe ";
  for (const std::string command : {"/Install", "/Uninstall"}) {
    sim::ClearCalls();
    RunAgent(command);
    std::string read;
    for (const sim::Call& call : sim::CallsTo("GetNamedSecurityInfoA"))
      read += call.args[0] + " ";
    EXPECT_EQ(read, chain + (command == "/Install" ? sources : "") + kProgramFiles +
                        "qlc_wordaddin.dll ");
  }
}

}  // namespace
