#include "fixture.h"
#include "registry.h"
#include "registry/registry.h"

#include <climits>
#include <vector>

namespace {

using Names = std::vector<std::string>;

constexpr char kTop[] = "Software\\Top";

class TreeRemoval : public SimTest {
 protected:
  // Keys beside the tree and above it, which no removal may touch.
  void SeedSurroundings() {
    sim::reg::SetString(HKEY_CURRENT_USER, "Software", "beside", "x");
    sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Other\\Deep", "v", "keep");
    sim::reg::SetString(HKEY_CURRENT_USER, "Software\\TopSibling", "v", "keep");
    sim::reg::SetString(HKEY_LOCAL_MACHINE, kTop, "machine", "keep");
    sim::reg::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Top\\A\\B");
  }

  static std::string User() { return sim::reg::Dump(HKEY_CURRENT_USER); }
  static std::string Machine() { return sim::reg::Dump(HKEY_LOCAL_MACHINE); }
  static std::string Deletions() { return CallSequence({"RegDeleteKeyA"}); }
  static Names Subkeys(const std::string& path) {
    return sim::reg::Subkeys(HKEY_CURRENT_USER, path);
  }
  static Names Values(const std::string& path) {
    return sim::reg::ValueNames(HKEY_CURRENT_USER, path);
  }

  // Opens relative to a parent handle under this name.
  static int OpensOf(const std::string& name) {
    int count = 0;
    for (const sim::Call& call : sim::CallsTo("RegOpenKeyExA"))
      count += call.args[1] == name;
    return count;
  }

  // DeleteSubkeys on the open top key, as DeleteKeyTree calls it.
  static int DeleteSubkeysOfTop() {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kTop, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    const int result = DeleteSubkeys(HKEY_CURRENT_USER, key, kTop);
    RegCloseKey(key);
    return result;
  }
};

TEST_F(TreeRemoval, DeepTreeGoesDeepestFirstAndNothingElseChanges) {
  SeedSurroundings();
  const std::string user = User();
  const std::string machine = Machine();
  sim::reg::SetString(HKEY_CURRENT_USER, kTop, "t", "1");
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Top\\b", "b1", "1");
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Top\\A\\X\\Deepest", "d", "1");
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Top\\A", "a2", "1");
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Top\\A", "a1", "1");
  sim::reg::CreateKey(HKEY_CURRENT_USER, "Software\\Top\\A\\W");

  DeleteKeyTree(HKEY_CURRENT_USER, kTop);

  EXPECT_EQ(User(), user);
  EXPECT_EQ(Machine(), machine) << "the same path under HKLM stays";
  // Subkeys go in Windows' case-insensitive order, each subtree before its key, each by its
  // full path from the root.
  EXPECT_EQ(Deletions(),
            "RegDeleteKeyA(HKCU, Software\\Top\\A\\W), "
            "RegDeleteKeyA(HKCU, Software\\Top\\A\\X\\Deepest), "
            "RegDeleteKeyA(HKCU, Software\\Top\\A\\X), RegDeleteKeyA(HKCU, Software\\Top\\A), "
            "RegDeleteKeyA(HKCU, Software\\Top\\b), RegDeleteKeyA(HKCU, Software\\Top)");
  // Values in creation order, each key's own before the key goes.
  std::vector<std::string> names;
  for (const sim::Call& call : sim::CallsTo("RegDeleteValueA"))
    names.push_back(call.args[1]);
  EXPECT_EQ(names, (Names{"d", "a2", "a1", "b1", "t"}));
}

TEST_F(TreeRemoval, EveryEnumerationIsAtIndexZeroWithFullBuffers) {
  sim::reg::CreateKey(HKEY_CURRENT_USER, "Software\\Top\\A\\X");
  sim::reg::CreateKey(HKEY_CURRENT_USER, "Software\\Top\\B");
  sim::reg::SetString(HKEY_CURRENT_USER, kTop, "v1", "1");
  sim::reg::SetString(HKEY_CURRENT_USER, kTop, "v2", "1");
  DeleteKeyTree(HKEY_CURRENT_USER, kTop);
  for (const sim::Call& call : sim::CallsTo("RegEnumKeyExA"))
    EXPECT_EQ(call.args[1] + "/" + call.args[2], "0/1000") << call.Text();
  EXPECT_EQ(sim::CountCalls("RegEnumKeyExA"), 3) << "two passes at the top, one below A";
  // The name length is set again before every call, not left at the last name's length.
  const std::vector<sim::Call> reads = sim::CallsTo("RegEnumValueA");
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0].args[1] + "/" + reads[0].args[2], "0/500");
  EXPECT_EQ(reads[1].args[1] + "/" + reads[1].args[2], "1/500");
}

