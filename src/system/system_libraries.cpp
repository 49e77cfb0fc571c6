// The driver needs two Windows libraries that some Windows editions lack; the application ships
// copies of them in the driver directory.
#include "system/system.h"

#include "common/file_replacement.h"
#include "common/path_buffer.h"
#include "entry/state.h"

#include <windows.h>

#include <cstring>

namespace {

constexpr char kPsapi[] = "psapi.dll";
constexpr char kFramedyn[] = "framedyn.dll";

// Every path of the step, formed before anything is tested or copied, so that a path that would
// not fit stops the step before it changes anything.
struct LibraryPaths {
  PathBuffer psapiInSystem;
  PathBuffer psapiCopy;
  PathBuffer psapiSource;
  PathBuffer framedynInSystem;
  PathBuffer framedynInWbem;
  PathBuffer framedynCopy;
  PathBuffer framedynSource;
};

// false when Windows cannot name its directory or the name does not fit the buffer; the
// buffer's contents are then undefined.
bool GetWindowsDir(PathBuffer& directory) {
  const UINT length = GetWindowsDirectoryA(directory, MAX_PATH);
  return length > 0 && length < MAX_PATH;
}

bool FormLibraryPaths(const char* windowsDir, LibraryPaths& paths) {
  return FormatPath(paths.psapiInSystem, "%s\\System32\\%s", windowsDir, kPsapi) &&
         FormatPath(paths.psapiCopy, "%s\\System32\\%s.tmp", windowsDir, kPsapi) &&
         FormatPath(paths.psapiSource, "%s\\%s", DriverDir, kPsapi) &&
         FormatPath(paths.framedynInSystem, "%s\\System32\\%s", windowsDir, kFramedyn) &&
         FormatPath(paths.framedynInWbem, "%s\\System32\\wbem\\%s", windowsDir, kFramedyn) &&
         FormatPath(paths.framedynCopy, "%s\\System32\\wbem\\%s.tmp", windowsDir, kFramedyn) &&
         FormatPath(paths.framedynSource, "%s\\%s", DriverDir, kFramedyn);
}

// Any directory entry of that name counts, a directory included. The search record is not read.
bool IsPresent(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE)
    return false;
  FindClose(search);
  return true;
}

// Whether the file is an x86 program or library: its PE header names IMAGE_FILE_MACHINE_I386.
bool IsX86Image(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  BYTE dos[64];  // IMAGE_DOS_HEADER: "MZ" at 0, the PE header's offset at 0x3C
  BYTE pe[6];    // "PE\0\0" and the machine type
  DWORD read = 0;
  LONG offset = 0;
  bool x86 = ReadFile(file, dos, sizeof dos, &read, nullptr) && read == sizeof dos &&
             dos[0] == 'M' && dos[1] == 'Z';
  if (x86) {
    memcpy(&offset, dos + 0x3C, sizeof offset);
    x86 = SetFilePointer(file, offset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
          ReadFile(file, pe, sizeof pe, &read, nullptr) && read == sizeof pe &&
          memcmp(pe, "PE\0\0", 4) == 0 && pe[4] == (IMAGE_FILE_MACHINE_I386 & 0xFF) &&
          pe[5] == (IMAGE_FILE_MACHINE_I386 >> 8);
  }
  CloseHandle(file);
  return x86;
}

// A copy cut short (a killed run, a full disk) would leave a short library that counts as
// present from then on and breaks every program that loads it. So the library is copied under a
// temporary name beside it, one that no program loads, and renamed into place when whole. The
// agent is a 32-bit process: its "System32" is the folder of 32-bit libraries (SysWOW64 on
// 64-bit Windows), and the driver directory it copies from is the x64 one there, which
// redirection does not touch. A 64-bit library in place would stop every 32-bit program that
// imports it, so only an x86 one is put there. The copy keeps its source's read-only bit, which
// it loses before it goes: no temporary file stays. One left over from a run cut short is
// overwritten.
bool PutInPlace(const char* copy, const char* destination) {
  if (IsX86Image(copy) && MoveFileA(copy, destination))
    return true;
  ClearAttributes(copy, FILE_ATTRIBUTE_READONLY);
  DeleteFileA(copy);
  return false;
}

// The System32 paths are used as they are: a 32-bit process on 64-bit Windows gets SysWOW64,
// which is where its own libraries belong.
bool ProvidePsapi(const LibraryPaths& paths) {
  if (IsPresent(paths.psapiInSystem))
    return true;
  return CopyOver(paths.psapiSource, paths.psapiCopy) &&
         PutInPlace(paths.psapiCopy, paths.psapiInSystem);
}

// framedyn.dll belongs to WMI and is accepted in System32 or its "wbem" folder, but provided in
// "wbem" only. The copy is tried twice in a row.
bool ProvideFramedyn(const LibraryPaths& paths) {
  if (IsPresent(paths.framedynInSystem) || IsPresent(paths.framedynInWbem))
    return true;
  return (CopyOver(paths.framedynSource, paths.framedynCopy) ||
          CopyOver(paths.framedynSource, paths.framedynCopy)) &&
         PutInPlace(paths.framedynCopy, paths.framedynInWbem);
}

}  // namespace

int ProvisionSystemLibraries() {
  PathBuffer windowsDir = {};
  LibraryPaths paths;
  if (!GetWindowsDir(windowsDir) || !FormLibraryPaths(windowsDir, paths))
    return 0;
  return ProvidePsapi(paths) && ProvideFramedyn(paths) ? 1 : 0;
}
