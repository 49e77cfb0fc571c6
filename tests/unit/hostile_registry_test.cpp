// Registry contents the agent does not control: saved association values of every type, size
// and shape, and a product key that may be read but not deleted.
#include "hostile_support.h"
#include "product_trees.h"
#include "registry/registry.h"

#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace hostile;
using namespace std::string_literals;
using Names = std::vector<std::string>;
using Bytes = std::vector<BYTE>;

constexpr char kPdfClass[] = "Software\\Classes\\.pdf";
constexpr char kPdfMime[] = "SOFTWARE\\Classes\\MIME\\Database\\Content Type\\application/pdf";
constexpr char kUserPdf[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.pdf";
const Names kSavedNames = {"strdocument", "strCLSID", "strProgid"};

Bytes BytesOf(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// UTF-16LE, as a REG_LINK target is stored.
Bytes Utf16Of(const std::string& text) {
  Bytes bytes;
  for (char c : text) {
    bytes.push_back(static_cast<BYTE>(c));
    bytes.push_back(0);
  }
  return bytes;
}

// ---------------------------------------------------------------------------------------------
// Saved association values of every registry type and shape.

struct SavedValueRow {
  const char* what;
  DWORD type;
  Bytes data;
  std::optional<std::string> restored;  // nullopt: nothing usable was saved; "": an empty text
};

const std::string k258(258, 's');
const std::string k259(259, 's');
const std::string k260(260, 's');

const std::vector<SavedValueRow>& SavedValues() {
  static const std::vector<SavedValueRow> rows = {
      {"REG_NONE holding text", REG_NONE, BytesOf("Viewer.Doc\0"s), std::nullopt},
      {"REG_SZ", REG_SZ, BytesOf("Viewer.Doc\0"s), "Viewer.Doc"},
      {"REG_EXPAND_SZ, restored unexpanded", REG_EXPAND_SZ, BytesOf("%SystemRoot%\\Viewer\0"s),
       "%SystemRoot%\\Viewer"},
      {"REG_BINARY holding text", REG_BINARY, BytesOf("Viewer.Doc\0"s), std::nullopt},
      {"REG_DWORD", REG_DWORD, Bytes{0x41, 0x42, 0x43, 0x00}, std::nullopt},
      {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN, Bytes{0x00, 0x43, 0x42, 0x41}, std::nullopt},
      {"REG_LINK", REG_LINK, Utf16Of("\\Registry\\Machine\\Software\\Classes\\Viewer"),
       std::nullopt},
      {"REG_MULTI_SZ", REG_MULTI_SZ, BytesOf("Viewer.Doc\0Other\0\0"s), std::nullopt},
      {"REG_QWORD", REG_QWORD, BytesOf("Viewer.Doc"), std::nullopt},
      {"REG_SZ without its terminator", REG_SZ, BytesOf("Viewer.Doc"), "Viewer.Doc"},
      {"REG_EXPAND_SZ without its terminator", REG_EXPAND_SZ, BytesOf("%TEMP%"), "%TEMP%"},
      {"REG_SZ with an embedded NUL: the text ends there", REG_SZ, BytesOf("Viewer\0Doc\0"s),
       "Viewer"},
      {"REG_SZ starting with a NUL: empty", REG_SZ, BytesOf("\0Viewer.Doc\0"s), ""},
      {"REG_SZ of no bytes at all: empty", REG_SZ, Bytes{}, ""},
      {"REG_SZ of one NUL: empty", REG_SZ, Bytes{0}, ""},
      {"REG_SZ of ANSI bytes above 127", REG_SZ, BytesOf("\xC4\xD6\xDC.Doc\0"s),
       "\xC4\xD6\xDC.Doc"},
      {"REG_SZ of 259 bytes with its terminator", REG_SZ, BytesOf(k258 + '\0'), k258},
      {"REG_SZ of 259 bytes without a terminator: room for one", REG_SZ, BytesOf(k259), k259},
      {"REG_SZ of 260 bytes with its terminator: the longest text", REG_SZ, BytesOf(k259 + '\0'),
       k259},
      {"REG_SZ of 260 bytes without a terminator: no room for one", REG_SZ, BytesOf(k260),
       std::nullopt},
      {"REG_SZ of 260 bytes with an early NUL", REG_SZ,
       BytesOf("Viewer\0"s + std::string(253, 'x')), "Viewer"},
      {"REG_SZ of 261 bytes: does not fit", REG_SZ, BytesOf(k260 + '\0'), std::nullopt},
      {"REG_SZ of 70000 bytes", REG_SZ, BytesOf(std::string(69999, 's') + '\0'), std::nullopt},
      {"REG_SZ of 70000 bytes whose text ends early", REG_SZ,
       BytesOf("Viewer\0"s + std::string(69993, 'x')), std::nullopt},
      {"REG_EXPAND_SZ of 70000 bytes", REG_EXPAND_SZ, BytesOf(std::string(70000, '%')),
       std::nullopt},
      {"REG_BINARY of 70000 bytes", REG_BINARY, Bytes(70000, 0xFF), std::nullopt},
  };
  return rows;
}

// Where the hostile value lies.
enum class Placement { Machine, User, MachineOverUserCopy };

const char* Describe(Placement placement) {
  switch (placement) {
    case Placement::Machine:
      return "saved for the machine";
    case Placement::User:
      return "saved for the user only";
    case Placement::MachineOverUserCopy:
      return "saved for the machine, a usable copy for the user";
  }
  return "";
}

constexpr char kUserCopy[] = "User.Copy";

class HostileSavedValues : public SimTest {
 protected:
  // The association as the application left it when it took ".pdf" over.
  static void SeedAssociation() {
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfClass, "", "TessixTembrin.Document");
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfClass, "Content Type", "application/pdf");
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfMime, "CLSID", "{TEMBRIN}");
    sim::reg::SetString(HKEY_CURRENT_USER, kUserPdf, "Progid", "TessixTembrin.Document");
  }
  static void Save(const SavedValueRow& row, Placement placement) {
    const HKEY root = placement == Placement::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    for (const std::string& name : kSavedNames) {
      sim::reg::SetValue(root, kProductKey, name, row.type, row.data);
      if (placement == Placement::MachineOverUserCopy)
        sim::reg::SetString(HKEY_CURRENT_USER, kProductKey, name, kUserCopy);
    }
  }
  // A restored value is a REG_SZ of exactly the text and its terminator, nothing after it.
  static void ExpectText(HKEY root, const char* key, const char* name,
                         const std::optional<std::string>& text, const std::string& context) {
    const std::optional<sim::reg::Value> value = sim::reg::GetValue(root, key, name);
    if (!text) {
      EXPECT_FALSE(value) << context << ": " << key << " \"" << name << "\" is deleted";
      return;
    }
    ASSERT_TRUE(value) << context << ": " << key << " \"" << name << "\"";
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ)) << context << ": " << name;
    EXPECT_EQ(value->data, BytesOf(*text + '\0')) << context << ": " << name;
  }
};

