#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/MappedFile.h"
#include "platform/posix/NativePath.h"

struct TMappedFile::TImpl {
  int fd = -1;
  void* view = nullptr;
  size_t viewLength = 0;

  void Unmap() {
    if (view) munmap(view, viewLength);
    view = nullptr;
  }
  ~TImpl() {
    Unmap();
    if (fd >= 0) close(fd);
  }
};

TMappedFile::TMappedFile() : FImpl(new TImpl) {}
TMappedFile::~TMappedFile() = default;

bool TMappedFile::Open(const std::string& path) {
  FImpl.reset(new TImpl);
  FSize = 0;
  FImpl->fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (FImpl->fd < 0) return false;
  struct stat info;
  if (fstat(FImpl->fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) return false;
  FSize = info.st_size;
  return true;
}

const uint8_t* TMappedFile::MapView(int64_t offset, size_t length) {
  FImpl->Unmap();
  if (FImpl->fd < 0 || length == 0 || length > MaxMappedView || offset < 0 || offset + static_cast<int64_t>(length) > FSize)
    return nullptr;
  // mmap needs a page-aligned offset; map from the page start and step in.
  const int64_t page = sysconf(_SC_PAGESIZE);
  const int64_t start = offset - offset % page;
  const size_t lead = static_cast<size_t>(offset - start);
  void* view = mmap(nullptr, length + lead, PROT_READ, MAP_PRIVATE, FImpl->fd, start);
  if (view == MAP_FAILED) return nullptr;
  madvise(view, length + lead, MADV_SEQUENTIAL | MADV_WILLNEED);
  FImpl->view = view;
  FImpl->viewLength = length + lead;
  return static_cast<const uint8_t*>(view) + lead;
}
