#include "ui/AdapterMac.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <vector>

#include "ui/logic/WebLinks.h"

namespace {

// A library loaded for the length of one call.
class TLoadedLibrary {
public:
  explicit TLoadedLibrary(const char* name) : FModule(LoadLibraryA(name)) {}
  ~TLoadedLibrary() {
    if (FModule != nullptr) FreeLibrary(FModule);
  }
  TLoadedLibrary(const TLoadedLibrary&) = delete;
  TLoadedLibrary& operator=(const TLoadedLibrary&) = delete;
  // The address of an export as the function type the caller knows it by.
  template <class TFunction>
  TFunction Find(const char* name) const {
    if (FModule == nullptr) return nullptr;
    return reinterpret_cast<TFunction>(reinterpret_cast<void*>(GetProcAddress(FModule, name)));
  }

private:
  HMODULE FModule;
};

using TGetAdaptersInfo = DWORD(WINAPI*)(PIP_ADAPTER_INFO, PULONG);

// A second size from the system is taken only up to this many bytes.
constexpr ULONG MaxAdapterBuffer = 1024 * 1024;

}  // namespace

std::string GetAdapterMacString(int n) {
  TLoadedLibrary library("iphlpapi.dll");
  const auto getAdaptersInfo = library.Find<TGetAdaptersInfo>("GetAdaptersInfo");
  if (getAdaptersInfo == nullptr) return std::string();
  ULONG size = 640;
  std::vector<unsigned char> buffer(size);
  DWORD result = getAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size);
  if (result == ERROR_BUFFER_OVERFLOW && size <= MaxAdapterBuffer) {
    buffer.assign(size, 0);
    result = getAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size);
  }
  if (result != ERROR_SUCCESS) return std::string();
  const IP_ADAPTER_INFO* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data());
  for (int i = 0; i < n && adapter != nullptr; ++i) adapter = adapter->Next;
  if (adapter == nullptr) return std::string();
  const size_t length = adapter->AddressLength < MAX_ADAPTER_ADDRESS_LENGTH ? adapter->AddressLength
                                                                            : MAX_ADAPTER_ADDRESS_LENGTH;
  return FormatAdapterAddress(adapter->Address, length);
}

std::string ThisMachineCrc() { return MachineCrc(ChooseMacText(GetAdapterMacString)); }
