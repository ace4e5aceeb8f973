#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/UdpTestPeer.h"
#include "net/uUDPEcho.h"
#include "platform/MsCounter.h"
#include "servers/uConfig.h"
#include "support/TestSupport.h"

namespace {

struct TEcho {
  std::string address;
  int32_t rtt;
  int32_t key;
};

// Collects what an echo service reports.
class TEchoLog {
public:
  explicit TEchoLog(TUDPEchoServer& echo) {
    echo.SetOnEcho([this](const std::string& address, int32_t rtt, int32_t key) {
      std::lock_guard<std::mutex> guard(FLock);
      FEchoes.push_back({address, rtt, key});
    });
  }
  std::vector<TEcho> Echoes() {
    std::lock_guard<std::mutex> guard(FLock);
    return FEchoes;
  }
  bool WaitFor(size_t count) { return WaitUntil([&] { return Echoes().size() >= count; }); }

private:
  std::mutex FLock;
  std::vector<TEcho> FEchoes;
};

std::vector<uint8_t> Probe(uint32_t sendTime, uint32_t key) {
  std::vector<uint8_t> probe(EchoProbeSize);
  BuildEchoProbe(sendTime, key, probe.data());
  return probe;
}

std::string RecordsAt127(int ordinary, int priority) {
  std::string text = "{\"server\":[";
  for (int i = 0; i < ordinary + priority; ++i)
    text += std::string(i > 0 ? "," : "") + "{\"id\":" + std::to_string(i + 1) + ",\"ip\":\"127.0.0.1\",\"opentime\":" +
            std::to_string(100 - i) + ",\"recommend\":" + (i < ordinary ? "0" : "2") + "}";
  return text + "]}";
}

int32_t RttOf(TServerConfig& config, const TServerInfo& record) { return config.CopyRecord(record).rtt; }

}  // namespace

TEST(uUDPEcho, ProbesBecomeRoundTripTimes) {
  TUDPEchoServer echo(static_cast<uint16_t>(TestPortBase() + 31));
  ASSERT_TRUE(WaitUntil([&] { return echo.IsOpen(); }));
  EXPECT_EQ(echo.Port(), TestPortBase() + 31);
  TEchoLog log(echo);
  TUdpPeer peer;
  std::vector<uint8_t> nine = Probe(MsCounter(), 1);
  nine.push_back(0);
  ASSERT_TRUE(peer.SendTo(nine, echo.Port()));       // 9 bytes: ignored
  ASSERT_TRUE(peer.SendTo({1, 2, 3}, echo.Port()));  // ignored
  ASSERT_TRUE(peer.SendTo(Probe(MsCounter() - 50, 0x8002), echo.Port()));
  ASSERT_TRUE(log.WaitFor(1));
  SleepMs(50);
  const auto echoes = log.Echoes();
  ASSERT_EQ(echoes.size(), 1u);
  EXPECT_EQ(echoes[0].address, "127.0.0.1");
  EXPECT_EQ(echoes[0].key, 0x8002);
  EXPECT_GE(echoes[0].rtt, 50);
  EXPECT_LT(echoes[0].rtt, 50 + 500);
}

TEST(uUDPEcho, RoundTripAcrossTheCounterWrapAround) {
  TUDPEchoServer echo(0);
  ASSERT_TRUE(WaitUntil([&] { return echo.IsOpen(); }));
  EXPECT_NE(echo.Port(), 0);  // the port the system chose
  TEchoLog log(echo);
  AdvanceMsCounter(0u - MsCounter() - 20);  // 20 ms before 2^32
  const uint32_t sent = MsCounter();
  EXPECT_GT(sent, 0xFFFFFF00u);
  SleepMs(60);
  EXPECT_LT(MsCounter(), 1000u);  // wrapped
  TUdpPeer peer;
  ASSERT_TRUE(peer.SendTo(Probe(sent, 2), echo.Port()));
  ASSERT_TRUE(log.WaitFor(1));
  EXPECT_GE(log.Echoes()[0].rtt, 60);
  EXPECT_LT(log.Echoes()[0].rtt, 60 + 500);
}

