#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "net/UdpTestPeer.h"
#include "net/cUdpSocket.h"
#include "support/TestSupport.h"

namespace {

uint16_t PeerPort() { return static_cast<uint16_t>(TestPortBase() + 32); }

// A client socket aimed at a loopback peer, open.
void OpenTowards(TUDPClientSocket& socket, uint16_t port) {
  socket.SetRemoteHost("127.0.0.1");
  socket.SetRemotePort(port);
  socket.Open();
  ASSERT_TRUE(WaitUntil([&] { return socket.IsOpen(); }));
}

std::vector<uint8_t> Message(size_t length, uint8_t seed) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return bytes;
}

// A socket of the base class whose opening fails with a chosen error code.
class TFailingSocket : public TCustomUDPSocket {
public:
  explicit TFailingSocket(int code, TErrorCallback handler = nullptr) : FCode(code) {
    SetOnError(std::move(handler));
    Start();
    Open();
  }
  ~TFailingSocket() override { StopWorker(); }
  std::atomic<int> attempts{0};

protected:
  void OpenSocket(bool open) override {
    if (!open) return;
    ++attempts;
    ReportError(FCode);
  }
  bool Process() override { return true; }

private:
  int FCode;
};

}  // namespace

TEST(cUdpSocket, QueuedMessagesArePackedIntoDatagramsOfAtMost16K) {
  TUdpPeer peer(PeerPort());
  ASSERT_TRUE(peer.Bound());
  TUDPClientSocket socket;
  OpenTowards(socket, peer.Port());
  const auto big = Message(40000, 1), a = Message(100, 2), b = Message(100, 3);
  EXPECT_EQ(socket.Send(big.data(), 40000), 40000);
  EXPECT_EQ(socket.Send(a.data(), 100), 100);
  std::unique_ptr<uint8_t[]> owned(new uint8_t[100]);
  std::memcpy(owned.get(), b.data(), 100);
  EXPECT_EQ(socket.Send(std::move(owned), 100), 100);
  std::vector<std::vector<uint8_t>> datagrams;
  for (int i = 0; i < 3; ++i) datagrams.push_back(peer.Receive(2000));
  ASSERT_EQ(datagrams[0].size(), 16384u);
  ASSERT_EQ(datagrams[1].size(), 16384u);
  ASSERT_EQ(datagrams[2].size(), 7232u + 200u);  // the last piece and both small messages
  std::vector<uint8_t> all;
  for (const auto& d : datagrams) all.insert(all.end(), d.begin(), d.end());
  std::vector<uint8_t> expected = big;
  expected.insert(expected.end(), a.begin(), a.end());
  expected.insert(expected.end(), b.begin(), b.end());
  EXPECT_EQ(all, expected);
  EXPECT_TRUE(peer.Receive(100).empty());
}

TEST(cUdpSocket, SendRefusesBadLengthsAndAClosedSocket) {
  TUDPClientSocket socket;
  const auto bytes = Message(131073, 0);
  EXPECT_EQ(socket.Send(bytes.data(), 10), 0);  // not open yet
  TUdpPeer peer(PeerPort());
  OpenTowards(socket, peer.Port());
  EXPECT_EQ(socket.Send(bytes.data(), 0), 0);
  EXPECT_EQ(socket.Send(bytes.data(), -5), 0);
  EXPECT_EQ(socket.Send(bytes.data(), 131073), 0);
  EXPECT_EQ(socket.Send(std::unique_ptr<uint8_t[]>(new uint8_t[131073]), 131073), 0);  // released, not queued
  EXPECT_EQ(socket.Send(bytes.data(), 131072), 131072);
  socket.Close();
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_EQ(socket.Send(bytes.data(), 10), 0);
}

TEST(cUdpSocket, RemoteEndpointIsFixedWhileOpen) {
  TUDPClientSocket socket;
  socket.SetRemoteHost(std::string(70, 'h'));
  EXPECT_EQ(socket.RemoteHost(), std::string(63, 'h'));
  TUdpPeer peer(PeerPort());
  OpenTowards(socket, peer.Port());
  socket.SetRemoteHost("10.1.2.3");
  socket.SetRemotePort(1);
  EXPECT_EQ(socket.RemoteHost(), "127.0.0.1");
  EXPECT_EQ(socket.RemotePort(), peer.Port());
}

