#include "ui/terminal/terminal_view.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "base/utf8.h"
#include "texts/texts.h"
#include "ui/display_text.h"
#include "ui/format_text.h"

namespace {

constexpr std::chrono::milliseconds kProgressInterval(100);

// The order of a sorted combo box: letters compared without regard to case, then bytes.
bool ComesBefore(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int x = std::tolower(static_cast<unsigned char>(a[i]));
    int y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) {
      return x < y;
    }
  }
  if (a.size() != b.size()) {
    return a.size() < b.size();
  }
  return a < b;
}

// The code point at text[i] (advancing i); a stray byte reads as U+FFFD, one column.
uint32_t NextCodePoint(const std::string& text, size_t& i) {
  const Utf8Char c = ReadUtf8Char(text, i);
  i += c.length;
  return c.codePoint;
}

// Columns a character takes on a terminal: East Asian wide characters take two.
int ColumnsOf(uint32_t cp) {
  bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
              (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
              (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
              (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
  return wide ? 2 : 1;
}

// Characters that steer a terminal rather than show: C0 controls, DEL and C1 controls (which start
// escape sequences, move the cursor, end lines), and the marks, embeddings, overrides and isolates
// that reorder the text around them.
bool SteersTerminal(uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

// The longest prefix of text that fits in the given number of columns.
std::string FitColumns(const std::string& text, int columns) {
  int used = 0;
  size_t i = 0;
  while (i < text.size()) {
    size_t start = i;
    int width = ColumnsOf(NextCodePoint(text, i));
    if (used + width > columns) {
      return text.substr(0, start);
    }
    used += width;
  }
  return text;
}

}  // namespace

// Readable means DisplayText: every byte is part of well-formed UTF-8. A server list or a manifest
// can then neither rewrite the screen nor fake a line of ours.
std::string TerminalText(const std::string& text) {
  const std::string readable = DisplayText(text);
  std::string out;
  out.reserve(readable.size());
  for (size_t i = 0; i < readable.size();) {
    const size_t start = i;
    if (SteersTerminal(NextCodePoint(readable, i))) {
      out += "\xEF\xBF\xBD";
    } else {
      out.append(readable, start, i - start);
    }
  }
  return out;
}

TerminalView::TerminalView(std::FILE* out, std::FILE* err, bool errIsTerminal)
    : out_(out), err_(err), errIsTerminal_(errIsTerminal) {}

void TerminalView::Started(unsigned periodMs) {
  timerStarted_ = true;
  timerPeriodMs_ = periodMs;
}

void TerminalView::ServersListed(const std::vector<std::string>& names, size_t selected) {
  items_.clear();
  selected_ = -1;
  for (size_t index = 0; index < names.size(); ++index) {
    const std::string text = TerminalText(names[index]);
    auto at = std::upper_bound(
        items_.begin(), items_.end(), text,
        [](const std::string& t, const Item& item) { return ComesBefore(t, item.text); });
    at = items_.insert(at, Item{text, index});
    if (index == selected) {
      selected_ = static_cast<int>(at - items_.begin());
    } else if (selected_ >= at - items_.begin()) {
      ++selected_;  // the selection stays on its item
    }
  }
  listChanged_ = true;
}

size_t TerminalView::Choose(int index) {
  selected_ = index;
  listChanged_ = true;
  return items_[static_cast<size_t>(index)].index;
}

void TerminalView::LogLine(const std::string& text, uint32_t) {
  const std::string line = TerminalText(text);
  ClearStatusLine();
  FlushErr();  // what was said on standard error before this line comes before it
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
  DrawStatusLine();
}

void TerminalView::StatusChanged(const std::string& line) {
  const std::string text = TerminalText(line);
  if (text == status_) {
    return;
  }
  status_ = text;
  if (errIsTerminal_) {
    statusChanged_ = true;  // redrawn by Flush, at display rate
  } else if (!text.empty()) {
    errPending_ += text;
    errPending_ += '\n';
  }
}

void TerminalView::FileProgress(int position) {
  position = std::clamp(position, 0, 100);
  progressChanged_ = progressChanged_ || position != fileProgress_;
  fileProgress_ = position;
}

void TerminalView::RunProgress(int position) {
  position = std::clamp(position, 0, 100);
  progressChanged_ = progressChanged_ || position != totalProgress_;
  totalProgress_ = position;
}

void TerminalView::ShowMessage(const std::string& text) {
  ClearStatusLine();
  // A line of its own for each of the message's lines, each under the window's title.
  const std::string title = "[" + std::string(Text(TextId::kWindowTitle)) + "] ";
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find('\n', start), text.size());
    errPending_ += title + TerminalText(text.substr(start, end - start)) + "\n";
    start = end + 1;
  }
  FlushErr();
  if (messageBoxWait_) {
    messageBoxWait_();
  }
  DrawStatusLine();
}

void TerminalView::Flush() {
  if (listChanged_) {
    listChanged_ = false;
    if (!items_.empty()) {
      PrintServerList();
    }
  }
  const auto now = std::chrono::steady_clock::now();
  const bool due = now - lastProgressDraw_ >= kProgressInterval;
  if ((progressChanged_ || statusChanged_) && due) {
    lastProgressDraw_ = now;
    if (errIsTerminal_) {
      DrawStatusLine();
    } else if (progressChanged_) {
      std::string progress = ProgressText();
      if (progress != lastProgressPrinted_) {
        lastProgressPrinted_ = progress;
        errPending_ += progress;
        errPending_ += '\n';
      }
    }
    progressChanged_ = false;
  }
  if (!errPending_.empty() && now - lastErrFlush_ >= kProgressInterval) {
    FlushErr();
  }
}

void TerminalView::Notice(const std::string& text) {
  ClearStatusLine();
  errPending_ += TerminalText(text);
  errPending_ += '\n';
  DrawStatusLine();
  FlushErr();
}

void TerminalView::Finish() {
  if (statusChanged_ || progressChanged_) {
    DrawStatusLine();
  }
  if (statusDrawn_) {
    errPending_ += '\n';
    statusDrawn_ = false;
  }
  FlushErr();
  std::fflush(out_);
}

void TerminalView::FlushErr() {
  if (!errPending_.empty()) {
    std::fwrite(errPending_.data(), 1, errPending_.size(), err_);
    errPending_.clear();
  }
  std::fflush(err_);
  lastErrFlush_ = std::chrono::steady_clock::now();
}

std::string TerminalView::ProgressText() const {
  return FormatText(Text(TextId::kTerminalProgress), totalProgress_, fileProgress_);
}

void TerminalView::ClearStatusLine() {
  if (errIsTerminal_ && statusDrawn_) {
    errPending_ += "\r\033[K";
    statusDrawn_ = false;
  }
}

void TerminalView::DrawStatusLine() {
  if (!errIsTerminal_) {
    return;
  }
  std::string line = ProgressText();
  if (!status_.empty()) {
    line = status_ + "  " + line;
  }
  int columns = 80;
  struct winsize size;
  if (ioctl(fileno(err_), TIOCGWINSZ, &size) == 0 && size.ws_col > 1) {
    columns = size.ws_col;
  }
  // One column short of the width, so the line never wraps and \r returns to its start.
  errPending_ += "\r\033[K";
  errPending_ += FitColumns(line, columns - 1);
  statusDrawn_ = true;
  statusChanged_ = false;
}

void TerminalView::PrintServerList() {
  ClearStatusLine();
  errPending_ += std::string(Text(TextId::kTerminalServers)) + "\n";
  for (int i = 0; i < ItemCount(); ++i) {
    errPending_ += std::string(i == selected_ ? "*" : " ") + " " + std::to_string(i + 1) + ". " +
                   items_[i].text + "\n";
  }
  DrawStatusLine();
  FlushErr();
}