TEST_F(TreeRemoval, EmptyKeyIsOneDeletion) {
  sim::reg::CreateKey(HKEY_CURRENT_USER, kTop);
  DeleteKeyTree(HKEY_CURRENT_USER, kTop);
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_CURRENT_USER, kTop));
  EXPECT_EQ(Deletions(), "RegDeleteKeyA(HKCU, Software\\Top)");
  EXPECT_EQ(sim::CountCalls("RegEnumKeyExA") + sim::CountCalls("RegDeleteValueA"), 0);
}

TEST_F(TreeRemoval, MissingKeyChangesNothing) {
  SeedSurroundings();
  const std::string user = User();
  const std::string machine = Machine();
  DeleteKeyTree(HKEY_CURRENT_USER, kTop);
  EXPECT_EQ(User(), user);
  EXPECT_EQ(Machine(), machine);
  EXPECT_EQ(Deletions(), "");
}

TEST_F(TreeRemoval, Win9xFamilyRemovesTheTreeWithOneCall) {
  sim::settings().win9xFamily = true;
  SeedSurroundings();
  const std::string user = User();
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Top\\A\\B", "v", "1");
  DeleteKeyTree(HKEY_CURRENT_USER, kTop);
  EXPECT_EQ(User(), user);
  EXPECT_EQ(Deletions(), "RegDeleteKeyA(HKCU, Software\\Top)");
  EXPECT_EQ(sim::CountCalls("RegOpenKeyExA") + sim::CountCalls("RegEnumKeyExA"), 0);
}

TEST_F(TreeRemoval, SubkeyThatCannotBeOpenedKeepsItselfAndTheSubkeysAfterIt) {
  SeedSurroundings();
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Top\\A\\Inner", "v", "1");
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Top\\B\\Inner", "v", "1");
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Top\\C\\Inner", "v", "1");
  sim::reg::SetString(HKEY_CURRENT_USER, kTop, "t1", "1");
  sim::reg::SetString(HKEY_CURRENT_USER, kTop, "t2", "1");
  sim::reg::SetNotOpenable(HKEY_CURRENT_USER, "Software\\Top\\B");

  EXPECT_EQ(DeleteSubkeysOfTop(), 1) << "a pass that cannot open its subkey still counts";
  EXPECT_EQ(Subkeys(kTop), (Names{"B", "C"}));
  EXPECT_EQ(Subkeys("Software\\Top\\C"), Names{"Inner"});
  EXPECT_EQ(sim::CountCalls("RegEnumKeyExA"), 1 + 3) << "one below A, then 3 passes at the top";

  DeleteKeyTree(HKEY_CURRENT_USER, kTop);
  EXPECT_EQ(Subkeys(kTop), (Names{"B", "C"}));
  EXPECT_EQ(Values("Software\\Top\\B\\Inner"), Names{"v"});
  EXPECT_EQ(Values(kTop), Names{}) << "the top key loses its values all the same";
  EXPECT_EQ(sim::reg::GetString(HKEY_CURRENT_USER, "Software\\Other\\Deep", "v"), "keep");
}

TEST_F(TreeRemoval, RefusedDeletionDeepDownStopsEveryLevel) {
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Top\\A\\B\\C", "c", "1");
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Top\\A", "a", "1");
  sim::reg::CreateKey(HKEY_CURRENT_USER, "Software\\Top\\Z");
  sim::reg::SetString(HKEY_CURRENT_USER, kTop, "t", "1");
  sim::FailWhen("RegDeleteKeyA", "Software\\Top\\A\\B", ERROR_ACCESS_DENIED);

  EXPECT_EQ(DeleteSubkeysOfTop(), 0);
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_CURRENT_USER, "Software\\Top\\A\\B\\C"))
      << "what went before the failure stays removed";
  EXPECT_EQ(Subkeys("Software\\Top\\A"), Names{"B"});
  EXPECT_EQ(Values("Software\\Top\\A"), Names{"a"}) << "A's walk stopped before its values";
  EXPECT_EQ(Subkeys(kTop), (Names{"A", "Z"})) << "Z comes after the failure";

  DeleteKeyTree(HKEY_CURRENT_USER, kTop);
  EXPECT_EQ(Subkeys(kTop), (Names{"A", "Z"}));
  EXPECT_EQ(Values(kTop), Names{});
}

