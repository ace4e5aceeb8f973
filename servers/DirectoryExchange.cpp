#include "servers/DirectoryExchange.h"

#include <cstring>
#include <random>
#include <stdexcept>

#include "common/Format.h"
#include "common/Log.h"
#include "net/cUdpSocket.h"
#include "package/LauncherConfig.h"
#include "package/LauncherSettings.h"
#include "platform/CodePage.h"
#include "platform/DebugOutput.h"
#include "platform/Socket.h"
#include "platform/Tick.h"

namespace {

// A compressed reply that does not inflate abandons the rest of its datagram.
class EDirectoryReplyError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

}  // namespace

TReplySource ReplySourceOf(const std::string& host, uint16_t port) {
  TReplySource source;
  source.port = port;
  // The directory host is always an address here (resolved or the fixed one).
  if (!ParseIPv4(host, source.address)) source.address = 0;
  return source;
}

bool TReplySource::Accepts(uint32_t peerAddress, uint16_t peerPort) const {
  return address != 0 && peerAddress == address && peerPort == port;
}

std::string DirectoryHostName() { return LAUNCHER_DIRECTORY_HOST; }
std::string DirectoryFixedAddress() { return LAUNCHER_DIRECTORY_ADDRESS; }

namespace {

// Aims and opens the socket with `receive` as its handler; see the header.
// Only datagrams from the address and port the requests go to reach it.
void AimAndOpen(TUDPClientSocket& socket, const std::vector<std::string>& resolved, const std::string& fixedAddress,
                TUDPClientSocket::TReceiveCallback receive, uint16_t port) {
  socket.SetRemoteHost(fixedAddress);
  const int count = static_cast<int>(resolved.size());
  for (int i = count - 1; i >= 0; --i)
    DebugOutput(Format("IPlist id=%d-%d, ip=%s", i, count, resolved[static_cast<size_t>(i)].c_str()));
  if (!resolved.empty()) {
    std::random_device random;
    socket.SetRemoteHost(resolved[std::uniform_int_distribution<size_t>(0, resolved.size() - 1)(random)]);
  }
  DebugOutput(Format("init UDP ip=%s", socket.RemoteHost().c_str()));
  socket.SetRemotePort(port);
  const TReplySource source = ReplySourceOf(socket.RemoteHost(), port);
  // The handler is in place before the worker can receive anything.
  socket.SetOnReceive([source, receive = std::move(receive)](uint32_t address, uint16_t peerPort, int32_t length,
                                                             const uint8_t* data) {
    if (!source.Accepts(address, peerPort)) {
      DebugOutput(Format("directory datagram from %s:%u dropped: the requests go to %s:%u", IPv4Text(address).c_str(),
                         static_cast<unsigned>(peerPort), IPv4Text(source.address).c_str(),
                         static_cast<unsigned>(source.port)));
      return;
    }
    receive(address, peerPort, length, data);
  });
  socket.Open();
}

// OnDirectoryData's hand-over: a copy of a non-empty datagram.
void HandDatagramOver(IDatagramHandOver& handOver, int32_t length, const uint8_t* data) {
  if (length < 1) return;
  handOver.HandOver(std::vector<uint8_t>(data, data + length));
}

}  // namespace

void SetupDirectorySocket(TUDPClientSocket& socket, const std::vector<std::string>& resolved,
                          const std::string& fixedAddress, TDirectoryExchange& exchange, uint16_t port) {
  AimAndOpen(socket, resolved, fixedAddress,
             [&exchange](uint32_t address, uint16_t peerPort, int32_t length, const uint8_t* data) {
               exchange.OnDirectoryData(address, peerPort, length, data);
             },
             port);
}

void SetupDirectorySocket(TUDPClientSocket& socket, const std::vector<std::string>& resolved,
                          const std::string& fixedAddress, IDatagramHandOver& handOver, uint16_t port) {
  AimAndOpen(socket, resolved, fixedAddress,
             [&handOver](uint32_t, uint16_t, int32_t length, const uint8_t* data) {
               HandDatagramOver(handOver, length, data);
             },
             port);
}

uint32_t TSystemTicks::Now() { return GetTickCount32(); }

// ---- TDatagramQueue --------------------------------------------------------

TDatagramQueue::TDatagramQueue(std::function<void()> notify) : FNotify(std::move(notify)) {}

void TDatagramQueue::HandOver(std::vector<uint8_t> datagram) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FDatagrams.size() >= MaxDatagrams) {
      ++FDropped;
      return;
    }
    FDatagrams.push_back(std::move(datagram));
  }
  if (FNotify) FNotify();
}

bool TDatagramQueue::Take(std::vector<uint8_t>& datagram) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FDatagrams.empty()) return false;
  datagram = std::move(FDatagrams.front());
  FDatagrams.pop_front();
  return true;
}

size_t TDatagramQueue::Count() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FDatagrams.size();
}

size_t TDatagramQueue::Dropped() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FDropped;
}

// ---- TDirectoryExchange ----------------------------------------------------

bool ParseGameId(const std::string& text, int32_t& gameId) {
  size_t at = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) at = 1;
  if (at >= text.size()) return false;
  int64_t value = 0;
  for (; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9') return false;
    value = value * 10 + (text[at] - '0');
    if (value > 2147483648LL) return false;
  }
  if (negative) value = -value;
  if (value > 2147483647LL) return false;
  gameId = static_cast<int32_t>(value);
  return true;
}

