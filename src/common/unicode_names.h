// Names as Windows keeps them: in Unicode, handed to the agent's ANSI calls converted into the
// process's code page. Where that code page lacks a character, Windows puts a "best fit" in its
// place: "Ł" reads as "L", a fullwidth "＼" as a real "\". Such a name reads as another folder,
// one that any user may create, and code taken from there would run with the agent's rights.
// So a name the agent takes code from, or points Windows to, is also read as Unicode, once, and
// must read back exactly: the one deliberate exception to the agent's all-ANSI convention.
#pragma once

#include <windows.h>

#include <cstddef>

// UTF-16 text built at compile time: WCHAR differs between compilers (wchar_t or char16_t), so
// no L"" literal serves both.
template <size_t N>
struct WideText {
  WCHAR text[N];
};

template <size_t N>
constexpr WideText<N> Widen(const char (&ascii)[N]) {
  WideText<N> wide{};
  for (size_t i = 0; i < N; ++i)
    wide.text[i] = static_cast<WCHAR>(ascii[i]);
  return wide;
}

using WidePathBuffer = WCHAR[MAX_PATH];

// Windows 95, 98 and Me set the high bit of GetVersion. They keep names in the code page itself,
// so nothing is converted there, and they have no Unicode registry.
bool IsWin9xFamily();

// Whether `ansi`, as the ANSI call gave it, converts back to `unicode`: false when a character
// was best-fitted or replaced by a default character on the way.
bool ReadsBackExactly(const char* ansi, const WCHAR* unicode);
