#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Md5.h"
#include "net/UdpTestPeer.h"
#include "net/cUdpSocket.h"
#include "platform/CodePage.h"
#include "servers/DirectoryExchange.h"
#include "servers/DirectoryService.h"
#include "support/TestSupport.h"

namespace {

std::vector<uint8_t> Request(uint32_t gameId) { return BuildServerListRequest(gameId, GetServerList); }

TDatagrams Ask(TDirectoryService& service, const std::vector<uint8_t>& datagram, uint32_t source = 1, uint32_t now = 0) {
  TDatagrams copies;
  for (const auto* reply : service.Answer(datagram.data(), datagram.size(), source, now)) copies.push_back(*reply);
  return copies;
}

// The frame a reply's datagrams carry, put back together.
TDirectoryFrame Reassemble(const TDatagrams& datagrams) {
  std::vector<uint8_t> bytes;
  for (const auto& d : datagrams) bytes.insert(bytes.end(), d.begin(), d.end());
  TDirectoryFrame whole;
  ScanDirectoryFrames(bytes.data(), bytes.size(), [&](const TDirectoryFrame& frame) { whole = frame; });
  return whole;
}

class TRecordingWindow : public IDirectoryWindow {
public:
  void ShowRefreshLabel(bool visible) override { refreshVisible = visible; }
  void SetCurrentServerText(const std::u16string&) override {}
  void SelectServer(const TServerInfo& record) override { selectedId = record.id; }
  void SetLastServerText(const std::u16string&) override {}
  bool refreshVisible = true;
  int selectedId = 0;
};

// The launcher's side wired as the main window wires it, against the
// directory service peer of this build.
class DirectoryServicePeer : public ::testing::Test {
protected:
  DirectoryServicePeer() : config(folder.Path()), exchange(config, window, ticks, queue, &socket, LauncherDirectoryInputs(folder.Path(), TLauncherConfig())) {
    SetupDirectorySocket(socket, {}, "127.0.0.1", exchange, static_cast<uint16_t>(TestPortBase() + 20));
  }
  // Runs the user-interface side until the reply is applied.
  bool Fetch(int32_t gameId) {
    if (!WaitUntil([&] { return socket.IsOpen(); })) return false;
    exchange.RequestServerList(gameId, GetServerList);
    return WaitUntil([&] {
      std::vector<uint8_t> datagram;
      while (queue.Take(datagram)) exchange.DirectoryDataArrived(datagram);
      return !exchange.RequestPending();
    }, 5000);
  }

  TTempFolder folder;
  TServerConfig config;
  TRecordingWindow window;
  TSystemTicks ticks;
  TDatagramQueue queue;
  TUDPClientSocket socket;
  TDirectoryExchange exchange;
};

}  // namespace

TEST(DirectoryService, AnswersKnownGamesAndNothingElse) {
  TDirectoryService service;
  std::string error;
  ASSERT_TRUE(service.LoadText("{\"12\":{\"server\":[{\"id\":1,\"name\":\"\xE4\xB8\x80\"}]},\"7\":\"raw text\"}", error))
      << error;
  const TDirectoryFrame reply = Reassemble(Ask(service, Request(12)));
  EXPECT_EQ(reply.messageId, ServerListReply);
  EXPECT_EQ(reply.flags, 0);
  EXPECT_EQ(reply.payload, Utf8ToCp936("{\"server\":[{\"id\":1,\"name\":\"\xE4\xB8\x80\"}]}"));
  EXPECT_EQ(Reassemble(Ask(service, Request(7))).payload, "raw text");
  // Unknown games, other messages, short and garbage datagrams: no answer.
  EXPECT_TRUE(Ask(service, Request(13)).empty());
  EXPECT_TRUE(Ask(service, BuildServerListRequest(12, 2)).empty());
  EXPECT_TRUE(Ask(service, BuildDirectoryFrame(GetServerList, 0, "1234")).empty());
  EXPECT_TRUE(Ask(service, {0xAA, 0x55, 1, 0}).empty());
  EXPECT_TRUE(service.Answer(nullptr, 0, 1, 0).empty());
  EXPECT_EQ(service.Counters().unknownGame, 1u);
  // Two requests packed into one datagram get two replies.
  std::vector<uint8_t> two = Request(12);
  const auto again = Request(7);
  two.insert(two.end(), again.begin(), again.end());
  EXPECT_EQ(Ask(service, two).size(), 2u);
}

TEST(DirectoryService, LargeDocumentsAreCompressedAndSplit) {
  std::string names;
  for (int i = 0; i < 1500; ++i) names += std::string(i ? "," : "") + "{\"name\":\"" + MD5OfMemory(std::to_string(i)) + "\"}";
  const std::string document = "{\"server\":[" + names + "]}";
  TDirectoryServiceOptions options;
  TDirectoryService service(options);
  std::string error;
  ASSERT_TRUE(service.LoadText("{\"5\":" + document + "}", error)) << error;
  const TDatagrams reply = Ask(service, Request(5));
  ASSERT_GT(reply.size(), 1u);
  for (const auto& datagram : reply) EXPECT_LE(datagram.size(), MaxDirectoryDatagram);
  const TDirectoryFrame frame = Reassemble(reply);
  EXPECT_NE(frame.flags, 0);
  std::string inflated;
  ASSERT_TRUE(InflateDirectoryPayload(frame.payload, MaxInflatedDocument, inflated));
  EXPECT_EQ(inflated, document);
  // Raised threshold: the same document goes plain, and too large for a frame.
  options.compressAbove = 1 << 20;
  TDirectoryService plain(options);
  EXPECT_FALSE(plain.LoadText("{\"5\":" + document + "}", error));
  EXPECT_NE(error.find("too large"), std::string::npos);
}

