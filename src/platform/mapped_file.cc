#include "platform/mapped_file.h"

#include "platform/file_system.h"

std::unique_ptr<MappedFile> MappedFile::ForReading(const std::string& path) {
  int64_t size = 0;
  if (!ProbeFileSize(path, size) || size <= 0) {
    return nullptr;
  }
  std::FILE* file = OpenFile(path, "rb");
  if (file == nullptr) {
    return nullptr;
  }
  char* data = Map(file, static_cast<uint64_t>(size), false);
  if (data == nullptr) {
    std::fclose(file);
    return nullptr;
  }
  return std::unique_ptr<MappedFile>(
      new MappedFile(file, data, static_cast<uint64_t>(size), false));
}

std::unique_ptr<MappedFile> MappedFile::ForWriting(const std::string& path, uint64_t length) {
  std::FILE* made = length > 0 ? CreateFileAnew(path) : nullptr;
  if (made == nullptr) {
    return nullptr;
  }
  std::fclose(made);
  // Opened again for reading too, which a mapping for writing needs; still never through a link.
  std::FILE* file = OpenKeptFile(path, 0);
  char* data = file != nullptr && Reserve(file, length) ? Map(file, length, true) : nullptr;
  if (data == nullptr) {
    if (file != nullptr) {
      std::fclose(file);
    }
    return nullptr;
  }
  return std::unique_ptr<MappedFile>(new MappedFile(file, data, length, true));
}

MappedFile::~MappedFile() {
  Close();
}

void MappedFile::StartWriteBack(uint64_t from, uint64_t to) {
  if (writable_ && file_ != nullptr && from < to && to <= size_) {
    WriteBack(file_, from, to);
  }
}

bool MappedFile::Close() {
  if (file_ == nullptr) {
    return true;
  }
  const bool unmapped = Unmap(data_, size_, writable_);
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  data_ = nullptr;
  return unmapped && closed;
}