TEST_F(HostileSavedValues, EveryTypeAndShapeRestoresTheTextOrCountsAsNothingSaved) {
  for (const SavedValueRow& row : SavedValues())
    for (Placement placement :
         {Placement::Machine, Placement::User, Placement::MachineOverUserCopy}) {
      SetUp();
      const std::string context = std::string(row.what) + ", " + Describe(placement);
      SeedAssociation();
      Save(row, placement);

      RestorePdfAssociation();

      std::optional<std::string> text = row.restored;
      if ((!text || text->empty()) && placement == Placement::MachineOverUserCopy)
        text = kUserCopy;
      // The class and the ProgID go when an empty text was saved, and when nothing was saved,
      // for they name our own class. The CLSID is written empty when an empty text was saved,
      // and stays when nothing was.
      const std::optional<std::string> textOrGone =
          text && !text->empty() ? text : std::optional<std::string>();
      ExpectText(HKEY_LOCAL_MACHINE, kPdfClass, "", textOrGone, context);
      ExpectText(HKEY_LOCAL_MACHINE, kPdfMime, "CLSID", text.value_or("{TEMBRIN}"), context);
      ExpectText(HKEY_CURRENT_USER, kUserPdf, "Progid", textOrGone, context);
      EXPECT_EQ(sim::reg::GetString(HKEY_LOCAL_MACHINE, kPdfClass, "Content Type"),
                "application/pdf")
          << context << ": the rest of the key stays";
      for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        EXPECT_EQ(sim::reg::ValueNames(root, kProductKey), std::vector<std::string>{})
            << context << ": given back once, the saved values go under both roots";
      EXPECT_EQ(sim::Leaks(), "") << context;
    }
}

// ---------------------------------------------------------------------------------------------
// A product key that may be read but not deleted.

std::string Lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