TEST(DirectoryService, BadServersFilesKeepThePreviousDocuments) {
  TDirectoryService service;
  std::string error;
  ASSERT_TRUE(service.LoadText("{\"1\":{\"server\":[]}}", error));
  for (const char* bad : {"", "[1]", "{\"x1\":{}}", "{\"1\":{}", "{\"99999999999\":{}}"}) {
    EXPECT_FALSE(service.LoadText(bad, error)) << bad;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(service.GameCount(), 1u) << bad;
  }
}

TEST(DirectoryService, ReloadsTheFileWhenItChanges) {
  TTempFolder folder;
  const std::string path = folder / "servers.json";
  WriteWholeFile(path, "{\"1\":\"one\"}");
  TDirectoryService service;
  std::string error;
  bool reloaded = false;
  ASSERT_TRUE(service.LoadFile(path, error));
  EXPECT_TRUE(service.ReloadIfChanged(path, error, reloaded));
  EXPECT_FALSE(reloaded);
  WriteWholeFile(path, "{\"1\":\"two\",\"2\":\"x\"}");
  EXPECT_TRUE(service.ReloadIfChanged(path, error, reloaded));
  EXPECT_TRUE(reloaded);
  EXPECT_EQ(Reassemble(Ask(service, Request(1))).payload, "two");
  WriteWholeFile(path, "{broken");
  EXPECT_FALSE(service.ReloadIfChanged(path, error, reloaded));
  EXPECT_EQ(service.GameCount(), 2u);
  EXPECT_TRUE(service.ReloadIfChanged(path, error, reloaded));  // unchanged since: not tried again
  EXPECT_FALSE(service.LoadFile(folder / "missing.json", error));
}

TEST(DirectoryService, LimitsRequestsPerSourceAddress) {
  TDirectoryServiceOptions options;
  options.ratePerSecond = 10;
  options.burst = 5;
  options.maxSources = 3;
  TDirectoryService service(options);
  std::string error;
  ASSERT_TRUE(service.LoadText("{\"1\":\"doc\"}", error));
  int answered = 0;
  for (int i = 0; i < 20; ++i) answered += !Ask(service, Request(1), 42, 1000).empty();
  EXPECT_EQ(answered, 5);  // the burst
  EXPECT_FALSE(Ask(service, Request(1), 7, 1000).empty());  // another source is not limited
  EXPECT_TRUE(Ask(service, Request(1), 42, 1050).empty());
  EXPECT_FALSE(Ask(service, Request(1), 42, 1100).empty());  // 100 ms: one more token
  // More sources than remembered: the table starts over instead of growing.
  for (uint32_t source = 100; source < 200; ++source) EXPECT_FALSE(Ask(service, Request(1), source, 2000).empty());
  EXPECT_EQ(service.Counters().limited, 16u);
}

TEST_F(DirectoryServicePeer, SmallDocumentPreselectsAndHidesTestServers) {
  ASSERT_TRUE(Fetch(12));
  ASSERT_EQ(exchange.ServerNames().size(), 3u);
  EXPECT_EQ(exchange.ServerNames()[0].name, Utf8ToCp936("\xE6\x8E\xA8\xE8\x8D\x90\xE4\xB8\x80\xE5\x8C\xBA"));  // 推荐一区
  EXPECT_EQ(exchange.ServerNames()[1].record->id, 2);  // opentime 30 before 20
  EXPECT_EQ(window.selectedId, 1);                     // no last server: the default one
  EXPECT_TRUE(window.refreshVisible);
}

TEST_F(DirectoryServicePeer, CompressedReplyAcrossDatagrams) {
  ASSERT_TRUE(Fetch(14));
  ASSERT_EQ(config.Servers().size(), 1000u);
  EXPECT_GT(exchange.ReceivedTotal(), 16384);
  const TServerInfo* record = config.FindById(150);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->name, Cp936ToUtf16("srv-" + MD5OfMemory(std::string("name-150"))));
  EXPECT_EQ(config.Servers()[0]->id, 1000);  // newest first
}

TEST_F(DirectoryServicePeer, MistypedDocumentLeavesTheExchangeWorking) {
  ASSERT_TRUE(Fetch(13));
  EXPECT_EQ(config.Servers().size(), 2u);
  EXPECT_TRUE(exchange.ServerNames().empty());
  EXPECT_TRUE(window.refreshVisible);
  ASSERT_TRUE(Fetch(12));  // the socket's worker and the exchange go on
  EXPECT_EQ(exchange.ServerNames().size(), 3u);
  EXPECT_EQ(socket.FatalError(), "");
}

TEST_F(DirectoryServicePeer, ServiceLimitsAFloodingSource) {
  // From a loopback address of its own, so the other tests keep their allowance.
  TUdpPeer flooder(0, "127.0.0.2");
  ASSERT_TRUE(flooder.Bound());
  int answered = 0;
  for (int i = 0; i < 120; ++i) flooder.SendTo(Request(12), static_cast<uint16_t>(TestPortBase() + 20));
  while (!flooder.Receive(300).empty()) ++answered;
  EXPECT_GT(answered, 0);
  EXPECT_LT(answered, 120);
}