TEST(uUDPEcho, StopsPromptlyWhileWaitingForADatagram) {
  const uint32_t start = GetTickCount32();
  {
    TUDPEchoServer echo(0);
    ASSERT_TRUE(WaitUntil([&] { return echo.IsOpen(); }));
  }
  EXPECT_LT(GetTickCount32() - start, 1500u);
}

TEST(uUDPEcho, EchoProbeToolUpdatesTheNamedRecords) {
  const std::string tool = ToolCommand("echo-probe");
  ASSERT_FALSE(tool.empty()) << "echo-probe not found beside the suite";
  TTempFolder folder;
  TUDPEchoServer echo(static_cast<uint16_t>(TestPortBase() + 30));
  ASSERT_TRUE(WaitUntil([&] { return echo.IsOpen(); }));
  TServerConfig config(folder.Path(), &echo);
  config.LoadFromText(RecordsAt127(2, 2));
  const std::string to = " --to 127.0.0.1:" + std::to_string(echo.Port()) + " --wait 0";
  // The send time is given so the round trip is known: 50 ms ago.
  const std::string ago = " --time " + std::to_string(MsCounter() - 50);
  ASSERT_EQ(std::system((tool + to + " --key 0x8002" + ago).c_str()), 0);
  ASSERT_EQ(std::system((tool + to + " --key 2" + ago).c_str()), 0);
  ASSERT_TRUE(WaitUntil([&] {
    return RttOf(config, *config.PriorityServers()[1]) >= 0 && RttOf(config, *config.Servers()[1]) >= 0;
  }, 5000));
  EXPECT_GE(RttOf(config, *config.PriorityServers()[1]), 50);
  EXPECT_GE(RttOf(config, *config.Servers()[1]), 50);
  EXPECT_EQ(RttOf(config, *config.PriorityServers()[0]), -1);
  EXPECT_EQ(RttOf(config, *config.Servers()[0]), -1);
  EXPECT_EQ(config.CopyRecord(*config.Servers()[1]).echoPending, 0);

  // A probe sent just before the counter wrapped around.
  AdvanceMsCounter(0u - MsCounter() - 20);
  const uint32_t sent = MsCounter();
  SleepMs(60);
  ASSERT_EQ(std::system((tool + to + " --key 1 --time " + std::to_string(sent)).c_str()), 0);
  ASSERT_TRUE(WaitUntil([&] { return RttOf(config, *config.Servers()[0]) >= 0; }, 5000));
  EXPECT_GE(RttOf(config, *config.Servers()[0]), 60);
  EXPECT_LT(RttOf(config, *config.Servers()[0]), 60 + 30000);
}

TEST(uUDPEcho, EchoUpdatesDuringRepeatedReloads) {
  TTempFolder folder;
  TUDPEchoServer echo(static_cast<uint16_t>(TestPortBase() + 35));
  ASSERT_TRUE(WaitUntil([&] { return echo.IsOpen(); }));
  auto config = std::make_unique<TServerConfig>(folder.Path(), &echo);
  std::atomic<bool> stop{false};
  std::atomic<int> sent{0};
  std::thread sender([&] {
    TUdpPeer peer;
    const uint32_t keys[] = {1, 2, 3, 0x8001, 0x8002};
    while (!stop) {
      for (uint32_t key : keys) sent += peer.SendTo(Probe(MsCounter(), key), echo.Port());
      std::this_thread::yield();
    }
  });
  // Records come and go under the echo worker's writes; now and then the
  // whole configuration goes and a new one takes the echo callback over.
  const uint32_t start = GetTickCount32();
  for (int i = 0; sent.load() < 5000 && GetTickCount32() - start < 3000; ++i) {
    config->LoadFromText(RecordsAt127(3 - i % 3, 2 - i % 2));
    if (i % 7 == 0) config->Clear();
    if (i % 50 == 49) config = std::make_unique<TServerConfig>(folder.Path(), &echo);
  }
  stop = true;
  sender.join();
  EXPECT_GT(sent.load(), 1000);
  config->LoadFromText(RecordsAt127(3, 2));
  TUdpPeer peer;
  ASSERT_TRUE(WaitUntil([&] {
    peer.SendTo(Probe(MsCounter(), 0x8002), echo.Port());
    return RttOf(*config, *config->PriorityServers()[1]) >= 0;
  }));
}
