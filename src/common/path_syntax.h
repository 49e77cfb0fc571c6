// Reading paths: what kind of path a text is and where its separators are, character by
// character in the ANSI code page of the process.
#pragma once

// "X:\..." (a drive letter, a colon and a backslash) or "\\server\share..." (a UNC path, with a
// server and a share). A path rooted at "\" or relative to the current directory, and the device
// namespaces "\\.\" and "\\?\", are none: the first two name whatever the current drive and
// directory happen to be.
bool IsFullPath(const char* path);

// Whether the last character of the text is a backslash. false for "".
bool EndsInBackslash(const char* path);

// The last backslash of the path, or NULL when it has none.
const char* LastBackslash(const char* path);
