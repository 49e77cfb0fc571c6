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

// A value saved for the machine wins; the user's copy is read only when the machine gave none.
void ReadSavedValue(const char* name, PathBuffer& text) {
  memset(text, 0, sizeof text);
  ReadRegString(HKEY_LOCAL_MACHINE, kProductKey, name, kEmpty, text);
  if (text[0] == '\0')
    ReadRegString(HKEY_CURRENT_USER, kProductKey, name, kEmpty, text);
}

// Deletes a value of an existing key; a key that is missing is not created for it.
void DeleteValueIfKeyExists(HKEY root, const char* path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

// An empty saved text means there was nothing to restore: the value goes.
void RestoreOrDelete(HKEY root, const char* path, const char* name, const char* saved) {
  if (saved[0] != '\0')
    WriteRegString(root, path, name, saved, REG_SZ);
  else
    DeleteValueIfKeyExists(root, path, name);
}

}  // namespace

void RestorePdfAssociation() {
  // All three are read before anything is written back.
  PathBuffer documentClass;
  PathBuffer mimeClsid;
  PathBuffer progId;
  ReadSavedValue("strdocument", documentClass);
  ReadSavedValue("strCLSID", mimeClsid);
  ReadSavedValue("strProgid", progId);
  RestoreOrDelete(HKEY_LOCAL_MACHINE, kPdfClassKey, kEmpty, documentClass);
  // Unlike the other two, the CLSID is written even when the saved text is empty.
  WriteRegString(HKEY_LOCAL_MACHINE, kPdfMimeKey, "CLSID", mimeClsid, REG_SZ);
  RestoreOrDelete(HKEY_CURRENT_USER, kUserPdfKey, "Progid", progId);
}

void RemoveProductRegistration() {
  for (const char* path : kMachineTrees)
    DeleteKeyTree(HKEY_LOCAL_MACHINE, path);
  for (const char* path : kUserTrees)
    DeleteKeyTree(HKEY_CURRENT_USER, path);
  // Explorer caches associations; the removed classes must not linger there.
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}
