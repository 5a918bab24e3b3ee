#include "publish/posix_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/file_system.h"
#include "publish/publish_error.h"

namespace {

constexpr size_t kChunk = 1 << 16;

// read(2) until count bytes or the end; -1 on an error.
ssize_t ReadFull(int fd, char* buffer, size_t count, off_t offset) {
  size_t done = 0;
  while (done < count) {
    ssize_t got = pread(fd, buffer + done, count - done, offset + static_cast<off_t>(done));
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return -1;
    }
    if (got == 0) {
      break;
    }
    done += static_cast<size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

void WriteThrough(UniqueFd fd, const std::string& data, const std::string& path) {
  WriteAll(fd.get(), data.data(), data.size(), path);
  FinishWriting(std::move(fd), path);
}

}  // namespace

void WriteAll(int fd, const char* data, size_t count, const std::string& path) {
  while (count > 0) {
    ssize_t put = write(fd, data, count);
    if (put < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw PublishError(SystemErrorText("write", path, errno));
    }
    data += put;
    count -= static_cast<size_t>(put);
  }
}

UniqueFd CreateForWriting(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.valid()) {
    throw PublishError(SystemErrorText("create", path, errno));
  }
  return fd;
}

// fsync and close, reporting either failure: a copy that did not reach the disk is no copy.
void FinishWriting(UniqueFd fd, const std::string& path) {
  if (fsync(fd.get()) != 0) {
    throw PublishError(SystemErrorText("flush", path, errno));
  }
  if (close(fd.release()) != 0) {
    throw PublishError(SystemErrorText("close", path, errno));
  }
}

std::string SystemErrorText(const std::string& action, const std::string& path, int err) {
  return "cannot " + action + " '" + path + "': " + std::strerror(err);
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) {
    close(fd_);
  }
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      close(fd_);
    }
    fd_ = other.release();
  }
  return *this;
}

int UniqueFd::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

std::string JoinPath(const std::string& base, const std::string& relative) {
  if (relative.empty()) {
    return base;
  }
  if (base.empty()) {
    return relative;
  }
  if (base.back() == '/') {
    return base + relative;
  }
  return base + "/" + relative;
}

UniqueFd OpenForReading(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) {
    throw PublishError(SystemErrorText("open", path, errno));
  }
  return fd;
}

bool LinkStatus(const std::string& path, struct stat& out) {
  if (lstat(path.c_str(), &out) == 0) {
    return true;
  }
  if (errno == ENOENT) {
    return false;
  }
  throw PublishError(SystemErrorText("examine", path, errno));
}

void MakeDirectories(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error) {
    throw PublishError("cannot create the folder '" + path + "': " + error.message());
  }
}

void CopyToFile(int source, uint64_t length, const std::string& target, Sha256* hash) {
  UniqueFd out = CreateForWriting(target);
  std::vector<char> buffer(kChunk);
  uint64_t done = 0;
  for (;;) {
    ssize_t got = ReadFull(source, buffer.data(), buffer.size(), static_cast<off_t>(done));
    if (got < 0) {
      throw PublishError(SystemErrorText("read the source of", target, errno));
    }
    if (got == 0) {
      break;
    }
    WriteAll(out.get(), buffer.data(), static_cast<size_t>(got), target);
    if (hash != nullptr) {
      hash->Update(buffer.data(), static_cast<size_t>(got));
    }
    done += static_cast<uint64_t>(got);
    if (done > length) {
      break;
    }
  }
  if (done != length) {
    throw PublishError("the source of '" + target + "' changed while it was being published");
  }
  FinishWriting(std::move(out), target);
}

bool SameContent(int a, int b, uint64_t length, Sha256* hashA) {
  std::vector<char> left(kChunk);
  std::vector<char> right(kChunk);
  uint64_t done = 0;
  while (done < length) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, length - done));
    ssize_t gotLeft = ReadFull(a, left.data(), want, static_cast<off_t>(done));
    ssize_t gotRight = ReadFull(b, right.data(), want, static_cast<off_t>(done));
    if (gotLeft < 0 || gotRight < 0) {
      throw PublishError(std::string("cannot compare a file with its published copy: ") +
                         std::strerror(errno));
    }
    if (gotLeft != gotRight || std::memcmp(left.data(), right.data(), gotLeft) != 0) {
      return false;
    }
    if (gotLeft == 0) {
      return false;  // shorter than announced
    }
    if (hashA != nullptr) {
      hashA->Update(left.data(), static_cast<size_t>(gotLeft));
    }
    done += static_cast<uint64_t>(gotLeft);
  }
  return true;
}

std::string HashFileRange(int fd, uint64_t offset, uint64_t length, const std::string& path) {
  std::vector<char> buffer(kChunk);
  Sha256 hash;
  for (uint64_t done = 0; done < length;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, length - done));
    ssize_t got = ReadFull(fd, buffer.data(), want, static_cast<off_t>(offset + done));
    if (got < 0) {
      throw PublishError(SystemErrorText("read", path, errno));
    }
    if (static_cast<size_t>(got) != want) {
      throw PublishError("'" + path + "' became shorter while it was read");
    }
    hash.Update(buffer.data(), want);
    done += want;
  }
  return hash.HexDigest();
}

void WriteFileDurably(const std::string& path, const std::string& data) {
  WriteThrough(CreateForWriting(path), data, path);
}

void WriteNewFileDurably(const std::string& path, const std::string& data, mode_t mode) {
  UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (!fd.valid()) {
    throw PublishError(SystemErrorText("create", path, errno));
  }
  try {
    WriteThrough(std::move(fd), data, path);
  } catch (const PublishError&) {
    unlink(path.c_str());  // a half-written file would only block the next attempt
    throw;
  }
}

std::string ReadPrefix(int fd, size_t limit, const std::string& path) {
  std::string text(limit, '\0');
  ssize_t got = ReadFull(fd, text.data(), limit, 0);
  if (got < 0) {
    throw PublishError(SystemErrorText("read", path, errno));
  }
  text.resize(static_cast<size_t>(got));
  return text;
}

bool ReadFileIfPresent(const std::string& path, std::string& out) {
  std::string reason;
  switch (ReadWholeFile(path, out, reason)) {
    case ReadResult::kRead:
      return true;
    case ReadResult::kMissing:
      return false;
    case ReadResult::kFailed:
      break;
  }
  throw PublishError("cannot read '" + path + "': " + reason);
}

void RenameOrThrow(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) != 0) {
    throw PublishError(SystemErrorText("move '" + from + "' to", to, errno));
  }
}

void RemoveTreeQuietly(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}
