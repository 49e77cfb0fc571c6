#include "common/path_buffer.h"

#include <cstring>

namespace {

// Appends at `length`, advancing it; false when the text would leave no room for the
// terminator.
bool Put(PathBuffer& buffer, size_t& length, const char* text, size_t count) {
  if (count >= MAX_PATH - length)
    return false;
  memcpy(buffer + length, text, count);
  length += count;
  buffer[length] = '\0';
  return true;
}

// strnlen is missing from older msvcrt builds.
size_t BoundedLength(const PathBuffer& buffer) {
  size_t length = 0;
  while (length < MAX_PATH && buffer[length])
    ++length;
  return length;
}

}  // namespace

bool CopyPath(PathBuffer& buffer, const char* text) {
  size_t length = 0;
  buffer[0] = '\0';
  if (Put(buffer, length, text, strlen(text)))
    return true;
  buffer[0] = '\0';
  return false;
}

bool AppendPath(PathBuffer& buffer, const char* text) {
  size_t length = BoundedLength(buffer);
  if (length == MAX_PATH)
    return false;  // not a string: never append to it
  return Put(buffer, length, text, strlen(text));
}

bool FormatPath(PathBuffer& buffer, const char* format, const char* first, const char* second) {
  const char* texts[] = {first, second};
  size_t used = 0;
  size_t length = 0;
  buffer[0] = '\0';
  for (const char* p = format; *p; ++p) {
    const bool placeholder = p[0] == '%' && p[1] == 's' && used < 2;
    const bool fits = placeholder ? Put(buffer, length, texts[used], strlen(texts[used]))
                                  : Put(buffer, length, p, 1);
    if (!fits) {
      buffer[0] = '\0';
      return false;
    }
    if (placeholder) {
      ++used;
      ++p;
    }
  }
  return true;
}
