// Every path of the agent lives in a MAX_PATH buffer. These helpers refuse, rather than cut, a
// text that would not fit with its terminator: a cut-off path names some other file or key.
#pragma once

#include <windows.h>

using PathBuffer = char[MAX_PATH];

// Copies text into the buffer. false (and an empty buffer) when it does not fit.
bool CopyPath(PathBuffer& buffer, const char* text);

// Appends text to the buffer's string. false (and the buffer unchanged) when it does not fit.
bool AppendPath(PathBuffer& buffer, const char* text);

// Formats a pattern whose only placeholders are "%s", each taking the next of the two texts,
// as in "%s\\3\\%s". false (and an empty buffer) when the result does not fit.
bool FormatPath(PathBuffer& buffer, const char* format, const char* first, const char* second);
