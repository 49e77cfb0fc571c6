// Shared by the hostile-input tests: paths of an exact length, the product's installed state, and
// the check that no file or library call was handed a path cut to fit a buffer.
#pragma once

#include "com.h"
#include "files.h"
#include "fixture.h"
#include "product_files.h"
#include "registry.h"
#include "spooler.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace hostile {

constexpr char kProductKey[] = "Software\\Tessix Software\\Tessix Tembrin";
constexpr char kDriverDir32[] = "C:\\Windows\\system32\\spool\\drivers\\w32x86";
constexpr char kWindowsDir[] = "C:\\Windows";
constexpr char kPrinter[] = "Tessix Tembrin Printer";
constexpr char kDriver[] = "Tessix Tembrin Printer Driver";
constexpr char kPort[] = "TESSIX_TEMBRIN:";
constexpr char kAddinName[] = "qlc_wordaddin.dll";

// `base` continued with folders of at most 40 characters to exactly `length` characters, never
// ending in a backslash. `base` must not end in one either.
inline std::string DirectoryOfLength(std::string base, size_t length) {
  std::string path = std::move(base);
  while (path.size() < length) {
    const size_t room = length - path.size();
    if (room >= 2) {
      path += '\\';
      path.append(std::min<size_t>(room - 1, 40), 'd');
    } else {
      path += 'd';
    }
  }
  return path;
}

// Every file name the agent ever puts at the end of a path.
inline const std::vector<std::string>& AgentFileNames() {
  static const std::vector<std::string> names = {
      "qelvpr_drv.dll",  "qelvpr_ui.dll",    "qelvpr_pnt.txt",       "qelvpr_drv64.dll",
      "qelvpr_ui64.dll", "qelvpr_pnt64.txt", "qnTmp1.tmp",           "qnTmp2.tmp",
      "qnTmp3.tmp",      "qnTmp4.tmp",       "QXN_ProxyProcess.exe", "QXN_ProxyProcess64.exe",
      "psapi.dll",       "framedyn.dll",     "psapi.dll.tmp",        "framedyn.dll.tmp",
      kAddinName,        "qnTmp*.tmp"};  // and the pattern that finds earlier runs' files
  return names;
}

// The paths the agent may hand to Windows: one of its directories, one of the folders it uses
// below them, one of its file names. A path cut to fit a buffer ends in part of a name or of a
// folder and so is none of them.
inline std::set<std::string> WholePaths(const std::vector<std::string>& directories) {
  static const char* const folders[] = {"",      "\\",           "plugins\\creator\\",
                                        "\\3\\", "\\System32\\", "\\System32\\wbem\\"};
  std::set<std::string> paths;
  for (const std::string& directory : directories)
    for (const char* folder : folders)
      for (const std::string& name : AgentFileNames())
        paths.insert(directory + folder + name);
  return paths;
}

// The calls that were handed a path that is not whole, or too long for an ANSI call: "" when
// every path argument of the file and library calls names a whole file and fits MAX_PATH.
// `directories` are the directories the agent works in (InstallDir, DriverDir, Windows').
inline std::string CutOffPaths(const std::vector<std::string>& directories) {
  struct PathArguments {
    const char* function;
    std::vector<size_t> indexes;
  };
  static const PathArguments checked[] = {
      {"CopyFileA", {0, 1}},   {"MoveFileA", {0, 1}},       {"DeleteFileA", {0}},
      {"MoveFileExA", {0}},    {"GetFileAttributesA", {0}}, {"SetFileAttributesA", {0}},
      {"FindFirstFileA", {0}}, {"LoadLibraryA", {0}},       {"LoadLibraryExA", {0}}};
  // The system libraries the agent loads by bare name.
  static const std::set<std::string> systemModules = {"kernel32.dll", "Kernel32.dll",
                                                      "winspool.drv"};
  const std::set<std::string> whole = WholePaths(directories);
  std::string offending;
  for (const PathArguments& function : checked)
    for (const sim::Call& call : sim::CallsTo(function.function))
      for (size_t index : function.indexes) {
        const std::string& path = call.args.at(index);
        const bool fits = path.size() < MAX_PATH;
        if (!(fits && (whole.count(path) || systemModules.count(path))))
          offending += call.function + " argument " + std::to_string(index) + " of " +
                       std::to_string(path.size()) + " characters: " + path.substr(0, 80) + "...\n";
      }
  return offending;
}

// The Windows libraries the install provisions, already in place: step 7 then copies nothing.
inline void SeedSystemLibraries() {
  sim::files::AddFile("C:\\Windows\\System32\\psapi.dll");
  sim::files::AddFile("C:\\Windows\\System32\\framedyn.dll");
  sim::files::AddFile("C:\\Windows\\SysWOW64\\psapi.dll");
  sim::files::AddFile("C:\\Windows\\SysWOW64\\framedyn.dll");
}

// The printer as a finished install leaves it, for the uninstall's chained removal.
inline void SeedInstalledPrinter(const std::string& environment = "Windows NT x86") {
  sim::spooler::AddPort(kPort);
  sim::spooler::AddDriver(kDriver, environment);
  sim::spooler::AddPrinter(kPrinter, kPort, kDriver);
}

// The add-in at `path`; its calls are counted by sim::com.
inline void AddAddin(const std::string& path) {
  sim::com::AddServer(
      path, [] { return S_OK; }, [] { return S_OK; });
}

}  // namespace hostile
