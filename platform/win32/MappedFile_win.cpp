#include <windows.h>

#include "platform/MappedFile.h"
#include "platform/win32/WidePath.h"

struct TMappedFile::TImpl {
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE mapping = nullptr;
  const void* view = nullptr;

  void Unmap() {
    if (view) UnmapViewOfFile(view);
    view = nullptr;
  }
  ~TImpl() {
    Unmap();
    if (mapping) CloseHandle(mapping);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
};

TMappedFile::TMappedFile() : FImpl(new TImpl) {}
TMappedFile::~TMappedFile() = default;

bool TMappedFile::Open(const std::string& path) {
  FImpl.reset(new TImpl);
  FSize = 0;
  FImpl->file = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (FImpl->file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(FImpl->file, &size) || size.QuadPart == 0) return false;
  FImpl->mapping = CreateFileMappingW(FImpl->file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!FImpl->mapping) return false;
  FSize = size.QuadPart;
  return true;
}

const uint8_t* TMappedFile::MapView(int64_t offset, size_t length) {
  FImpl->Unmap();
  if (!FImpl->mapping || length == 0 || length > MaxMappedView || offset < 0 ||
      offset + static_cast<int64_t>(length) > FSize)
    return nullptr;
  // Views start on the allocation granularity (64 KiB).
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const int64_t start = offset - offset % info.dwAllocationGranularity;
  const size_t lead = static_cast<size_t>(offset - start);
  FImpl->view = MapViewOfFile(FImpl->mapping, FILE_MAP_READ, static_cast<DWORD>(static_cast<uint64_t>(start) >> 32),
                              static_cast<DWORD>(start & 0xFFFFFFFF), length + lead);
  if (!FImpl->view) return nullptr;
  return static_cast<const uint8_t*>(FImpl->view) + lead;
}
