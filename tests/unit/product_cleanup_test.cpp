#include "common/names.h"
#include "fixture.h"
#include "product_trees.h"
#include "registry.h"
#include "registry/registry.h"

#include <vector>

namespace {

using Names = std::vector<std::string>;
using sim::reg::View;

constexpr char kPdfClass[] = "Software\\Classes\\.pdf";
constexpr char kPdfMime[] = "SOFTWARE\\Classes\\MIME\\Database\\Content Type\\application/pdf";
constexpr char kUserPdf[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.pdf";

class PdfAssociation : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfClass, "", "Tembrin.Document");
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfClass, "Content Type", "application/pdf");
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfMime, "CLSID", "{TEMBRIN}");
    sim::reg::SetString(HKEY_CURRENT_USER, kUserPdf, "Progid", "Tembrin.Document");
    sim::reg::CreateKey(HKEY_CURRENT_USER, std::string(kUserPdf) + "\\OpenWithList");
  }
  static void Save(HKEY root, const char* name, const std::string& text) {
    sim::reg::SetString(root, kProductKey, name, text);
  }
  // Empty texts saved for all three.
  static void SaveEmptyTexts() {
    for (const char* name : {"strdocument", "strCLSID", "strProgid"})
      Save(HKEY_LOCAL_MACHINE, name, "");
  }
  static std::optional<std::string> DocumentClass() {
    return sim::reg::GetString(HKEY_LOCAL_MACHINE, kPdfClass, "");
  }
  static std::optional<std::string> MimeClsid() {
    return sim::reg::GetString(HKEY_LOCAL_MACHINE, kPdfMime, "CLSID");
  }
  static std::optional<std::string> ProgId() {
    return sim::reg::GetString(HKEY_CURRENT_USER, kUserPdf, "Progid");
  }
};

// An empty saved text is a saved one, whatever the value holds now: the class and the ProgID go,
// the CLSID is written empty.
TEST_F(PdfAssociation, EmptySavedTextsRemoveClassAndProgIdButWriteAnEmptyClsid) {
  SaveEmptyTexts();
  RestorePdfAssociation();
  EXPECT_EQ(DocumentClass(), std::nullopt);
  EXPECT_EQ(sim::reg::ValueNames(HKEY_LOCAL_MACHINE, kPdfClass), Names{"Content Type"});
  EXPECT_EQ(MimeClsid(), "");
  EXPECT_EQ(ProgId(), std::nullopt);
  EXPECT_EQ(sim::reg::Subkeys(HKEY_CURRENT_USER, kUserPdf), Names{"OpenWithList"});
}

// Nothing saved (a second uninstall, or one whose first run got past the clean-up): the
// association stays as the user or another program set it, but for values that still name our
// own document class, which the clean-up removes. Looking for the saved values creates nothing.
TEST_F(PdfAssociation, NothingSavedLeavesTheAssociationButForOurOwnClass) {
  const std::string user = sim::reg::Dump(HKEY_CURRENT_USER);
  const std::string machine = sim::reg::Dump(HKEY_LOCAL_MACHINE);
  RestorePdfAssociation();
  EXPECT_EQ(sim::reg::Dump(HKEY_CURRENT_USER), user);
  EXPECT_EQ(sim::reg::Dump(HKEY_LOCAL_MACHINE), machine);

  SetUp();
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kPdfClass, "", "TessixTembrin.Document");
  sim::reg::SetString(HKEY_CURRENT_USER, kUserPdf, "Progid", "tessixtembrin.DOCUMENT");
  RestorePdfAssociation();
  EXPECT_EQ(DocumentClass(), std::nullopt);
  EXPECT_EQ(ProgId(), std::nullopt);
  EXPECT_EQ(MimeClsid(), "{TEMBRIN}");
  EXPECT_EQ(sim::reg::ValueNames(HKEY_LOCAL_MACHINE, kPdfClass), Names{"Content Type"});
}