TDirectoryInputs LauncherDirectoryInputs(const std::string& launcherFolder, const TLauncherConfig& config) {
  TDirectoryInputs inputs;
  inputs.gameId = config._GMID;
  inputs.lastServer = [launcherFolder] { return static_cast<int32_t>(ReadLastServer(launcherFolder)); };
  const std::string onlyAwake = config._OnlyAwake;
  inputs.filter = [launcherFolder, onlyAwake] { return LauncherServerFilter(launcherFolder, onlyAwake); };
  return inputs;
}

TDirectoryExchange::TDirectoryExchange(TServerConfig& config, IDirectoryWindow& window, ITickSource& ticks,
                                       IDatagramHandOver& handOver, TUDPClientSocket* socket, TDirectoryInputs inputs)
    : FConfig(config), FWindow(window), FTicks(ticks), FHandOver(handOver), FSocket(socket),
      FInputs(std::move(inputs)) {}

void TDirectoryExchange::RequestServerList(int32_t gameId, uint16_t messageId) {
  const std::vector<uint8_t> frame = BuildServerListRequest(static_cast<uint32_t>(gameId), messageId);
  if (FSocket != nullptr) {
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[frame.size()]);
    std::memcpy(buffer.get(), frame.data(), frame.size());
    FSocket->Send(std::move(buffer), static_cast<int32_t>(frame.size()));
  }
  FBuffer.Reset();
  FDroppedBytes = 0;
  FRequestPending = true;
  FRequestMade = true;
  FRequestTick = FTicks.Now();
  const std::string host = FSocket != nullptr ? FSocket->RemoteHost() : std::string();
  DebugOutput(Format("get serverlist id=%d, ip=%s", gameId, host.c_str()));
}

void TDirectoryExchange::RefreshServerList() {
  const uint32_t now = FTicks.Now();
  if (now - FLastRefreshTick <= RefreshIntervalMs) return;
  FLastRefreshTick = now;
  FWindow.ShowRefreshLabel(false);
  int32_t gameId = 0;
  if (!ParseGameId(FInputs.gameId, gameId)) {
    // Nothing can be asked for; the link stays usable for a later try.
    LogError(Format("get serverlist not sent: _GMID \"%s\" is not a decimal number", FInputs.gameId.c_str()));
    FWindow.ShowRefreshLabel(true);
    return;
  }
  RequestServerList(gameId, GetServerList);
}

void TDirectoryExchange::TimerTick() {
  if (!FRequestPending || FLastRefreshTick == 0) return;
  if (FTicks.Now() - FLastRefreshTick <= RequestTimeoutMs) return;
  FLastRefreshTick = 0;
  FWindow.ShowRefreshLabel(true);
  FRequestPending = false;
}

void TDirectoryExchange::OnDirectoryData(uint32_t, uint16_t, int32_t length, const uint8_t* data) {
  HandDatagramOver(FHandOver, length, data);
}

void TDirectoryExchange::DirectoryDataArrived(const std::vector<uint8_t>& datagram) {
  if (datagram.empty()) return;
  // A reply belongs to the request in flight: one that comes without a
  // request, or after the request's time-out, is a stale or forged one.
  if (!FRequestMade || FTicks.Now() - FRequestTick > RequestTimeoutMs) {
    ++FStaleDatagrams;
    DebugOutput(Format("directory datagram of %d bytes dropped: no request in flight", static_cast<int>(datagram.size())));
    return;
  }
  const size_t taken = FBuffer.Append(datagram.data(), datagram.size());
  if (taken < datagram.size()) {
    if (FDroppedBytes == 0) DebugOutput(Format("directory buffer full, %d bytes dropped", static_cast<int>(datagram.size() - taken)));
    FDroppedBytes += datagram.size() - taken;
  }
  // A datagram of which nothing fitted adds nothing to scan.
  if (taken == 0) return;
  try {
    FBuffer.Scan([this](const TDirectoryFrame& frame) { HandleFrame(frame); });
  } catch (const EDirectoryReplyError& e) {
    LogError(e.what());
  }
}

void TDirectoryExchange::HandleFrame(const TDirectoryFrame& frame) {
  if (frame.messageId != ServerListReply) return;
  if (frame.flags == 0) {
    ApplyServerList(frame.payload);
    return;
  }
  std::string document;
  if (!InflateDirectoryPayload(frame.payload, MaxInflatedDocument, document))
    throw EDirectoryReplyError(Format("server list reply does not inflate (%d bytes)", static_cast<int>(frame.payload.size())));
  ApplyServerList(document);
}

void TDirectoryExchange::ApplyServerList(const std::string& document) {
  DebugOutput(document);
  FServerNames.clear();
  FWindow.SetCurrentServerText(std::u16string());
  bool loaded = false;
  try {
    loaded = FConfig.LoadFromText(document, FInputs.filter ? FInputs.filter() : TServerFilter());
  } catch (const std::exception& e) {
    // The records read before the error stay in TServerConfig; the panel
    // shows nothing of a broken document.
    LogError(std::string("server list not loaded: ") + e.what());
  }
  if (loaded) {
    for (const TServerList* list : {&FConfig.PriorityServers(), &FConfig.Servers()})
      for (const auto& record : *list) FServerNames.push_back({Utf16ToCp936(record->name), record});
    const TServerInfo* chosen = FConfig.FindById(FInputs.lastServer ? FInputs.lastServer() : 0);
    if (chosen != nullptr) {
      FWindow.SelectServer(FConfig.CopyRecord(*chosen));
      FWindow.SetLastServerText(chosen->name);
    }
  }
  FRequestPending = false;
  FWindow.ShowRefreshLabel(true);
}
