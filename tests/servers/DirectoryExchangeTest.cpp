#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Format.h"
#include "net/UdpTestPeer.h"
#include "net/cUdpSocket.h"
#include "package/LauncherSettings.h"
#include "servers/DirectoryExchange.h"
#include "support/TestSupport.h"

namespace {

// The window's side as the exchange sees it, recorded.
class TRecordingWindow : public IDirectoryWindow {
public:
  void ShowRefreshLabel(bool visible) override { refreshVisible = visible; }
  void SetCurrentServerText(const std::u16string& text) override {
    currentText = text;
    ++applied;
  }
  void SelectServer(const TServerInfo& record) override {
    selected.push_back(record);
    currentText = record.name;
  }
  void SetLastServerText(const std::u16string& text) override { lastText = text; }

  bool refreshVisible = true;
  int applied = 0;
  std::u16string currentText = u"before";
  std::u16string lastText;
  std::vector<TServerInfo> selected;
};

class TManualTicks : public ITickSource {
public:
  uint32_t Now() override { return now; }
  uint32_t now = 100000;
};

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string Document(int servers, size_t padTo = 0) {
  std::string text = "{\"server\":[";
  for (int i = 1; i <= servers; ++i) {
    if (i > 1) text += ",";
    text += Format("{\"id\":%d,\"name\":\"n%d\",\"opentime\":%d}", i, i, i);
  }
  text += "]";
  if (text.size() + 12 < padTo) text += ",\"pad\":\"" + std::string(padTo - text.size() - 10, 'x') + "\"";
  return text + "}";
}

class DirectoryExchange : public ::testing::Test {
protected:
  DirectoryExchange() : config(folder.Path()), exchange(config, window, ticks, queue, nullptr, Inputs("12")) {}
  // The game id as given, "lastserver" and the filter read from the folder.
  TDirectoryInputs Inputs(const std::string& gameId) {
    TDirectoryInputs inputs = LauncherDirectoryInputs(folder.Path(), TLauncherConfig());
    inputs.gameId = gameId;
    return inputs;
  }
  void Feed(const std::vector<uint8_t>& datagram) { exchange.DirectoryDataArrived(datagram); }

  TTempFolder folder;
  TServerConfig config;
  TRecordingWindow window;
  TManualTicks ticks;
  TDatagramQueue queue;
  TDirectoryExchange exchange;
};

}  // namespace