TEST_F(PdfAssociation, MachineValuesWinAndTheUserKeyIsNotEvenRead) {
  Save(HKEY_LOCAL_MACHINE, "strdocument", "PdfViewer.Document");
  Save(HKEY_LOCAL_MACHINE, "strCLSID", "{MACHINE-CLSID}");
  Save(HKEY_LOCAL_MACHINE, "strProgid", "PdfViewer.Document.7");
  Save(HKEY_CURRENT_USER, "strdocument", "user");
  Save(HKEY_CURRENT_USER, "strCLSID", "user");
  Save(HKEY_CURRENT_USER, "strProgid", "user");
  RestorePdfAssociation();
  EXPECT_EQ(DocumentClass(), "PdfViewer.Document");
  EXPECT_EQ(MimeClsid(), "{MACHINE-CLSID}");
  EXPECT_EQ(ProgId(), "PdfViewer.Document.7");
  EXPECT_EQ(CallSequence({"RegOpenKeyExA"}).find(std::string("HKCU, ") + kProductKey + ", 0, 0x1)"),
            std::string::npos);
}

TEST_F(PdfAssociation, UserValuesFillInWhereTheMachineHasNoneOrAnEmptyOne) {
  Save(HKEY_LOCAL_MACHINE, "strdocument", "MachineDoc");
  Save(HKEY_LOCAL_MACHINE, "strCLSID", "");
  Save(HKEY_CURRENT_USER, "strdocument", "UserDoc");
  Save(HKEY_CURRENT_USER, "strCLSID", "{USER-CLSID}");
  Save(HKEY_CURRENT_USER, "strProgid", "User.ProgId");
  RestorePdfAssociation();
  EXPECT_EQ(DocumentClass(), "MachineDoc");
  EXPECT_EQ(MimeClsid(), "{USER-CLSID}");
  EXPECT_EQ(ProgId(), "User.ProgId");
  // Two fallbacks to the user's key, for the CLSID and the ProgID.
  int userReads = 0;
  for (const sim::Call& call : sim::CallsTo("RegOpenKeyExA"))
    userReads += call.args[0] == "HKCU" && call.args[1] == kProductKey && call.args[3] == "0x1";
  EXPECT_EQ(userReads, 2);
}

TEST_F(PdfAssociation, AllThreeAreReadBeforeAnythingIsRestored) {
  Save(HKEY_LOCAL_MACHINE, "strdocument", "Doc");
  Save(HKEY_LOCAL_MACHINE, "strCLSID", "{C}");
  Save(HKEY_CURRENT_USER, "strProgid", "");
  RestorePdfAssociation();
  std::vector<std::string> order;
  for (const sim::Call& call : sim::Calls())
    if (call.function == "RegQueryValueExA" && call.args[2] == "NULL")
      order.push_back("read " + call.args[1]);
    else if (call.function == "RegSetValueExA" || call.function == "RegDeleteValueA")
      order.push_back(call.function + " " + call.args[1]);
  // Then each is forgotten, the copy that was not restored first.
  EXPECT_EQ(order, (Names{"read strdocument", "read strCLSID", "read strProgid", "read strProgid",
                          "RegSetValueExA ", "RegSetValueExA CLSID", "RegDeleteValueA Progid",
                          "RegDeleteValueA strdocument", "RegDeleteValueA strdocument",
                          "RegDeleteValueA strCLSID", "RegDeleteValueA strCLSID",
                          "RegDeleteValueA strProgid", "RegDeleteValueA strProgid"}));
}

TEST_F(PdfAssociation, MissingKeysAreCreatedOnlyToWriteAText) {
  SimTest::SetUp();  // an empty machine
  SaveEmptyTexts();
  RestorePdfAssociation();
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kPdfClass)) << "nothing to delete there";
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_CURRENT_USER, kUserPdf));
  EXPECT_EQ(MimeClsid(), "") << "the CLSID key is created for the empty text";

  SimTest::SetUp();
  Save(HKEY_LOCAL_MACHINE, "strdocument", "Doc");
  Save(HKEY_CURRENT_USER, "strProgid", "Prog");
  RestorePdfAssociation();
  EXPECT_EQ(DocumentClass(), "Doc");
  EXPECT_EQ(ProgId(), "Prog");
}

