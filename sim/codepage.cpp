// The process's ANSI code page. Windows keeps names, paths and string data as UTF-16 and converts
// them at every ANSI call; the simulated machine keeps them as UTF-8 and converts the same way:
// a character the code page lacks becomes its "best fit", a look-alike, where the code page's
// table has one, and "?" otherwise, as WideCharToMultiByte makes them by default. Windows 1252
// is a table of its own (it maps all 256 bytes, 0x81, 0x8D, 0x8F, 0x90 and 0x9D to the C1
// controls of the same value), with part of Microsoft's best-fit table for it (bestfit1252.txt);
// the double-byte code pages come from glibc's iconv, whose CP932, CP936, CP949 and CP950 are
// Windows' own tables, without best fit.
#include "internal.h"

#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>

namespace sim::detail {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr UINT kUtf8 = 65001;  // CP_UTF8

constexpr char16_t kWindows1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// From bestfit1252.txt, a part: Latin letters with marks that 1252 lacks become the bare letter,
// and the fullwidth forms U+FF01 to U+FF5E their ASCII twins, U+FF3C a real backslash.
struct BestFit {
  char32_t character;
  char byte;
};
constexpr BestFit kBestFit1252[] = {
    {0x0100, 'A'}, {0x0101, 'a'}, {0x0102, 'A'}, {0x0103, 'a'}, {0x0104, 'A'}, {0x0105, 'a'},
    {0x0106, 'C'}, {0x0107, 'c'}, {0x010C, 'C'}, {0x010D, 'c'}, {0x0118, 'E'}, {0x0119, 'e'},
    {0x011A, 'E'}, {0x011B, 'e'}, {0x0141, 'L'}, {0x0142, 'l'}, {0x0143, 'N'}, {0x0144, 'n'},
    {0x0158, 'R'}, {0x0159, 'r'}, {0x015A, 'S'}, {0x015B, 's'}, {0x0179, 'Z'}, {0x017A, 'z'},
    {0x017B, 'Z'}, {0x017C, 'z'},
};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The code point at `i`, advancing it; U+FFFD for a byte that starts no valid sequence, as
// Windows decodes UTF-8.
char32_t NextCodePoint(const std::string& text, size_t& i) {
  const auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
  const unsigned char first = byte(i++);
  if (first < 0x80)
    return first;
  const int extra = first >= 0xF0 && first < 0xF5 ? 3 : first >= 0xE0 ? 2 : first >= 0xC2 ? 1 : -1;
  if (extra < 0 || i + static_cast<size_t>(extra) > text.size())
    return kReplacement;
  char32_t c = first & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    if ((byte(i + static_cast<size_t>(k)) & 0xC0) != 0x80)
      return kReplacement;
    c = (c << 6) | (byte(i + static_cast<size_t>(k)) & 0x3F);
  }
  const char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
  if (c < smallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
    return kReplacement;
  i += static_cast<size_t>(extra);
  return c;
}

bool IsDoubleByte(UINT codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

// The converters opened so far, closed at exit.
struct Converters {
  std::map<std::pair<std::string, std::string>, iconv_t> open;
  ~Converters() {
    for (const auto& [names, converter] : open)
      if (converter && converter != reinterpret_cast<iconv_t>(-1))
        iconv_close(converter);
  }
};

// One character through iconv; false when the other side has no such character.
bool Iconv(const std::string& from, const std::string& to, const std::string& in,
           std::string& out) {
  static Converters converters;
  iconv_t& converter = converters.open[{from, to}];
  if (!converter)
    converter = iconv_open(to.c_str(), from.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1))
    return false;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  std::string input = in;
  char buffer[16];
  char* source = input.data();
  size_t left = input.size();
  char* target = buffer;
  size_t room = sizeof buffer;
  if (iconv(converter, &source, &left, &target, &room) == static_cast<size_t>(-1) || left)
    return false;
  out.append(buffer, static_cast<size_t>(target - buffer));
  return true;
}

// The byte of a character in Windows 1252, its best fit where it has none, "?" where it has
// neither.
char Windows1252Byte(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
    return static_cast<char>(c);
  const char16_t* found = std::find(std::begin(kWindows1252), std::end(kWindows1252), c);
  if (found != std::end(kWindows1252))
    return static_cast<char>(0x80 + (found - std::begin(kWindows1252)));
  if (c >= 0xFF01 && c <= 0xFF5E)
    return static_cast<char>(c - 0xFF01 + 0x21);
  for (const BestFit& fit : kBestFit1252)
    if (fit.character == c)
      return fit.byte;
  return '?';
}

std::string CodePageName() {
  return "CP" + std::to_string(sim::settings().codePage);
}

}  // namespace

