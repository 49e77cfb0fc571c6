// Shared plumbing of the simulated machine's subsystems.
#pragma once

#include "security.h"
#include "sim.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace sim::detail {

struct Hit {
  bool fired = false;
  int64_t result = 0;
  std::optional<DWORD> status;
};

// Records the call in the log and reports whether an injected fault applies to it; a fault
// that fires has already set the last error.
Hit Enter(const char* function, std::initializer_list<std::string> args);

// Text forms of arguments for the call log.
std::string Str(const char* text);
std::string Str(const WCHAR* text);
std::string Num(int64_t number);
std::string Hex(uint64_t number);
std::string KeyName(HKEY key);

std::string Lower(std::string text);
bool SameText(const std::string& a, const std::string& b);  // ASCII case-insensitive

// Sets the last error and returns FALSE, as a failing BOOL call does.
inline BOOL Failed(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// An export's address as GetProcAddress hands it out; through void(*)() because casts between
// unrelated function types draw a warning.
template <class Function>
FARPROC AsFarProc(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// The ANSI calls' conversions between the process's code page (settings().codePage) and the
// Unicode the machine keeps, as UTF-8: FromAnsi of `length` bytes (embedded NULs included) or of
// a NUL-terminated text ("" for NULL), and ToAnsi, where a character the code page lacks is "?".
std::string FromAnsi(const char* text, size_t length);
std::string FromAnsi(const char* text);
std::string ToAnsi(const std::string& text);
// The text in UTF-16, as the Unicode calls hand it out.
std::u16string ToUtf16(const std::string& text);
// The length of a text in UTF-16 code units, which is what Windows' path limits count.
size_t Utf16Length(const std::string& text);
// Whether the byte starts a character of two bytes in the process's code page.
bool IsLeadByte(BYTE byte);

// A value as the registry keeps it, text in UTF-8, at a stored path (no view applied): for the
// machine's own writers, such as the deletions due at the next restart.
std::optional<std::vector<BYTE>> StoredData(HKEY root, const std::string& path,
                                            const std::string& name);
void StoreData(HKEY root, const std::string& path, const std::string& name, DWORD type,
               std::vector<BYTE> data);
// Removes the value, and the keys on its path that are left empty.
void RemoveStoredData(HKEY root, const std::string& path, const std::string& name);

// CloseHandle of a file or a mutex handle; false when the handle is no open one of its kind.
bool CloseFileHandle(HANDLE handle);
bool CloseMutexHandle(HANDLE handle);

// Security (security.cpp): what a root gets, what a new file or folder inherits from its folder,
// the security of what an ANSI path names (NULL, and the error, when it names nothing), SIDs and
// self-relative descriptors as text, the token's groups, and token handles.
sim::security::Descriptor RootSecurity();
sim::security::Descriptor InheritedSecurity(const sim::security::Descriptor& parent,
                                            bool directory);
const sim::security::Descriptor* SecurityOfPath(const char* path, std::string& full, DWORD& error);
std::string SidText(const void* sid);
std::string DescriptorText(const void* selfRelative);
bool TokenHasSid(const std::string& sid);
bool CloseTokenHandle(HANDLE handle);

// Whether the machine's Windows version has this entry point (see sim::Reset).
bool ExistsOnThisVersion(const std::string& function);

// The ledger: resources by kind.
void Acquire(const std::string& kind);
void Release(const std::string& kind);
void Misuse(const std::string& what);

// Per-subsystem process exits, called by sim::EndProcess: what the process held goes, the
// machine stays.
void EndProcessKernel();
void EndProcessRegistry();
void EndProcessShell();
void EndProcessFiles();
void EndProcessSpooler();
void EndProcessOle();
void EndProcessSecurity();

// Per-subsystem resets, called by sim::Reset.
void ResetKernel();
void ResetRegistry();
void ResetShell();
void ResetFiles();
void ResetSpooler();
void ResetOle();
void ResetCom();
void ResetSecurity();

}  // namespace sim::detail
