#include "platform/launch.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

}  // namespace

// Quoting as a POSIX shell tokenises a command line: blanks separate words; single quotes keep
// everything literally; double quotes keep everything but a backslash before $ ` " \ or a line
// break; a backslash outside quotes takes the next character literally (a backslash and a line
// break vanish). No expansions, no comments: "#" and "$" are ordinary characters. An unclosed
// quote runs to the end of the text.
std::vector<std::string> SplitShellWords(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    char c = text[i];
    if (IsBlank(c)) {
      if (inWord) {
        words.push_back(word);
        word.clear();
        inWord = false;
      }
      ++i;
      continue;
    }
    if (c == '\\' && i + 1 < n && text[i + 1] == '\n') {
      i += 2;  // a continued line: nothing, not even a word break
      continue;
    }
    inWord = true;
    if (c == '\'') {
      size_t end = text.find('\'', i + 1);
      if (end == std::string::npos) {
        end = n;
      }
      word.append(text, i + 1, end - i - 1);
      i = end + 1;
    } else if (c == '"') {
      ++i;
      while (i < n && text[i] != '"') {
        if (text[i] == '\\' && i + 1 < n) {
          char next = text[i + 1];
          if (next == '\n') {
            i += 2;
            continue;
          }
          if (next == '$' || next == '`' || next == '"' || next == '\\') {
            word.push_back(next);
            i += 2;
            continue;
          }
        }
        word.push_back(text[i]);
        ++i;
      }
      ++i;  // the closing quote
    } else if (c == '\\') {
      if (i + 1 < n) {
        word.push_back(text[i + 1]);
        i += 2;
      } else {
        word.push_back('\\');  // a trailing backslash stays, as in a shell
        ++i;
      }
    } else {
      word.push_back(c);
      ++i;
    }
  }
  if (inWord) {
    words.push_back(word);
  }
  return words;
}