TEST_F(TreeRemoval, ChildWithoutReadableCountsIsNotEmptiedAndStops) {
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Top\\A\\X", "x", "1");
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Top\\A", "a", "1");
  sim::FailNth("RegQueryInfoKeyA", 2, ERROR_ACCESS_DENIED);  // A's own query
  EXPECT_EQ(DeleteSubkeysOfTop(), 0) << "A looked empty, but its deletion was refused";
  EXPECT_EQ(Subkeys("Software\\Top\\A"), Names{"X"});
  EXPECT_EQ(Values("Software\\Top\\A"), Names{"a"});
}

TEST_F(TreeRemoval, FailedValueCountKeepsTheValuesButNotTheKey) {
  sim::reg::SetString(HKEY_CURRENT_USER, kTop, "t", "1");
  sim::FailNth("RegQueryInfoKeyA", 2, ERROR_ACCESS_DENIED);  // the top key's value count
  DeleteKeyTree(HKEY_CURRENT_USER, kTop);
  EXPECT_EQ(sim::CountCalls("RegEnumValueA") + sim::CountCalls("RegDeleteValueA"), 0);
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_CURRENT_USER, kTop)) << "values never keep a key";
}

TEST_F(TreeRemoval, FailedEnumerationNeverUsesTheNameBuffer) {
  sim::reg::CreateKey(HKEY_CURRENT_USER, "Software\\Top\\A");
  sim::reg::CreateKey(HKEY_CURRENT_USER, "Software\\Top\\B");
  sim::reg::CreateKey(HKEY_CURRENT_USER, "Software\\Top\\C");

  // The first pass would read a buffer nothing was written to.
  sim::FailNth("RegEnumKeyExA", 1, ERROR_MORE_DATA);
  EXPECT_EQ(DeleteSubkeysOfTop(), 0);
  EXPECT_EQ(Subkeys(kTop), (Names{"A", "B", "C"}));
  EXPECT_EQ(sim::CountCalls("RegOpenKeyExA"), 1) << "only the top key was opened";

  // The second pass would still hold the name of the subkey just deleted.
  SetUp();
  sim::reg::CreateKey(HKEY_CURRENT_USER, "Software\\Top\\A");
  sim::reg::CreateKey(HKEY_CURRENT_USER, "Software\\Top\\B");
  sim::FailNth("RegEnumKeyExA", 2, ERROR_ACCESS_DENIED);
  EXPECT_EQ(DeleteSubkeysOfTop(), 0);
  EXPECT_EQ(Subkeys(kTop), Names{"B"});
  EXPECT_EQ(OpensOf("A"), 1) << "the removed subkey's name is not tried again";
}

