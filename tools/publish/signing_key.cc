#include "publish/signing_key.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "platform/file_system.h"
#include "publish/posix_files.h"
#include "publish/publish_error.h"

namespace {

constexpr const char* kPublicName = "lodestar.pub";
constexpr const char* kSecretName = "lodestar.key";

// Restores the terminal's echo when it goes out of scope, also on an exception.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd) {
    active_ = tcgetattr(fd_, &saved_) == 0;
    if (active_) {
      termios quiet = saved_;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      tcsetattr(fd_, TCSAFLUSH, &quiet);
    }
  }
  ~EchoOff() {
    if (active_) {
      tcsetattr(fd_, TCSAFLUSH, &saved_);
    }
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  int fd_;
  bool active_ = false;
  termios saved_{};
};

// Asks on the controlling terminal; false when there is none.
bool AskPassword(const std::string& prompt, std::string& password) {
  UniqueFd tty(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!tty.valid()) {
    return false;
  }
  if (write(tty.get(), prompt.data(), prompt.size()) < 0) {
    return false;
  }
  password.clear();
  {
    EchoOff quiet(tty.get());
    char c = 0;
    ssize_t got = 0;
    while ((got = read(tty.get(), &c, 1)) == 1 && c != '\n') {
      password += c;
    }
    if (got < 0) {
      throw PublishError(SystemErrorText("read the password from", "/dev/tty", errno));
    }
  }
  if (!password.empty() && password.back() == '\r') {
    password.pop_back();
  }
  (void)!write(tty.get(), "\n", 1);
  return true;
}

bool PasswordFromEnvironment(std::string& password) {
  const char* value = std::getenv(kKeyPasswordVariable);
  if (value == nullptr) {
    return false;
  }
  password = value;
  return true;
}

// Far larger than any secret key file: a longer file is none, and its cut text fails to parse.
constexpr size_t kKeyFileReadLimit = 64 * 1024;

// The text of a secret key file, read through the descriptor whose mode was checked: a key that
// others may read is no longer secret, so it is refused as ssh refuses such keys.
std::string ReadPrivateKeyFile(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) {
    throw PublishError(SystemErrorText("open", path, errno));
  }
  struct stat status {};
  if (fstat(fd.get(), &status) != 0) {
    throw PublishError(SystemErrorText("examine", path, errno));
  }
  if (!S_ISREG(status.st_mode)) {
    throw PublishError("the secret key '" + path + "' is not a regular file");
  }
  if ((status.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    throw PublishError(std::string("permissions ") + mode + " for the secret key '" + path +
                       "' are too open: it must not be readable by others; make it private with "
                       "chmod 600 '" +
                       path + "'");
  }
  return ReadPrefix(fd.get(), kKeyFileReadLimit, path);
}

}  // namespace

std::string WriteNewKeyPair(const std::string& directory, const PasswordCost& cost,
                            const PublishLog& note) {
  std::string publicPath = JoinPath(directory, kPublicName);
  std::string secretPath = JoinPath(directory, kSecretName);
  struct stat status {};
  for (const std::string& path : {publicPath, secretPath}) {
    if (LinkStatus(path, status)) {
      throw PublishError("'" + path + "' exists already; keys are never overwritten");
    }
  }

  std::string password;
  if (!PasswordFromEnvironment(password)) {
    std::string again;
    if (AskPassword("Password for the new secret key (empty for none): ", password)) {
      AskPassword("The same password again: ", again);
      if (again != password) {
        throw PublishError("the two passwords differ");
      }
    } else {
      note("no terminal and no " + std::string(kKeyPasswordVariable) +
           ": the secret key is stored without a password");
    }
  }
  std::string publicFile;
  std::string secretFile;
  std::string error;
  if (!MakeMinisignKeyPair(password, cost, publicFile, secretFile, error)) {
    throw PublishError(error);
  }

  MakeDirectories(directory);
  WriteNewFileDurably(secretPath, secretFile, 0600);
  try {
    WriteNewFileDurably(publicPath, publicFile, 0644);
  } catch (const PublishError&) {
    unlink(secretPath.c_str());  // half a pair would only block the next attempt
    throw;
  }
  FlushFolder(directory);
  return publicFile.substr(publicFile.find('\n') + 1,
                           publicFile.size() - publicFile.find('\n') - 2);
}

MinisignSecretKey OpenSecretKey(const std::string& path) {
  std::string text = ReadPrivateKeyFile(path);
  SealedMinisignKey sealed;
  std::string error;
  if (!ParseMinisignSecretKeyFile(text, sealed, error)) {
    throw PublishError("'" + path + "': " + error);
  }

  std::string password;
  if (sealed.encrypted && !PasswordFromEnvironment(password) &&
      !AskPassword("Password for " + path + ": ", password)) {
    throw PublishError("the secret key '" + path + "' has a password: run on a terminal or set " +
                       kKeyPasswordVariable);
  }
  MinisignSecretKey key;
  if (!UnsealMinisignSecretKey(sealed, password, key, error)) {
    throw PublishError("'" + path + "': " + error);
  }
  return key;
}
