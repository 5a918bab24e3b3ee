#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/mapped_file.h"

bool MappedFile::Reserve(std::FILE* file, uint64_t size) {
  // Writing into a hole of a full disk would kill the process (SIGBUS), not fail a call.
  return posix_fallocate(fileno(file), 0, static_cast<off_t>(size)) == 0;
}

char* MappedFile::Map(std::FILE* file, uint64_t size, bool writable) {
  struct stat status;
  // A page beyond the file's end cannot be read: a file shorter than announced is refused.
  if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<uint64_t>(status.st_size) != size) {
    return nullptr;
  }
  void* data = mmap(nullptr, static_cast<size_t>(size), PROT_READ | (writable ? PROT_WRITE : 0),
                    MAP_SHARED, fileno(file), 0);
  return data == MAP_FAILED ? nullptr : static_cast<char*>(data);
}

bool MappedFile::Unmap(char* data, uint64_t size, bool /*writable*/) {
  // The written pages are the file's in the system's cache already.
  return munmap(data, static_cast<size_t>(size)) == 0;
}

void MappedFile::WriteBack(std::FILE* file, uint64_t from, uint64_t to) {
  sync_file_range(fileno(file), static_cast<off_t>(from), static_cast<off_t>(to - from),
                  SYNC_FILE_RANGE_WRITE);
}