TEST_F(TreeRemoval, NothingLeftToEnumerateEndsTheWalkAsDone) {
  sim::reg::CreateKey(HKEY_CURRENT_USER, "Software\\Top\\A");
  sim::reg::CreateKey(HKEY_CURRENT_USER, "Software\\Top\\B");
  // As when another program removed B after the count was read.
  sim::FailNth("RegEnumKeyExA", 2, ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(DeleteSubkeysOfTop(), 1);
  EXPECT_EQ(Subkeys(kTop), Names{"B"});
  EXPECT_EQ(OpensOf("A"), 1) << "the removed subkey's name is not tried again";
}

TEST_F(TreeRemoval, ChildPathOfMoreThan259CharactersIsRefused) {
  // Registry names may be 255 characters long; the child paths are MAX_PATH buffers.
  const std::string top = "Software\\" + std::string(200, 't');  // 209 characters
  const std::string fits(259 - top.size() - 1, 'f');
  const std::string tooLong(fits.size() + 1, 'x');
  sim::reg::SetString(HKEY_CURRENT_USER, top + "\\" + fits, "v", "1");
  sim::reg::SetString(HKEY_CURRENT_USER, top + "\\" + tooLong, "v", "1");
  sim::reg::CreateKey(HKEY_CURRENT_USER, top + "\\z");

  DeleteKeyTree(HKEY_CURRENT_USER, top.c_str());

  EXPECT_EQ(sim::reg::Subkeys(HKEY_CURRENT_USER, top), (Names{tooLong, "z"}))
      << "the 259-character path went, the longer one stopped the walk";
  EXPECT_EQ(sim::CountCalls("RegDeleteKeyA"), 2) << "the fitting child, then the top key";
  EXPECT_EQ(Values(top + "\\" + tooLong), Names{"v"});
}

TEST_F(TreeRemoval, FailedAllocationsStopWithoutWriting) {
  sim::reg::SetString(HKEY_CURRENT_USER, "Software\\Top\\A", "a", "1");
  sim::FailNth("HeapAlloc", 1, 0, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(DeleteSubkeysOfTop(), 0);
  EXPECT_EQ(sim::CountCalls("RegEnumKeyExA"), 0);
  EXPECT_EQ(Subkeys(kTop), Names{"A"});

  SetUp();
  sim::reg::SetString(HKEY_CURRENT_USER, kTop, "a", "1");
  sim::FailNth("HeapAlloc", 1, 0, ERROR_NOT_ENOUGH_MEMORY);
  DeleteAllValues(HKEY_CURRENT_USER, kTop, 1);
  EXPECT_EQ(sim::CountCalls("RegEnumValueA"), 0);
  EXPECT_EQ(Values(kTop), Names{"a"});
}

class ValueRemoval : public TreeRemoval {
 protected:
  void SetUp() override {
    TreeRemoval::SetUp();
    for (const char* name : {"z", "a", "m"})
      sim::reg::SetString(HKEY_CURRENT_USER, kTop, name, "1");
  }
};

TEST_F(ValueRemoval, AllNamesAreReadBeforeAnyIsDeleted) {
  DeleteAllValues(HKEY_CURRENT_USER, kTop, 3);
  EXPECT_EQ(Values(kTop), Names{});
  EXPECT_EQ(CallSequence({"RegEnumValueA", "RegDeleteValueA"}),
            "RegEnumValueA(key#256, 0, 500), RegEnumValueA(key#256, 1, 500), "
            "RegEnumValueA(key#256, 2, 500), RegDeleteValueA(key#256, z), "
            "RegDeleteValueA(key#256, a), RegDeleteValueA(key#256, m)");
}

TEST_F(ValueRemoval, FirstCountValuesOnly) {
  DeleteAllValues(HKEY_CURRENT_USER, kTop, 2);
  EXPECT_EQ(Values(kTop), Names{"m"});
}

TEST_F(ValueRemoval, UnreadableNameDeletesNothing) {
  DeleteAllValues(HKEY_CURRENT_USER, kTop, 4);  // more than there are
  EXPECT_EQ(Values(kTop), (Names{"z", "a", "m"}));

  sim::reg::SetString(HKEY_CURRENT_USER, kTop, std::string(500, 'n'), "1");
  DeleteAllValues(HKEY_CURRENT_USER, kTop, 4);  // a name that does not fit 500 characters
  EXPECT_EQ(Values(kTop).size(), 4u);
  EXPECT_EQ(sim::CountCalls("RegDeleteValueA"), 0);
}

TEST_F(ValueRemoval, RefusedDeletionKeepsTheRest) {
  sim::FailWhen("RegDeleteValueA", "a", ERROR_ACCESS_DENIED);
  DeleteAllValues(HKEY_CURRENT_USER, kTop, 3);
  EXPECT_EQ(Values(kTop), (Names{"a", "m"}));
}

TEST_F(ValueRemoval, CountsThatAreNoCountsTouchNothing) {
  // A DWORD count of 2^31 or more arrives negative; a count whose slots would not fit a 32-bit
  // size must not wrap into a small block.
  for (int count : {0, -1, INT_MIN, 4294968, INT_MAX}) {
    DeleteAllValues(HKEY_CURRENT_USER, kTop, count);
    EXPECT_EQ(Values(kTop).size(), 3u) << count;
  }
  EXPECT_EQ(sim::CountCalls("HeapAlloc") + sim::CountCalls("RegEnumValueA"), 0);
  EXPECT_EQ(sim::CountCalls("RegCloseKey"), 5) << "the key is closed each time";
}

TEST_F(ValueRemoval, MissingKeyIsNotCreated) {
  DeleteAllValues(HKEY_CURRENT_USER, "Software\\Nowhere", 1);
  EXPECT_FALSE(sim::reg::KeyExists(HKEY_CURRENT_USER, "Software\\Nowhere"));
  EXPECT_EQ(sim::CountCalls("HeapAlloc"), 0);
}

}  // namespace
