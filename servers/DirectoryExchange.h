// The exchange with the directory service as the main window runs it: the
// request, the throttled refresh, the time-out, the collection of reply
// datagrams and the application of the server list. Everything here runs on
// the user-interface thread except OnDirectoryData, which runs on the
// socket's worker and only hands the datagram over.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "package/LauncherConfig.h"
#include "servers/DirectoryFrame.h"
#include "servers/uConfig.h"

class TUDPClientSocket;

constexpr uint32_t RefreshIntervalMs = 5000;
constexpr uint32_t RequestTimeoutMs = 5000;

// What the exchange changes in the window; called on the user-interface thread.
class IDirectoryWindow {
public:
  virtual ~IDirectoryWindow() = default;
  // LGLabel1, the "刷新区服列表" link.
  virtual void ShowRefreshLabel(bool visible) = 0;
  // The text of lbCurSelSrv.
  virtual void SetCurrentServerText(const std::u16string& text) = 0;
  // Makes the record the current server (the window keeps a copy).
  virtual void SelectServer(const TServerInfo& record) = 0;
  // The text of lbLstSelSrv.
  virtual void SetLastServerText(const std::u16string& text) = 0;
};

// The millisecond tick count the throttle and the time-out read.
class ITickSource {
public:
  virtual ~ITickSource() = default;
  virtual uint32_t Now() = 0;
};

// The system's tick count.
class TSystemTicks : public ITickSource {
public:
  uint32_t Now() override;
};

// Carries a received datagram from the socket's worker to the user-interface
// thread. HandOver runs on the worker and must return at once.
class IDatagramHandOver {
public:
  virtual ~IDatagramHandOver() = default;
  virtual void HandOver(std::vector<uint8_t> datagram) = 0;
};

// A bounded queue of datagrams: the worker puts, the user-interface thread
// takes (the window after a posted wake-up message, tests directly).
class TDatagramQueue : public IDatagramHandOver {
public:
  static constexpr size_t MaxDatagrams = 512;
  // `notify` runs on the worker after each datagram queued (the window posts
  // itself a message there); may be empty.
  explicit TDatagramQueue(std::function<void()> notify = {});
  void HandOver(std::vector<uint8_t> datagram) override;
  bool Take(std::vector<uint8_t>& datagram);
  size_t Count() const;
  size_t Dropped() const;

private:
  std::function<void()> FNotify;
  mutable std::mutex FLock;
  std::deque<std::vector<uint8_t>> FDatagrams;
  size_t FDropped = 0;
};

struct TServerName {
  std::string name;  // the record's name in code page 936
  // The echo worker writes rtt and echoPending under TServerConfig's lock:
  // whole records are read through TServerConfig::CopyRecord.
  std::shared_ptr<TServerInfo> record;
};

// What the exchange takes from the launcher's settings, handed in by its
// owner: the game id text (_GMID), the "lastserver" value and the record
// filter, the last two read again at each reply.
struct TDirectoryInputs {
  std::string gameId;
  std::function<int32_t()> lastServer;
  std::function<TServerFilter()> filter;
};
// The launcher's own inputs: its configuration's _GMID and _OnlyAwake, and
// launcher.ini and "showtest.txt" in `launcherFolder`.
TDirectoryInputs LauncherDirectoryInputs(const std::string& launcherFolder, const TLauncherConfig& config);

class TDirectoryExchange {
public:
  // `socket` may be null (nothing is sent then).
  TDirectoryExchange(TServerConfig& config, IDirectoryWindow& window, ITickSource& ticks,
                     IDatagramHandOver& handOver, TUDPClientSocket* socket, TDirectoryInputs inputs);

  // Sends the 16-byte request and starts collecting a new reply.
  void RequestServerList(int32_t gameId, uint16_t messageId);
  // A request unless one was made within the last 5,000 ms.
  void RefreshServerList();
  // Timer1, every 1,000 ms: gives up on a request older than 5,000 ms.
  void TimerTick();
  // OnReceive of the directory socket (worker thread): copies the datagram
  // and hands it over.
  void OnDirectoryData(uint32_t peerAddress, uint16_t peerPort, int32_t length, const uint8_t* data);
  // The user-interface side of OnDirectoryData: collects and applies frames.
  void DirectoryDataArrived(const std::vector<uint8_t>& datagram);
  // Loads a document and updates the server panel.
  void ApplyServerList(const std::string& document);

  const std::vector<TServerName>& ServerNames() const { return FServerNames; }
  bool RequestPending() const { return FRequestPending; }
  uint32_t LastRefreshTick() const { return FLastRefreshTick; }
  int32_t ReceivedTotal() const { return FBuffer.Total(); }
  // Bytes that arrived after DirectoryBuffer was full, since the last request.
  size_t DroppedBytes() const { return FDroppedBytes; }
  // Datagrams that came while no request was in flight (none made yet, or
  // the last one older than RequestTimeoutMs).
  size_t StaleDatagrams() const { return FStaleDatagrams; }

private:
  void HandleFrame(const TDirectoryFrame& frame);

  TServerConfig& FConfig;
  IDirectoryWindow& FWindow;
  ITickSource& FTicks;
  IDatagramHandOver& FHandOver;
  TUDPClientSocket* FSocket;
  TDirectoryInputs FInputs;
  TDirectoryBuffer FBuffer;  // DirectoryBuffer
  size_t FDroppedBytes = 0;
  size_t FStaleDatagrams = 0;
  bool FRequestPending = false;
  bool FRequestMade = false;
  uint32_t FRequestTick = 0;
  uint32_t FLastRefreshTick = 0;
  std::vector<TServerName> FServerNames;
};

// The directory service's host name and the address used when the name
// yields none (build constants).
std::string DirectoryHostName();
std::string DirectoryFixedAddress();

// Where the directory's replies may come from: the address and port the
// requests go to (network byte order, as the socket reports senders).
struct TReplySource {
  uint32_t address = 0;  // 0: the host is no IPv4 address; nothing is accepted
  uint16_t port = 0;
  bool Accepts(uint32_t peerAddress, uint16_t peerPort) const;
};
TReplySource ReplySourceOf(const std::string& host, uint16_t port);

// Aims the directory socket: at one of `resolved` (the addresses of the
// directory host name, chosen uniformly) or, when there are none, at
// `fixedAddress`; then opens it with the exchange as its receiver, which
// gets only the datagrams of that address and port (others are dropped and
// logged). Writes the "IPlist" and "init UDP" debug lines.
void SetupDirectorySocket(TUDPClientSocket& socket, const std::vector<std::string>& resolved,
                          const std::string& fixedAddress, TDirectoryExchange& exchange,
                          uint16_t port = DirectoryPort);
// The same with the datagrams going straight to `handOver`, as the exchange's
// OnDirectoryData hands them: the main window opens its socket before the
// server configuration, and with it the exchange, exists.
void SetupDirectorySocket(TUDPClientSocket& socket, const std::vector<std::string>& resolved,
                          const std::string& fixedAddress, IDatagramHandOver& handOver,
                          uint16_t port = DirectoryPort);

// `_GMID` read as a decimal integer (an optional sign and digits, within 32
// bits); false for anything else.
bool ParseGameId(const std::string& text, int32_t& gameId);
