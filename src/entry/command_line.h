#pragma once

// The command-line tail: the full command line without the program name and without the blanks
// and control characters (1 to 32) after it. The program name is a quoted string, closing quote
// included, or else runs to the first character at or below the space. The C runtime's own tail
// differs from this rule, so both builds take the tail from GetCommandLineA through this.
const char* CommandTail(const char* commandLine);
