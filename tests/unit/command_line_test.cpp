#include "entry/command_line.h"

#include "fixture.h"

#include <string>

namespace {

// Pure functions; the fixture still checks that they touch nothing of the machine.
class CommandTailTest : public SimTest {};

std::string Tail(const char* commandLine) {
  return CommandTail(commandLine);
}

TEST_F(CommandTailTest, QuotedProgramNameEndsAtTheClosingQuote) {
  EXPECT_EQ(Tail("\"C:\\Program Files\\a.exe\" /Install"), "/Install");
  // The C runtime of MinGW hands over "" here; the agent must still see the command.
  EXPECT_EQ(Tail("\"C:\\dir\\a.exe\"/Install"), "/Install");
  EXPECT_EQ(Tail("\"C:\\dir\\a.exe\"   \t /Uninstall"), "/Uninstall");
}

TEST_F(CommandTailTest, UnquotedProgramNameEndsAtTheFirstBlankOrControlCharacter) {
  EXPECT_EQ(Tail("a.exe /Install"), "/Install");
  EXPECT_EQ(Tail("a.exe\t/Install"), "/Install");
  EXPECT_EQ(Tail("a.exe\x01/Install"), "/Install");
  EXPECT_EQ(Tail("a.exe"), "");
}

TEST_F(CommandTailTest, BytesAbove0x7FBelongToTheProgramName) {
  // MinGW's start-up code would treat these as blanks and hand over "/Install".
  EXPECT_EQ(Tail("C:\\Programme\\\xe4\xa0/Install"), "");
  EXPECT_EQ(Tail("C:\\Pr\xfc"
                 "fung\\a.exe /Install"),
            "/Install");
  EXPECT_EQ(Tail("a.exe \xa0/Install"), "\xa0/Install");
}

TEST_F(CommandTailTest, OnlyBlanksAndControlCharactersAfterTheNameAreSkipped) {
  EXPECT_EQ(Tail("a.exe /Install "), "/Install ");
  EXPECT_EQ(Tail("a.exe /Install /quiet"), "/Install /quiet");
  EXPECT_EQ(Tail("a.exe \"/Install\""), "\"/Install\"");
}

TEST_F(CommandTailTest, UnterminatedQuoteTakesTheWholeLine) {
  EXPECT_EQ(Tail("\"C:\\dir\\a.exe /Install"), "");
  EXPECT_EQ(Tail("\"\" /Install"), "/Install");
  EXPECT_EQ(Tail(""), "");
}

TEST_F(CommandTailTest, QuoteClosedMidwayLeavesTheRestOfTheNameInTheTail) {
  EXPECT_EQ(Tail("\"C:\\a\"b /Install"), "b /Install");
}

}  // namespace