bool AtOrBelow(const std::string& path, const std::string& tree) {
  const std::string p = Lower(path);
  const std::string t = Lower(tree);
  return p == t || p.compare(0, t.size() + 1, t + "\\") == 0;
}

// The hive's dump, keeping only the keys for which `keep` holds.
template <typename Keep>
std::string DumpWhere(HKEY root, Keep keep) {
  std::istringstream lines(sim::reg::Dump(root));
  std::string line;
  std::string kept;
  bool keeping = true;
  while (std::getline(lines, line)) {
    if (!line.empty() && line[0] == '[')
      keeping = keep(line.substr(1, line.size() - 2));
    if (keeping)
      kept += line + "\n";
  }
  return kept;
}

// Everything but the product's trees and the association keys the uninstall restores: what the
// uninstall must leave exactly as it was.
std::string DumpOutsideTheProduct(HKEY root) {
  const bool machine = root == HKEY_LOCAL_MACHINE;
  const Names& trees = machine ? kMachineTrees : kUserTrees;
  // The RunOnce entry the install wrote goes with the product.
  const Names restored =
      machine ? Names{kPdfClass, kPdfMime, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"}
              : Names{kUserPdf};
  return DumpWhere(root, [&](const std::string& path) {
    for (const std::string& tree : trees)
      if (AtOrBelow(path, tree))
        return false;
    for (const std::string& key : restored)
      if (Lower(path) == Lower(key))
        return false;
    return true;
  });
}

struct LockRow {
  bool productKey;
  bool subkey;
  const char* why;
};

class HostileProductKey : public SimTest {
 protected:
  // A finished install, the saved association, every product tree with contents, and other
  // programs' keys and printer next to them.
  void PrepareInstalledMachine() {
    const std::string installDir = "C:\\Program Files\\Tembrin\\";
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath", installDir);
    SeedProductFiles(installDir);
    SeedSystemLibraries();
    AddAddin(installDir + kAddinName);
    sim::spooler::AddDriver("Office Driver");
    sim::spooler::AddPrinter("Office Printer", "LPT1:", "Office Driver");
    RunAgent("/Install");
    ASSERT_TRUE(sim::spooler::HasPrinter(kPrinter)) << "the install went through";

    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "strdocument", "PdfViewer.Document");
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "strCLSID", "{SAVED-CLSID}");
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "strProgid", "PdfViewer.Document.DC");
    for (const char* subkey : {"Alpha", "Settings", "Zulu"})
      sim::reg::SetString(HKEY_LOCAL_MACHINE, std::string(kProductKey) + "\\" + subkey, "v",
                          subkey);
    for (const std::string& tree : kMachineTrees)
      if (!AtOrBelow(tree, kProductKey))
        SeedTree(HKEY_LOCAL_MACHINE, tree);
    for (const std::string& tree : kUserTrees)
      SeedTree(HKEY_CURRENT_USER, tree);
    SeedNeighbours(HKEY_LOCAL_MACHINE);
    SeedNeighbours(HKEY_CURRENT_USER);
    // What each list leaves out stays in that hive.
    SeedTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tessix Software\\Tessix Tembrin Beta");
    SeedTree(HKEY_CURRENT_USER, kMachineTrees[1]);
    SeedTree(HKEY_CURRENT_USER, kMachineTrees[8]);
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfClass, "", "Tembrin.Document");
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfClass, "Content Type", "application/pdf");
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfMime, "CLSID", "{TEMBRIN}");
    sim::reg::SetString(HKEY_CURRENT_USER, kUserPdf, "Progid", "Tembrin.Document");
    sim::reg::SetString(HKEY_CURRENT_USER, std::string(kUserPdf) + "\\OpenWithList", "a",
                        "viewer.exe");
  }
  static void SeedTree(HKEY root, const std::string& path) {
    sim::reg::SetString(root, path, "", "product");
    sim::reg::SetString(root, path + "\\Sub\\Deeper", "v", "product");
  }
  // Keys of other programs beside and between the product's.
  static void SeedNeighbours(HKEY root) {
    sim::reg::SetString(root, "SOFTWARE\\Tessix Software\\Tessix Viewer", "InstallPath",
                        "C:\\Viewer\\");
    sim::reg::SetString(root, "SOFTWARE\\Tessix Software\\Tessix Tembrin Pro\\Sub", "v", "pro");
    sim::reg::SetString(root, "SOFTWARE\\Classes\\CLSID\\{00000000-0000-0000-0000-000000000001}",
                        "", "other");
    sim::reg::SetString(root, "SOFTWARE\\Classes\\TessixTembrin.Document.2", "", "other");
    sim::reg::SetString(root, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other",
                        "DisplayName", "Other");
  }
  static std::string ProductKeyDump() {
    return DumpWhere(HKEY_LOCAL_MACHINE,
                     [](const std::string& path) { return AtOrBelow(path, kProductKey); });
  }
};

