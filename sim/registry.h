// Seeding and inspecting the simulated registry. Paths are given as the 32-bit process sees them
// (View::Process); View::Native names the 64-bit view of 64-bit Windows, where a 32-bit process's
// "HKLM\Software\X" is stored as "Software\Wow6432Node\X". On 32-bit Windows both are the same.
#pragma once

#include "sim.h"

#include <optional>
#include <string>
#include <vector>

namespace sim::reg {

enum class View { Process, Native };

struct Value {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// Paths, names and the text of string values are Unicode text, in UTF-8. The bytes of SetValue
// and GetValue are those of the ANSI calls: for a string type, in the process's code page
// (settings().codePage), converted to and from the text the registry keeps.
void CreateKey(HKEY root, const std::string& path, View view = View::Process);
void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::vector<BYTE>& data, View view = View::Process);
// A REG_SZ with its terminator, as a Windows program stores it.
void SetString(HKEY root, const std::string& path, const std::string& name, const std::string& text,
               View view = View::Process);
void SetDword(HKEY root, const std::string& path, const std::string& name, DWORD data,
              View view = View::Process);

bool KeyExists(HKEY root, const std::string& path, View view = View::Process);
std::optional<Value> GetValue(HKEY root, const std::string& path, const std::string& name,
                              View view = View::Process);
// The value's bytes up to the first NUL, when it is a string value.
std::optional<std::string> GetString(HKEY root, const std::string& path, const std::string& name,
                                     View view = View::Process);
std::vector<std::string> Subkeys(HKEY root, const std::string& path, View view = View::Process);
std::vector<std::string> ValueNames(HKEY root, const std::string& path, View view = View::Process);

// Every open of this key fails with ERROR_ACCESS_DENIED.
void SetNotOpenable(HKEY root, const std::string& path, View view = View::Process);
// The key can be opened for reading only: write access, value deletion and key deletion are
// refused with ERROR_ACCESS_DENIED.
void SetReadOnly(HKEY root, const std::string& path, View view = View::Process);

// The whole hive as text, one line per key and value, in enumeration order: for asserting that
// nothing outside a tree changed.
std::string Dump(HKEY root);

}  // namespace sim::reg