TEST(DirectoryFrame, RequestForGameTwelveIsSixteenBytes) {
  const std::vector<uint8_t> expected = {0xAA, 0x55, 0x01, 0x00, 0x00, 0x00, 0x08, 0x00,
                                         0x0C, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
  EXPECT_EQ(BuildServerListRequest(12, GetServerList), expected);
  int32_t gameId = 0;
  EXPECT_TRUE(ParseGameId("12", gameId));
  EXPECT_EQ(gameId, 12);
  EXPECT_TRUE(ParseGameId("-2147483648", gameId));
  EXPECT_EQ(gameId, INT32_MIN);
  for (const char* bad : {"", "-", "12a", " 12", "0x0C", "$C", "2147483648", "99999999999"})
    EXPECT_FALSE(ParseGameId(bad, gameId)) << bad;
}

TEST(DirectoryFrame, InflateRefusesBrokenAndOversizedStreams) {
  const std::string text(100000, 'a');
  const std::string packed = DeflateDirectoryPayload(text);
  std::string out;
  EXPECT_TRUE(InflateDirectoryPayload(packed, text.size(), out));
  EXPECT_EQ(out, text);
  EXPECT_FALSE(InflateDirectoryPayload(packed, text.size() - 1, out));  // would grow beyond the cap
  EXPECT_FALSE(InflateDirectoryPayload(packed.substr(0, packed.size() / 2), text.size(), out));
  EXPECT_FALSE(InflateDirectoryPayload("not zlib at all", text.size(), out));
  EXPECT_TRUE(out.empty());
}

TEST_F(DirectoryExchange, ReplySpanningTwoDatagramsIsAppliedOnceComplete) {
  exchange.RequestServerList(12, GetServerList);
  const std::string document = Document(3, 20000);
  ASSERT_EQ(document.size(), 20000u);
  const auto datagrams = SplitIntoDatagrams(BuildDirectoryFrame(ServerListReply, 0, document), MaxDirectoryDatagram);
  ASSERT_EQ(datagrams.size(), 2u);
  EXPECT_EQ(datagrams[0].size(), 16384u);
  EXPECT_EQ(datagrams[1].size(), 3624u);
  Feed(datagrams[0]);
  EXPECT_EQ(window.applied, 0);
  EXPECT_TRUE(exchange.RequestPending());
  Feed(datagrams[1]);
  EXPECT_EQ(window.applied, 1);
  EXPECT_EQ(exchange.ReceivedTotal(), 20008);
  EXPECT_FALSE(exchange.RequestPending());
  EXPECT_EQ(exchange.ServerNames().size(), 3u);
}

TEST_F(DirectoryExchange, GarbageAndOtherFramesAreSkipped) {
  exchange.RequestServerList(12, GetServerList);
  // Garbage, a lone half magic, a frame of another id, then the reply.
  std::vector<uint8_t> datagram = Bytes("garbage\xAA\x01");
  datagram = Concat(datagram, BuildDirectoryFrame(0x82, 0, Document(5)));
  datagram = Concat(datagram, BuildDirectoryFrame(ServerListReply, 0, Document(2)));
  Feed(datagram);
  EXPECT_EQ(window.applied, 1);
  EXPECT_EQ(exchange.ServerNames().size(), 2u);
}

TEST_F(DirectoryExchange, CompressedAndPlainPayloads) {
  exchange.RequestServerList(12, GetServerList);
  Feed(BuildDirectoryFrame(ServerListReply, 1, DeflateDirectoryPayload(Document(4))));
  EXPECT_EQ(exchange.ServerNames().size(), 4u);
  exchange.RequestServerList(12, GetServerList);
  Feed(BuildDirectoryFrame(ServerListReply, 0, Document(2)));
  EXPECT_EQ(exchange.ServerNames().size(), 2u);
  // A payload that does not inflate abandons its datagram; nothing is applied.
  exchange.RequestServerList(12, GetServerList);
  TLogCapture log;
  Feed(Concat(BuildDirectoryFrame(ServerListReply, 1, "broken"), BuildDirectoryFrame(ServerListReply, 0, Document(1))));
  EXPECT_EQ(window.applied, 2);
  EXPECT_TRUE(exchange.RequestPending());
  EXPECT_TRUE(log.Contains("server list reply does not inflate (6 bytes)"));
}

TEST_F(DirectoryExchange, RepeatedDatagramAppliesEveryFrameAgainInOrder) {
  exchange.RequestServerList(12, GetServerList);
  const auto datagram = BuildDirectoryFrame(ServerListReply, 0, Document(2));
  Feed(datagram);
  Feed(datagram);
  EXPECT_EQ(window.applied, 3);  // once, then both frames again
  Feed(BuildDirectoryFrame(ServerListReply, 0, Document(6)));
  EXPECT_EQ(window.applied, 6);
  EXPECT_EQ(exchange.ServerNames().size(), 6u);  // the last frame wins
}

TEST_F(DirectoryExchange, FloodBeyondTheBufferIsDropped) {
  exchange.RequestServerList(12, GetServerList);
  const std::vector<uint8_t> garbage(16384, 0x55);
  for (int i = 0; i < 70; ++i) Feed(garbage);
  EXPECT_EQ(exchange.ReceivedTotal(), 1048576);
  EXPECT_EQ(exchange.DroppedBytes(), 70u * 16384u - 1048576u);
  // A reply arriving now has no place; the next request makes room again.
  Feed(BuildDirectoryFrame(ServerListReply, 0, Document(1)));
  EXPECT_EQ(window.applied, 0);
  exchange.RequestServerList(12, GetServerList);
  EXPECT_EQ(exchange.ReceivedTotal(), 0);
  Feed(BuildDirectoryFrame(ServerListReply, 0, Document(1)));
  EXPECT_EQ(window.applied, 1);
}

TEST_F(DirectoryExchange, RefreshIsThrottledAndTimesOut) {
  TLogCapture log;
  exchange.RefreshServerList();
  EXPECT_TRUE(exchange.RequestPending());
  EXPECT_FALSE(window.refreshVisible);
  EXPECT_EQ(exchange.LastRefreshTick(), 100000u);
  EXPECT_TRUE(log.Contains("get serverlist id=12, ip="));
  ticks.now += 5000;
  exchange.RefreshServerList();  // within 5,000 ms: nothing
  EXPECT_EQ(exchange.LastRefreshTick(), 100000u);
  exchange.TimerTick();
  EXPECT_TRUE(exchange.RequestPending());
  ticks.now += 1;
  exchange.TimerTick();
  EXPECT_FALSE(exchange.RequestPending());
  EXPECT_TRUE(window.refreshVisible);
  EXPECT_EQ(exchange.LastRefreshTick(), 0u);
  exchange.RefreshServerList();
  EXPECT_EQ(exchange.LastRefreshTick(), 105001u);
  // A reply in time: the time-out has nothing left to do.
  Feed(BuildDirectoryFrame(ServerListReply, 0, Document(1)));
  ticks.now += 60000;
  window.refreshVisible = false;
  exchange.TimerTick();
  EXPECT_FALSE(window.refreshVisible);
}

TEST_F(DirectoryExchange, GameIdThatIsNotANumberSendsNothingAndKeepsTheLink) {
  for (const char* bad : {"", "12a", "0x0C"}) {
    TDirectoryExchange exchange(config, window, ticks, queue, nullptr, Inputs(bad));
    TLogCapture log;
    ticks.now += 10000;
    exchange.RefreshServerList();
    EXPECT_FALSE(exchange.RequestPending()) << bad;
    EXPECT_TRUE(window.refreshVisible) << bad;
    EXPECT_TRUE(log.Contains(std::string("get serverlist not sent: _GMID \"") + bad + "\" is not a decimal number"));
  }
}

TEST_F(DirectoryExchange, ApplyPreselectsTheLastServer) {
  WriteLastServer(folder.Path(), 3);
  exchange.ApplyServerList("{\"server\":[{\"id\":1,\"name\":\"p\",\"recommend\":2},{\"id\":2,\"name\":\"a\",\"opentime\":1},"
                           "{\"id\":3,\"name\":\"b\",\"opentime\":2,\"member\":\"m\"}]}");
  ASSERT_EQ(exchange.ServerNames().size(), 3u);
  EXPECT_EQ(exchange.ServerNames()[0].name, "p");  // priority records first
  EXPECT_EQ(exchange.ServerNames()[1].name, "b");
  EXPECT_EQ(exchange.ServerNames()[2].name, "a");
  ASSERT_EQ(window.selected.size(), 1u);
  EXPECT_EQ(window.selected[0].id, 3);
  EXPECT_EQ(window.selected[0].member, "m");
  EXPECT_EQ(window.lastText, u"b");
  // An unknown last server falls back on the first priority record.
  WriteLastServer(folder.Path(), 77);
  exchange.ApplyServerList("{\"server\":[{\"id\":1,\"name\":\"p\",\"recommend\":2},{\"id\":2,\"name\":\"a\"}]}");
  EXPECT_EQ(window.selected.back().id, 1);
  EXPECT_EQ(window.lastText, u"p");
}

TEST_F(DirectoryExchange, DocumentThatDoesNotLoadEmptiesThePanel) {
  exchange.ApplyServerList(Document(2));
  window.selected.clear();
  exchange.RequestServerList(12, GetServerList);
  exchange.ApplyServerList("not json");
  EXPECT_TRUE(exchange.ServerNames().empty());
  EXPECT_EQ(window.currentText, u"");
  EXPECT_TRUE(window.selected.empty());
  EXPECT_FALSE(exchange.RequestPending());
  EXPECT_TRUE(window.refreshVisible);
}

TEST_F(DirectoryExchange, MistypedDocumentIsContained) {
  exchange.RequestServerList(12, GetServerList);
  window.refreshVisible = false;
  TLogCapture log;
  Feed(BuildDirectoryFrame(ServerListReply, 0, "{\"server\":[{\"id\":1},{\"id\":2},{\"id\":\"x\"}]}"));
  EXPECT_EQ(config.Servers().size(), 2u);  // the records read before the error
  EXPECT_TRUE(exchange.ServerNames().empty());
  EXPECT_FALSE(exchange.RequestPending());
  EXPECT_TRUE(window.refreshVisible);
  EXPECT_TRUE(log.Contains("server list not loaded: server list: \"id\" is not a number"));
}

TEST_F(DirectoryExchange, WorkerDataReachesTheExchangeOnlyThroughTheQueue) {
  exchange.RequestServerList(12, GetServerList);
  const auto frame = BuildDirectoryFrame(ServerListReply, 0, Document(2));
  exchange.OnDirectoryData(0, 0, static_cast<int32_t>(frame.size()), frame.data());
  exchange.OnDirectoryData(0, 0, 0, frame.data());
  EXPECT_EQ(window.applied, 0);
  ASSERT_EQ(queue.Count(), 1u);
  std::vector<uint8_t> datagram;
  while (queue.Take(datagram)) Feed(datagram);
  EXPECT_EQ(window.applied, 1);
  // The queue has a cap; what comes beyond it is counted and dropped.
  for (size_t i = 0; i < TDatagramQueue::MaxDatagrams + 3; ++i) queue.HandOver({1});
  EXPECT_EQ(queue.Count(), TDatagramQueue::MaxDatagrams);
  EXPECT_EQ(queue.Dropped(), 3u);
}

TEST_F(DirectoryExchange, SetupChoosesAResolvedAddressOrTheFixedOne) {
  TUDPClientSocket socket;
  TLogCapture log;
  SetupDirectorySocket(socket, {}, "127.0.0.1", exchange, static_cast<uint16_t>(TestPortBase() + 33));
  EXPECT_EQ(socket.RemoteHost(), "127.0.0.1");
  EXPECT_TRUE(log.Contains("init UDP ip=127.0.0.1"));
  TUDPClientSocket second;
  SetupDirectorySocket(second, {"127.0.0.2", "127.0.0.3"}, "127.0.0.1", exchange);
  EXPECT_TRUE(second.RemoteHost() == "127.0.0.2" || second.RemoteHost() == "127.0.0.3");
  EXPECT_TRUE(log.Contains("IPlist id=1-2, ip=127.0.0.3"));
  EXPECT_TRUE(log.Contains("IPlist id=0-2, ip=127.0.0.2"));
  EXPECT_EQ(second.RemotePort(), DirectoryPort);
}

TEST_F(DirectoryExchange, RequestTravelsAsOneSixteenByteDatagram) {
  TUdpPeer service(static_cast<uint16_t>(TestPortBase() + 34));
  ASSERT_TRUE(service.Bound());
  TUDPClientSocket socket;
  TDirectoryExchange live(config, window, ticks, queue, &socket, Inputs("12"));
  SetupDirectorySocket(socket, {}, "127.0.0.1", live, service.Port());
  ASSERT_TRUE(WaitUntil([&] { return socket.IsOpen(); }));
  TLogCapture log;
  live.RefreshServerList();
  EXPECT_EQ(service.Receive(3000), BuildServerListRequest(12, 1));
  EXPECT_TRUE(log.Contains("get serverlist id=12, ip=127.0.0.1"));
}

// Over real sockets: the directory socket hands on only datagrams of the
// address and port its requests go to, and the exchange takes a reply only
// while its request is in flight (within the time-out).
TEST_F(DirectoryExchange, RepliesComeOnlyFromTheServiceForTheRequestInFlight) {
  TUdpPeer service(static_cast<uint16_t>(TestPortBase() + 35));
  TUdpPeer spoofer;
  ASSERT_TRUE(service.Bound() && spoofer.Bound());
  TUDPClientSocket socket;
  TDirectoryExchange live(config, window, ticks, queue, &socket, Inputs("12"));
  SetupDirectorySocket(socket, {}, "127.0.0.1", live, service.Port());
  ASSERT_TRUE(WaitUntil([&] { return socket.IsOpen(); }));
  const struct {
    const char* what;
    bool fromService;
    uint32_t lateMs;  // how long after the request the reply comes
    bool applied;
    const char* logged;
  } cases[] = {
      {"a datagram from another port", false, 0, false, "dropped: the requests go to 127.0.0.1:"},
      {"a reply after the time-out", true, RequestTimeoutMs + 1, false, "dropped: no request in flight"},
      {"the reply in time", true, RequestTimeoutMs, true, nullptr},
  };
  for (const auto& c : cases) {
    ticks.now += 60000;
    live.RefreshServerList();
    TSocketAddress client;
    ASSERT_EQ(service.Receive(5000, &client), BuildServerListRequest(12, GetServerList)) << c.what;
    ticks.now += c.lateMs;
    live.TimerTick();
    TLogCapture log;
    const int before = window.applied;
    const size_t stale = live.StaleDatagrams();
    ASSERT_TRUE((c.fromService ? service : spoofer).SendTo(BuildDirectoryFrame(ServerListReply, 0, Document(3)), client.Port))
        << c.what;
    if (c.fromService) {
      ASSERT_TRUE(WaitUntil([&] { return queue.Count() == 1; }, 10000)) << c.what;
      std::vector<uint8_t> datagram;
      while (queue.Take(datagram)) live.DirectoryDataArrived(datagram);
      EXPECT_EQ(live.StaleDatagrams(), stale + (c.applied ? 0 : 1)) << c.what;
    } else {
      ASSERT_TRUE(WaitUntil([&] { return log.CountContaining(c.logged) == 1; }, 10000)) << c.what;
      EXPECT_EQ(queue.Count(), 0u) << c.what;
    }
    if (c.logged) EXPECT_EQ(log.CountContaining(c.logged), 1) << c.what;
    EXPECT_EQ(window.applied, before + (c.applied ? 1 : 0)) << c.what;
    EXPECT_EQ(live.ServerNames().size(), c.applied ? 3u : 0u) << c.what;
  }
}