// On 64-bit Windows the saved values are read from the product key's 32-bit view, and the
// association goes back to the keys that 64-bit programs see too: .pdf and the MIME database
// are shared parts of Classes, the user's FileExts is never redirected.
TEST_F(PdfAssociation, On64BitWindowsTheRestoredAssociationIsTheSharedOne) {
  sim::settings().wow64 = true;
  Save(HKEY_LOCAL_MACHINE, "strdocument", "Doc");
  Save(HKEY_LOCAL_MACHINE, "strCLSID", "{C}");
  Save(HKEY_LOCAL_MACHINE, "strProgid", "Prog");
  sim::reg::SetString(HKEY_LOCAL_MACHINE, kProductKey, "strdocument", "64-bit", View::Native);
  RestorePdfAssociation();
  EXPECT_EQ(sim::reg::GetString(HKEY_LOCAL_MACHINE, kPdfClass, "", View::Native), "Doc");
  EXPECT_EQ(sim::reg::GetString(HKEY_LOCAL_MACHINE, kPdfMime, "CLSID", View::Native), "{C}");
  EXPECT_EQ(sim::reg::GetString(HKEY_CURRENT_USER, kUserPdf, "Progid", View::Native), "Prog");
}

TEST_F(PdfAssociation, KeysThatCannotBeOpenedForDeletingAreLeftAlone) {
  SaveEmptyTexts();
  sim::reg::SetReadOnly(HKEY_LOCAL_MACHINE, kPdfClass);
  sim::reg::SetNotOpenable(HKEY_CURRENT_USER, kUserPdf);
  RestorePdfAssociation();
  EXPECT_EQ(DocumentClass(), "Tembrin.Document");
  EXPECT_EQ(MimeClsid(), "") << "the other rows go on";
  EXPECT_EQ(ProgId(), "Tembrin.Document");
  EXPECT_EQ(sim::CountCalls("RegDeleteValueA"), 3) << "the three saved values only";
}

class ProductRegistration : public SimTest {
 protected:
  // Neighbours of the product's trees, which must survive.
  static void SeedNeighbours(HKEY root) {
    sim::reg::SetString(root, "SOFTWARE\\Classes\\CLSID\\{00000000-OTHER}", "", "other");
    sim::reg::SetString(root, "SOFTWARE\\Classes\\Other.Document", "", "other");
    sim::reg::CreateKey(root, "SOFTWARE\\Classes\\Applications\\OTHER.EXE");
    sim::reg::SetString(root, "SOFTWARE\\Tessix Software\\Tessix Tembrin Viewer", "v", "keep");
    sim::reg::SetString(root, "SOFTWARE\\Tessix Software", "shared", "keep");
    sim::reg::CreateKey(root,
                        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\"
                        "Start Menu\\Programs\\Accessories");
    sim::reg::CreateKey(root,
                        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache\\"
                        "Other");
    sim::reg::SetString(root, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other",
                        "DisplayName", "Other");
  }
  static void SeedTree(HKEY root, const std::string& path, View view = View::Process) {
    sim::reg::SetString(root, path, "", "product", view);
    sim::reg::SetString(root, path + "\\Sub\\Deeper", "v", "product", view);
    sim::reg::CreateKey(root, path + "\\Other", view);
  }
  // The keys opened from a root: one per DeleteKeyTree when the key is missing.
  static Names TreesVisited() {
    Names visited;
    for (const sim::Call& call : sim::CallsTo("RegOpenKeyExA"))
      visited.push_back(call.args[0] + " " + call.args[1]);
    return visited;
  }
};

// On 64-bit Windows the removals land in the 32-bit view: HKLM's product key and the CLSIDs
// of both hives in their Wow6432Node, the shared ProgID and application keys in their one copy.
// The 64-bit registrations of the same CLSIDs and of HKLM's product key stay.
TEST_F(ProductRegistration, RemovesEveryTreeOfBothListsAndNothingElse) {
  for (const bool wow64 : {false, true}) {
    SetUp();
    sim::settings().wow64 = wow64;
    SeedNeighbours(HKEY_LOCAL_MACHINE);
    SeedNeighbours(HKEY_CURRENT_USER);
    // What each list leaves out must stay in that hive.
    SeedTree(HKEY_CURRENT_USER, kMachineTrees[1]);
    SeedTree(HKEY_CURRENT_USER, kMachineTrees[8]);
    SeedTree(HKEY_LOCAL_MACHINE, kUserTrees[8]);
    if (wow64) {
      SeedTree(HKEY_LOCAL_MACHINE, kMachineTrees[0], View::Native);
      SeedTree(HKEY_CURRENT_USER, kUserTrees[0], View::Native);
      SeedTree(HKEY_LOCAL_MACHINE, kProductKey, View::Native);
    }
    const std::string machine = sim::reg::Dump(HKEY_LOCAL_MACHINE);
    const std::string user = sim::reg::Dump(HKEY_CURRENT_USER);
    for (const std::string& path : kMachineTrees)
      SeedTree(HKEY_LOCAL_MACHINE, path);
    for (const std::string& path : kUserTrees)
      SeedTree(HKEY_CURRENT_USER, path);

    RemoveProductRegistration();

    EXPECT_EQ(sim::reg::Dump(HKEY_LOCAL_MACHINE), machine) << "64-bit Windows: " << wow64;
    EXPECT_EQ(sim::reg::Dump(HKEY_CURRENT_USER), user) << "64-bit Windows: " << wow64;
  }
}

