#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "platform/mapped_file.h"

namespace {

HANDLE HandleOf(std::FILE* file) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

}  // namespace

bool MappedFile::Reserve(std::FILE* file, uint64_t size) {
  // NTFS gives a file its room when its end is set (it is not sparse).
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(HandleOf(file), end, nullptr, FILE_BEGIN) && SetEndOfFile(HandleOf(file));
}

char* MappedFile::Map(std::FILE* file, uint64_t size, bool writable) {
  LARGE_INTEGER length;
  if (!GetFileSizeEx(HandleOf(file), &length) || static_cast<uint64_t>(length.QuadPart) != size) {
    return nullptr;
  }
  HANDLE mapping =
      CreateFileMappingW(HandleOf(file), nullptr, writable ? PAGE_READWRITE : PAGE_READONLY,
                         static_cast<DWORD>(size >> 32), static_cast<DWORD>(size), nullptr);
  if (mapping == nullptr) {
    return nullptr;
  }
  void* data = MapViewOfFile(mapping, writable ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0,
                             static_cast<SIZE_T>(size));
  CloseHandle(mapping);  // the view keeps the mapping
  return static_cast<char*>(data);
}

bool MappedFile::Unmap(char* data, uint64_t /*size*/, bool writable) {
  // A view's written pages reach the file through FlushViewOfFile; FlushFileBuffers then puts
  // them on the disk.
  const bool flushed = !writable || FlushViewOfFile(data, 0);
  return UnmapViewOfFile(data) && flushed;
}

void MappedFile::WriteBack(std::FILE* /*file*/, uint64_t /*from*/, uint64_t /*to*/) {
  // No call starts writing a range without waiting for it; the system's lazy writer does so.
}