TEST(cUdpSocket, ReceivedDatagramsReachOnReceiveWithTheSender) {
  TUdpPeer peer(PeerPort());
  TUDPClientSocket socket;
  std::mutex lock;
  std::vector<std::vector<uint8_t>> received;
  uint32_t fromAddress = 0;
  uint16_t fromPort = 0;
  socket.SetOnReceive([&](uint32_t address, uint16_t port, int32_t length, const uint8_t* data) {
    std::lock_guard<std::mutex> guard(lock);
    received.emplace_back(data, data + length);
    EXPECT_EQ(data[length], 0);  // terminated after the bytes
    fromAddress = address;
    fromPort = port;
  });
  OpenTowards(socket, peer.Port());
  const auto hello = Message(5, 9);
  socket.Send(hello.data(), 5);
  TSocketAddress client;
  ASSERT_EQ(peer.Receive(2000, &client), hello);
  ASSERT_TRUE(peer.SendTo(Message(16385, 6), client.Port));  // longer than a datagram may be: dropped
  ASSERT_TRUE(peer.SendTo(Message(16384, 4), client.Port));
  ASSERT_TRUE(peer.SendTo(Message(1, 5), client.Port));
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> guard(lock);
    return received.size() == 2;
  }));
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(received[0], Message(16384, 4));
  EXPECT_EQ(received[1], Message(1, 5));
  EXPECT_EQ(fromAddress, LoopbackAddress());
  EXPECT_EQ(fromPort, peer.Port());
}

TEST(cUdpSocket, HostNamesResolveThroughTheAddressWalk) {
  TUdpPeer peer(PeerPort());
  TUDPClientSocket socket;
  socket.SetRemoteHost("localhost");
  socket.SetRemotePort(peer.Port());
  socket.Open();
  ASSERT_TRUE(WaitUntil([&] { return socket.IsOpen(); }));
  const auto bytes = Message(3, 1);
  socket.Send(bytes.data(), 3);
  EXPECT_EQ(peer.Receive(2000), bytes);

  std::minstd_rand random(7);
  int counts[3] = {0, 0, 0};
  for (int i = 0; i < 40000; ++i) ++counts[RandomWalkIndex(3, random)];
  EXPECT_NEAR(counts[0], 20000, 800);
  EXPECT_NEAR(counts[1], 10000, 600);
  EXPECT_NEAR(counts[2], 10000, 600);
  EXPECT_EQ(RandomWalkIndex(1, random), 0u);
}

TEST(cUdpSocket, ErrorTexts) {
  EXPECT_EQ(TCustomUDPSocket::ErrorText(10048), "The specified address is already in use.");
  EXPECT_EQ(TCustomUDPSocket::ErrorText(10055), "No buffer space is available. The socket cannot be created.");
  EXPECT_EQ(TCustomUDPSocket::ErrorText(10093), "A successful WSAStartup must occur before using this function.");
  EXPECT_EQ(TCustomUDPSocket::ErrorText(10035), "ErrorCode is 10035");
}

TEST(cUdpSocket, UnhandledErrorEndsTheWorker) {
  TFailingSocket socket(10048);
  ASSERT_TRUE(WaitUntil([&] { return socket.Finished(); }));
  EXPECT_EQ(socket.FatalError(), "The specified address is already in use. (10048)");
  EXPECT_EQ(socket.attempts.load(), 1);
}

TEST(cUdpSocket, HandledErrorKeepsTheWorkerGoing) {
  std::atomic<int> reports{0};
  std::string text;
  TFailingSocket socket(12345, [&](const std::string& message, int& code) {
    if (reports++ == 0) text = message;
    code = 0;
  });
  ASSERT_TRUE(WaitUntil([&] { return reports.load() >= 1; }));
  SleepMs(100);
  EXPECT_FALSE(socket.Finished());
  EXPECT_EQ(socket.FatalError(), "");
  EXPECT_EQ(text, "ErrorCode is 12345");
  // The open request stays set; the next attempt waits for the retry interval.
  EXPECT_EQ(socket.attempts.load(), 1);
}

TEST(cUdpSocket, DestroyingWithAFullQueueReleasesEverything) {
  TUDPClientSocket socket;
  TUdpPeer peer(PeerPort());
  OpenTowards(socket, peer.Port());
  const auto bytes = Message(60000, 3);
  size_t queued = 0;
  for (int i = 0; i < 200; ++i) queued += socket.Send(bytes.data(), 60000) > 0;
  // The queue has a cap: not all 12 MB were taken.
  EXPECT_LT(queued, 200u);
  EXPECT_GT(queued, 0u);
}
