// The directory reply reassembly on arbitrary datagrams: the input is cut
// into datagrams whose sizes come from its own bytes and fed to the
// exchange, then to the directory service. No crash, no write past the
// 1 MiB buffer, no inflation beyond its cap.
#include <cstdint>
#include <string>
#include <vector>

#include "servers/DirectoryExchange.h"
#include "servers/DirectoryService.h"

namespace {

class TNoWindow : public IDirectoryWindow {
public:
  void ShowRefreshLabel(bool) override {}
  void SetCurrentServerText(const std::u16string&) override {}
  void SelectServer(const TServerInfo&) override {}
  void SetLastServerText(const std::u16string&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One exchange for the whole run, as in the launcher: every request
  // starts a fresh reply in the same buffer.
  static TServerConfig config("/nonexistent/");
  static TNoWindow window;
  static TSystemTicks ticks;
  static TDatagramQueue queue;
  static TDirectoryExchange exchange(config, window, ticks, queue, nullptr, TDirectoryInputs{"12", {}, {}});
  exchange.RequestServerList(12, GetServerList);
  size_t at = 0;
  while (at < size) {
    // Two bytes of length (1..16384), then that many bytes of datagram.
    size_t length = 1;
    if (size - at >= 2) length = 1 + ((data[at] | data[at + 1] << 8) % 16384);
    at += size - at >= 2 ? 2 : 0;
    if (length > size - at) length = size - at;
    if (length == 0) break;
    exchange.OnDirectoryData(0, 0, static_cast<int32_t>(length), data + at);
    std::vector<uint8_t> datagram;
    while (queue.Take(datagram)) exchange.DirectoryDataArrived(datagram);
    at += length;
  }
  static TDirectoryService service;
  static bool loaded = [] {
    std::string error;
    return service.LoadText("{\"12\":\"doc\"}", error);
  }();
  (void)loaded;
  service.Answer(data, size, 1, 0);
  return 0;
}