bool IsLeadByte(BYTE byte) {
  switch (sim::settings().codePage) {
    case 932:
      return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950:
      return byte >= 0x81 && byte <= 0xFE;
    default:
      return false;
  }
}

std::string FromAnsi(const char* text, size_t length) {
  const UINT codePage = sim::settings().codePage;
  const std::string bytes(text, length);
  std::string out;
  for (size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte < 0x80) {
      out += bytes[i++];
    } else if (codePage == kUtf8) {
      AppendUtf8(out, NextCodePoint(bytes, i));
    } else if (IsDoubleByte(codePage)) {
      // A lead byte without its trail byte is a character of its own, and none.
      const size_t size = IsLeadByte(byte) && i + 1 < bytes.size() && bytes[i + 1] ? 2 : 1;
      if (!Iconv(CodePageName(), "UTF-8", bytes.substr(i, size), out))
        out += '?';
      i += size;
    } else {
      AppendUtf8(out, byte >= 0x80 && byte < 0xA0 ? kWindows1252[byte - 0x80] : byte);
      ++i;
    }
  }
  return out;
}

std::string FromAnsi(const char* text) {
  return text ? FromAnsi(text, strlen(text)) : std::string();
}

std::string ToAnsi(const std::string& text) {
  const UINT codePage = sim::settings().codePage;
  if (codePage == kUtf8)
    return FromAnsi(text.data(), text.size());  // the same bytes, where they are valid UTF-8
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const size_t start = i;
    const char32_t c = NextCodePoint(text, i);
    if (c >= 0x80 && IsDoubleByte(codePage)) {
      if (!Iconv("UTF-8", CodePageName(), text.substr(start, i - start), out))
        out += '?';
    } else {
      out += Windows1252Byte(c);
    }
  }
  return out;
}

std::u16string ToUtf16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const char32_t c = NextCodePoint(text, i);
    if (c < 0x10000) {
      out += static_cast<char16_t>(c);
    } else {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return out;
}

size_t Utf16Length(const std::string& text) {
  size_t units = 0;
  for (size_t i = 0; i < text.size();)
    units += NextCodePoint(text, i) >= 0x10000 ? 2u : 1u;
  return units;
}

}  // namespace sim::detail

using namespace sim::detail;

extern "C" {

// The agent converts only from the process's own code page, and with no flags.
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR out,
                               int room) {
  const Hit hit =
      Enter("MultiByteToWideChar", {Num(codePage), Hex(flags), Str(text), Num(bytes), Num(room)});
  // -1: the text and its terminator.
  const std::u16string wide =
      text ? ToUtf16(FromAnsi(text, bytes < 0 ? strlen(text) + 1 : static_cast<size_t>(bytes)))
           : std::u16string();
  if (hit.fired) {
    // The buffer is undefined after a failure: here it holds what a caller that ignores the
    // result would hope for, so that such a caller shows.
    if (out && room > 0)
      std::copy_n(wide.begin(), std::min(wide.size(), static_cast<size_t>(room)), out);
    return static_cast<int>(hit.result);
  }
  if (codePage != CP_ACP || flags || !text || room < 0 || (room && !out)) {
    Misuse("MultiByteToWideChar is simulated for CP_ACP without flags only");
    return Failed(ERROR_INVALID_PARAMETER);
  }
  if (room == 0)
    return static_cast<int>(wide.size());
  if (wide.size() > static_cast<size_t>(room))
    return Failed(ERROR_INSUFFICIENT_BUFFER);
  std::copy(wide.begin(), wide.end(), out);
  return static_cast<int>(wide.size());
}

}  // extern "C"
