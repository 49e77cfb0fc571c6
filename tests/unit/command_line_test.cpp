#include "entry/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Tail(const char* commandLine) {
  return CommandTail(commandLine);
}

TEST(CommandTail, QuotedProgramNameEndsAtTheClosingQuote) {
  EXPECT_EQ(Tail("\"C:\\Program Files\\a.exe\" /Install"), "/Install");
  // The C runtime of MinGW hands over "" here; the agent must still see the command.
  EXPECT_EQ(Tail("\"C:\\dir\\a.exe\"/Install"), "/Install");
  EXPECT_EQ(Tail("\"C:\\dir\\a.exe\"   \t /Uninstall"), "/Uninstall");
}

TEST(CommandTail, UnquotedProgramNameEndsAtTheFirstBlankOrControlCharacter) {
  EXPECT_EQ(Tail("a.exe /Install"), "/Install");
  EXPECT_EQ(Tail("a.exe\t/Install"), "/Install");
  EXPECT_EQ(Tail("a.exe\x01/Install"), "/Install");
  EXPECT_EQ(Tail("a.exe"), "");
}

TEST(CommandTail, BytesAbove0x7FBelongToTheProgramName) {
  // MinGW's start-up code would treat these as blanks and hand over "/Install".
  EXPECT_EQ(Tail("C:\\Programme\\\xe4\xa0/Install"), "");
  EXPECT_EQ(Tail("C:\\Pr\xfc"
                 "fung\\a.exe /Install"),
            "/Install");
  EXPECT_EQ(Tail("a.exe \xa0/Install"), "\xa0/Install");
}

TEST(CommandTail, OnlyBlanksAndControlCharactersAfterTheNameAreSkipped) {
  EXPECT_EQ(Tail("a.exe /Install "), "/Install ");
  EXPECT_EQ(Tail("a.exe /Install /quiet"), "/Install /quiet");
  EXPECT_EQ(Tail("a.exe \"/Install\""), "\"/Install\"");
}

TEST(CommandTail, UnterminatedQuoteTakesTheWholeLine) {
  EXPECT_EQ(Tail("\"C:\\dir\\a.exe /Install"), "");
  EXPECT_EQ(Tail("\"\" /Install"), "/Install");
  EXPECT_EQ(Tail(""), "");
}

TEST(CommandTail, QuoteClosedMidwayLeavesTheRestOfTheNameInTheTail) {
  EXPECT_EQ(Tail("\"C:\\a\"b /Install"), "b /Install");
}

}  // namespace
