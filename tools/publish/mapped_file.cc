#include "publish/mapped_file.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>

#include "publish/posix_files.h"
#include "publish/publish_error.h"

MappedFile::MappedFile(const std::string& path, uint64_t expectedLength) {
  UniqueFd fd = OpenForReading(path);
  struct stat status {};
  if (fstat(fd.get(), &status) != 0) {
    throw PublishError(SystemErrorText("examine", path, errno));
  }
  if (static_cast<uint64_t>(status.st_size) != expectedLength) {
    throw PublishError("'" + path + "' changed while it was being published");
  }
  length_ = static_cast<size_t>(expectedLength);
  if (length_ == 0) {
    return;  // mmap refuses a length of 0
  }
  void* mapped = mmap(nullptr, length_, PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (mapped == MAP_FAILED) {
    throw PublishError(SystemErrorText("map", path, errno));
  }
  data_ = static_cast<const char*>(mapped);
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) {
    munmap(const_cast<char*>(data_), length_);
  }
}