TEST_F(ProductRegistration, MachineListFirstThenUserListThenOneNotice) {
  RemoveProductRegistration();
  Names expected;
  for (const std::string& path : kMachineTrees)
    expected.push_back("HKLM " + path);
  for (const std::string& path : kUserTrees)
    expected.push_back("HKCU " + path);
  expected.push_back("HKLM SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce");
  EXPECT_EQ(TreesVisited(), expected);
  ASSERT_EQ(sim::CountCalls("SHChangeNotify"), 1) << "even though nothing was removed";
  EXPECT_EQ(sim::Calls().back().Text(), "SHChangeNotify(0x8000000, 0x0, NULL, NULL)");
}

// The install's RunOnce entry would start the completion program of a product that is gone at the
// next administrator's logon. Only a command that starts that program goes, whoever's folder it
// is in; another program's entry, under our name or its own, stays.
TEST_F(ProductRegistration, TheRunOnceEntryGoesOnlyWhenItStartsTheCompletionProgram) {
  constexpr char kRunOnce[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
  const std::string ours = "\\Tessix Software\\Tessix Tembrin\\TembrinInstallComplete.exe";
  const std::pair<std::string, bool> rows[] = {
      {"\"C:\\Users\\a" + ours + "\"", true},
      {"C:\\SYSTEM\\TESSIX SOFTWARE" + ours.substr(16), true},
      {"\"C:\\Tools" + ours + "\" /x", false},
      {"C:\\Tools\\cleanup.exe", false}};
  for (const auto& [command, goes] : rows) {
    SetUp();
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kRunOnce, "TembrinInstallComplete", command);
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kRunOnce, "Other", command);
    RemoveProductRegistration();
    EXPECT_EQ(sim::reg::ValueNames(HKEY_LOCAL_MACHINE, kRunOnce),
              goes ? Names{"Other"} : (Names{"TembrinInstallComplete", "Other"}))
        << command;
  }
}

TEST_F(ProductRegistration, TreeThatCannotBeRemovedDoesNotStopTheOthers) {
  SeedTree(HKEY_LOCAL_MACHINE, kMachineTrees[0]);
  SeedTree(HKEY_LOCAL_MACHINE, kMachineTrees[1]);
  SeedTree(HKEY_CURRENT_USER, kUserTrees[0]);
  sim::reg::SetNotOpenable(HKEY_LOCAL_MACHINE, kMachineTrees[0] + "\\Other");
  RemoveProductRegistration();
  EXPECT_EQ(sim::reg::Subkeys(HKEY_LOCAL_MACHINE, kMachineTrees[0]), (Names{"Other", "Sub"}))
      << "Sub comes after the key that cannot be opened";
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kMachineTrees[1]));
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_CURRENT_USER, kUserTrees[0]));
  EXPECT_EQ(sim::CountCalls("SHChangeNotify"), 1);
}

TEST_F(ProductRegistration, RestoreThenRemoveLeavesNoProductKeyBehind) {
  sim::reg::SetString(HKEY_CURRENT_USER, kProductKey, "strProgid", "Saved.ProgId");
  RestorePdfAssociation();
  RemoveProductRegistration();
  EXPECT_EQ(sim::reg::GetString(HKEY_CURRENT_USER, kUserPdf, "Progid"), "Saved.ProgId");
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_CURRENT_USER, kProductKey));
}

}  // namespace
