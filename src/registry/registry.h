// The registry toolkit: string values, key trees, and the product's own clean-up.
#pragma once

#include "common/path_buffer.h"
#include "common/unicode_names.h"

#include <windows.h>

// Writes a string value, creating its key and any missing keys on its path. 0 when no key was
// obtained, or when the type is not a string type (nothing is written then); otherwise 1, also
// when the write itself failed.
int WriteRegString(HKEY root, const char* subkey, const char* name, const char* data, DWORD type);

// Reads a REG_SZ or REG_EXPAND_SZ value (unexpanded) into `out`; every case that yields no
// usable text (no key, no value, another type, an empty text, a text that does not fit `out`
// with its terminator) leaves the fallback text there instead. Always 1. On 64-bit Windows the
// key is opened in the 64-bit view. A missing key is created, empty, where that is allowed.
int ReadRegString(HKEY root, const char* subkey, const char* name, const char* fallback,
                  PathBuffer& out);

// Reads a string value as ReadRegString does, but tells a value that is there, even empty, from
// one that is not: 1 when a REG_SZ or REG_EXPAND_SZ that fits `out` was read; 0, with `out`
// empty, when the value is missing, of another type or too long. A missing key is not created.
int FindRegString(HKEY root, const char* subkey, const char* name, PathBuffer& out);

// Reads a REG_DWORD value as FindRegString reads a string, in the same view: 1 when it is there,
// 0 (and `out` undefined) when it is missing or of another type or size.
int FindRegDword(HKEY root, const char* subkey, const char* name, DWORD& out);

// Deletes a value where FindRegString finds it (on 64-bit Windows in the 64-bit view). A missing
// key is not created.
void DeleteFoundValue(HKEY root, const char* subkey, const char* name);

// Reads a string value as Unicode, where FindRegString reads it as ANSI: 1 when it is a REG_SZ
// or REG_EXPAND_SZ that fits `out` with its terminator, 0 otherwise. A missing key is not
// created.
int ReadRegWideString(HKEY root, const char* subkey, const WCHAR* name, WidePathBuffer& out);

// The string value `name` of an open key, read into `out`: 1 when it is a REG_SZ or REG_EXPAND_SZ
// that fits with its terminator, 0 (and `out` undefined) otherwise.
int ReadKeyString(HKEY key, const char* name, PathBuffer& out);

// ReadRegString with the thread's WOW64 file-system redirection switched off. 0, with `out`
// untouched, when the switch is unavailable or refused; otherwise ReadRegString's result.
int ReadRegStringNoRedirect(HKEY root, const char* subkey, const char* name, const char* fallback,
                            PathBuffer& out);

// Key trees. Each works under the root it is given, in the default registry view of the
// process; keys are emptied and removed, never created.

// Removes the key at `path` under `root` with everything below it, as far as it can. Silent.
void DeleteKeyTree(HKEY root, const char* path);

// Removes every subkey of the open `key`, whose full path under `root` is `path`, depth first.
// 1 when it went through, 0 when it stopped at a subkey it could not remove. The key itself and
// its values stay.
int DeleteSubkeys(HKEY root, HKEY key, const char* path);

// Deletes the first `count` values, by enumeration index, of the key at `path`; deletes none
// when any of their names cannot be read first.
void DeleteAllValues(HKEY root, const char* path, int count);

// The product's own registration.

// The key an earlier beta left under HKEY_CURRENT_USER.
inline constexpr char kBetaKey[] = "SOFTWARE\\Tessix Software\\Tessix Tembrin Beta";

// Writes the saved ".pdf" document class, MIME CLSID and ProgID back into the association.
void RestorePdfAssociation();

// Removes the product's key trees under both hives and tells the shell associations changed.
void RemoveProductRegistration();
