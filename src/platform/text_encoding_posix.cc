#include "platform/text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

bool Gb18030ToUtf8(const std::string& text, std::string& out) {
  iconv_t cd = iconv_open("UTF-8", "GB18030");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    return false;
  }
  std::string converted;
  char buffer[256];
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    converted.append(buffer, outPtr - buffer);
    if (result == static_cast<size_t>(-1) && errno != E2BIG) {
      // EILSEQ or a sequence cut off at the end: replace one byte and go on after it.
      converted += kReplacement;
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  out.swap(converted);
  return true;
}
