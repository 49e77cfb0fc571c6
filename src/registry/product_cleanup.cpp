// The product's own registry clean-up at uninstall: the ".pdf" association goes back to what the
// application saved under its key before it took it over, then the product's trees go.
#include "common/names.h"
#include "registry/registry.h"

#include <shlobj.h>

#include <cstring>

namespace {

constexpr char kPdfClassKey[] = "Software\\Classes\\.pdf";
constexpr char kPdfMimeKey[] = "SOFTWARE\\Classes\\MIME\\Database\\Content Type\\application/pdf";
constexpr char kUserPdfKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.pdf";

constexpr char kProductTree[] = "SOFTWARE\\Tessix Software\\Tessix Tembrin";
constexpr char kDocumentClsid[] =
    "SOFTWARE\\Classes\\CLSID\\{C2A97E41-0B6D-4F38-8E15-6D4C2B9A7F03}";
constexpr char kPrinterClsid[] = "SOFTWARE\\Classes\\CLSID\\{5B1E2C90-7D34-4A6F-9C21-3E8D0F6A4B17}";
constexpr char kDocumentProgId[] = "SOFTWARE\\Classes\\TessixTembrin.Document";
constexpr char kApplication[] = "SOFTWARE\\Classes\\Applications\\TESSIX~1.EXE";
constexpr char kMenuOrder[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\Programs\\"
    "Tessix Tembrin";
constexpr char kArpCache[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache\\Tessix Tembrin";
constexpr char kUninstallEntry[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessix Tembrin";
constexpr char kLocalizedUninstallEntry[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KovraTembrin";

constexpr const char* kMachineTrees[] = {
    kDocumentClsid, kPrinterClsid,   kDocumentProgId,
    kApplication,   kProductTree,    kMenuOrder,
    kArpCache,      kUninstallEntry, kLocalizedUninstallEntry,
};

// Not the machine list: no second CLSID and no localized uninstall entry, the product key twice
// (the second removal finds nothing), and the beta's key, which only a user hive holds.
constexpr const char* kUserTrees[] = {
    kDocumentClsid, kDocumentProgId, kApplication, kProductTree, kMenuOrder,
    kArpCache,      kUninstallEntry, kProductTree, kBetaKey,
};

// The class the product makes the ".pdf" document class and the user's choice.
constexpr char kOwnDocumentClass[] = "TessixTembrin.Document";

struct SavedValue {
  const char* name;
  PathBuffer text;
  bool saved;        // there under either root, even empty
  bool machineWins;  // the machine's text, which the user's never overrides
};

// The machine's value wins; the user's is read only when the machine's gives no text.
void ReadSavedValue(SavedValue& value, const char* name) {
  value.name = name;
  memset(value.text, 0, sizeof value.text);
  value.saved = FindRegString(HKEY_LOCAL_MACHINE, kProductKey, value.name, value.text) != 0;
  value.machineWins = value.text[0] != '\0';
  if (!value.machineWins)
    value.saved =
        FindRegString(HKEY_CURRENT_USER, kProductKey, value.name, value.text) != 0 || value.saved;
}

// An association is given back once. On 64-bit Windows the saved values are read in the 64-bit
// view, which the product key's removal (in the 32-bit view) never reaches, and the user's
// product key goes after the machine's: left in place, they would be restored again at the next
// uninstall, over what the user chose since. So they go as soon as they are restored, the one
// that was not restored first: a run killed in between restores the same again or, once both are
// gone, nothing.
void ForgetSavedValue(const SavedValue& value) {
  const HKEY first = value.machineWins ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  const HKEY last = value.machineWins ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  DeleteFoundValue(first, kProductKey, value.name);
  DeleteFoundValue(last, kProductKey, value.name);
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Class names are case-insensitive.
bool SameText(const char* a, const char* b) {
  while (*a && Lower(*a) == Lower(*b)) {
    ++a;
    ++b;
  }
  return *a == *b;
}

bool IsOwnDocumentClass(const char* text) {
  return SameText(text, kOwnDocumentClass);
}

// The command the install writes ("\"...\Tessix Software\Tessix Tembrin\...exe\""), or one
// without its quotes: whoever the application-data folder belonged to, the program is ours. A
// command that starts anything else is another program's.
bool StartsCompletionProgram(const char* command) {
  constexpr char kTail[] = "\\Tessix Software\\Tessix Tembrin\\TembrinInstallComplete.exe";
  size_t length = strlen(command);
  if (length > 1 && command[0] == '"' && command[length - 1] == '"')
    --length;
  constexpr size_t kTailLength = sizeof kTail - 1;
  if (length < kTailLength)
    return false;
  PathBuffer tail;
  memcpy(tail, command + length - kTailLength, kTailLength);
  tail[kTailLength] = '\0';
  return SameText(tail, kTail);
}

// Deletes a value of an existing key (a missing key is not created for it); with `onlyIf`, only
// while the value's text is one it accepts.
void DeleteValue(HKEY root, const char* path, const char* name, bool (*onlyIf)(const char*)) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return;
  PathBuffer text;
  if (!onlyIf || (ReadKeyString(key, name, text) && onlyIf(text)))
    RegDeleteValueA(key, name);
  RegCloseKey(key);
}

// An empty saved text means there was nothing to restore: the value goes. A value saved nowhere
// (a second uninstall, or one whose first run got past the clean-up) was never taken over, or has
// been given back already: it stays as the user or another program set it, unless it still names
// our own document class, which the clean-up is about to remove.
void Restore(HKEY root, const char* path, const char* name, bool saved, const char* text) {
  if (!saved)
    DeleteValue(root, path, name, IsOwnDocumentClass);
  else if (text[0] != '\0')
    WriteRegString(root, path, name, text, REG_SZ);
  else
    DeleteValue(root, path, name, nullptr);
}

}  // namespace

void RestorePdfAssociation() {
  // All three are read before anything is written back, and forgotten after.
  constexpr const char* kSavedNames[] = {"strdocument", "strCLSID", "strProgid"};
  SavedValue saved[3];
  for (size_t i = 0; i < 3; ++i)
    ReadSavedValue(saved[i], kSavedNames[i]);
  const SavedValue& documentClass = saved[0];
  const SavedValue& mimeClsid = saved[1];
  const SavedValue& progId = saved[2];
  Restore(HKEY_LOCAL_MACHINE, kPdfClassKey, kEmpty, documentClass.saved, documentClass.text);
  // Unlike the other two, the CLSID is written even when the saved text is empty.
  if (mimeClsid.saved)
    WriteRegString(HKEY_LOCAL_MACHINE, kPdfMimeKey, "CLSID", mimeClsid.text, REG_SZ);
  Restore(HKEY_CURRENT_USER, kUserPdfKey, "Progid", progId.saved, progId.text);
  for (const SavedValue& value : saved)
    ForgetSavedValue(value);
}

void RemoveProductRegistration() {
  for (const char* path : kMachineTrees)
    DeleteKeyTree(HKEY_LOCAL_MACHINE, path);
  for (const char* path : kUserTrees)
    DeleteKeyTree(HKEY_CURRENT_USER, path);
  // Left in place, it would start the completion program of a product that is gone at the next
  // administrator's logon.
  DeleteValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, StartsCompletionProgram);
  // Explorer caches associations; the removed classes must not linger there.
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}