TEST_F(HostileProductKey, UninstallRestoresRemovesTheRestAndStillRemovesThePrinter) {
  const LockRow rows[] = {
      {true, false, "the key itself: it cannot be opened for removal and stays whole"},
      {false, true,
       "its subkey \"Settings\": the key loses its values and \"Alpha\", enumerated before it"},
      {true, true, "both: the key stays whole"},
  };
  for (const LockRow& row : rows) {
    SetUp();
    const std::string context = std::string("read-only ") + row.why;
    PrepareInstalledMachine();
    if (row.productKey)
      sim::reg::SetReadOnly(HKEY_LOCAL_MACHINE, kProductKey);
    if (row.subkey)
      sim::reg::SetReadOnly(HKEY_LOCAL_MACHINE, std::string(kProductKey) + "\\Settings");
    const std::string machineOutside = DumpOutsideTheProduct(HKEY_LOCAL_MACHINE);
    const std::string userOutside = DumpOutsideTheProduct(HKEY_CURRENT_USER);
    const std::string productKey = ProductKeyDump();
    const std::string directory = kDriverDir32;
    sim::ClearCalls();

    RunAgent("/Uninstall");

    // The saved values could be read, so the association is restored.
    EXPECT_EQ(sim::reg::GetString(HKEY_LOCAL_MACHINE, kPdfClass, ""), "PdfViewer.Document")
        << context;
    EXPECT_EQ(sim::reg::GetString(HKEY_LOCAL_MACHINE, kPdfMime, "CLSID"), "{SAVED-CLSID}")
        << context;
    EXPECT_EQ(sim::reg::GetString(HKEY_CURRENT_USER, kUserPdf, "Progid"), "PdfViewer.Document.DC")
        << context;

    if (row.productKey) {
      EXPECT_EQ(ProductKeyDump(), productKey) << context;
    } else {
      EXPECT_EQ(sim::reg::ValueNames(HKEY_LOCAL_MACHINE, kProductKey), Names{}) << context;
      EXPECT_EQ(sim::reg::Subkeys(HKEY_LOCAL_MACHINE, kProductKey), (Names{"Settings", "Zulu"}))
          << context;
      EXPECT_EQ(
          sim::reg::GetString(HKEY_LOCAL_MACHINE, std::string(kProductKey) + "\\Settings", "v"),
          "Settings")
          << context;
    }
    for (const std::string& tree : kMachineTrees) {
      if (!AtOrBelow(tree, kProductKey)) {
        EXPECT_FALSE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, tree)) << context << ": " << tree;
      }
    }
    for (const std::string& tree : kUserTrees)
      EXPECT_FALSE(sim::reg::KeyExists(HKEY_CURRENT_USER, tree)) << context << ": " << tree;
    EXPECT_EQ(DumpOutsideTheProduct(HKEY_LOCAL_MACHINE), machineOutside) << context;
    EXPECT_EQ(DumpOutsideTheProduct(HKEY_CURRENT_USER), userOutside) << context;
    EXPECT_EQ(sim::CountCalls("SHChangeNotify"), 1) << context;

    // The chained removal does not depend on the registry clean-up.
    EXPECT_FALSE(sim::spooler::HasPrinter(kPrinter)) << context;
    EXPECT_FALSE(sim::spooler::HasDriver(kDriver)) << context;
    EXPECT_FALSE(sim::spooler::HasPort(kPort)) << context;
    int proxyRetirements = 0;
    for (const sim::Call& call : sim::CallsTo("MoveFileA"))
      proxyRetirements += call.args[0] == directory + "\\3\\QXN_ProxyProcess.exe";
    EXPECT_EQ(proxyRetirements, 2) << context << ": first with the driver files, last on its own";
    EXPECT_TRUE(sim::spooler::HasPrinter("Office Printer")) << context;
    EXPECT_TRUE(sim::spooler::HasDriver("Office Driver")) << context;
    EXPECT_EQ(sim::Leaks(), "") << context;
  }
}

}  // namespace
