#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "http/cBlockSocket.h"
#include "platform/Tick.h"

namespace {

// A TCP server on 127.0.0.1 (a free port) that accepts one connection and
// plays `script` on it, then closes it.
class TLoopbackServer {
public:
  explicit TLoopbackServer(std::function<void(TSocketHandle)> script) {
    FListen = SocketCreateTcp();
    TSocketAddress local{LoopbackAddress(), 0};
    SocketBind(FListen, local);
    SocketLocalAddress(FListen, local);
    SocketListen(FListen, 4);
    FPort = local.Port;
    FThread = std::thread([this, script] {
      const TSocketHandle client = SocketAccept(FListen, nullptr);
      FAccepted = true;
      if (client == InvalidSocket) return;
      script(client);
      SocketClose(client);
    });
  }
  ~TLoopbackServer() {
    // A connect completes before the accept returns: give the accept its
    // time, then close the listener to wake it when nobody came.
    const uint32_t start = GetTickCount32();
    while (!FAccepted && GetTickCount32() - start < 2000) SleepMs(5);
    SocketClose(FListen);
    FThread.join();
  }
  int Port() const { return FPort; }

private:
  TSocketHandle FListen;
  std::atomic<bool> FAccepted{false};
  int FPort = 0;
  std::thread FThread;
};

void Send(TSocketHandle socket, const std::string& bytes) { SocketSend(socket, bytes.data(), static_cast<int>(bytes.size())); }

// Sends the pieces with a pause between them, so that each arrives as a
// segment of its own.
void SendPieces(TSocketHandle socket, std::initializer_list<std::string> pieces) {
  for (const std::string& piece : pieces) {
    Send(socket, piece);
    SleepMs(60);
  }
}

// Reads until the peer closes or `count` bytes came.
std::string ReceiveBytes(TSocketHandle socket, size_t count) {
  std::string data;
  char buffer[4096];
  while (data.size() < count) {
    const int received = SocketRecv(socket, buffer, sizeof buffer);
    if (received <= 0) break;
    data.append(buffer, received);
  }
  return data;
}

void WaitForPeerClose(TSocketHandle socket) { ReceiveBytes(socket, SIZE_MAX); }

}  // namespace

TEST(BlockSocket, LinesSplitAcrossSegmentsAreReadWhole) {
  TLoopbackServer server([](TSocketHandle client) {
    SendPieces(client, {"HTTP/1.1 200 O", "K\r", "\nContent-Length: 5\r\n", "\r", "\nbody!", "lone\nLF\r\nlast\r"});
    SleepMs(100);
    Send(client, "\n");
    WaitForPeerClose(client);
  });
  TBlockSocket socket;
  ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port(), 3000));
  EXPECT_EQ(socket.PeerText(), "127.0.0.1:" + std::to_string(server.Port()));
  std::string line;
  ASSERT_TRUE(socket.ReadLine(line));
  EXPECT_EQ(line, "HTTP/1.1 200 OK");
  ASSERT_TRUE(socket.ReadLine(line));
  EXPECT_EQ(line, "Content-Length: 5");
  ASSERT_TRUE(socket.ReadLine(line));
  EXPECT_EQ(line, "");
  // The body follows the blank line directly; nothing of it was taken as a line end.
  const char* data = nullptr;
  std::string body;
  while (body.size() < 5) {
    const int count = socket.ReadBlock(5 - static_cast<int>(body.size()), data);
    ASSERT_GT(count, 0);
    body.append(data, count);
  }
  EXPECT_EQ(body, "body!");
  // A lone LF ends a line without eating the next one's first byte.
  ASSERT_TRUE(socket.ReadLine(line));
  EXPECT_EQ(line, "lone");
  ASSERT_TRUE(socket.ReadLine(line));
  EXPECT_EQ(line, "LF");
  ASSERT_TRUE(socket.ReadLine(line));
  EXPECT_EQ(line, "last");
  socket.Close();
}

TEST(BlockSocket, PeerClosingMidLineFailsAtOnce) {
  TLoopbackServer server([](TSocketHandle client) { Send(client, "complete\r\nHTTP/1.1 2"); });
  TBlockSocket socket;
  ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port(), 3000));
  std::string line;
  ASSERT_TRUE(socket.ReadLine(line));
  EXPECT_EQ(line, "complete");
  const uint32_t start = GetTickCount32();
  EXPECT_FALSE(socket.ReadLine(line));
  EXPECT_LT(GetTickCount32() - start, 2000u);
  const char* data = nullptr;
  EXPECT_EQ(socket.ReadBlock(100, data), 10);  // the rest of the cut line is still there
  EXPECT_EQ(socket.ReadBlock(100, data), 0);
}

TEST(BlockSocket, ReadBlockHandsOutAtMostTheBufferSize) {
  std::string payload(30000, '\0');
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7 + i / 251);
  TLoopbackServer server([&](TSocketHandle client) {
    Send(client, "Header\r\n" + payload);
    WaitForPeerClose(client);
  });
  TBlockSocket socket;
  ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port(), 3000));
  std::string line;
  ASSERT_TRUE(socket.ReadLine(line));
  EXPECT_EQ(line, "Header");
  std::string received;
  const int wanted[] = {0, -5, 100000, 9216, 1};
  for (int i = 0; received.size() < payload.size(); ++i) {
    const char* data = nullptr;
    const int count = socket.ReadBlock(wanted[i % 5], data);
    ASSERT_GT(count, 0) << "after " << received.size() << " bytes";
    EXPECT_LE(count, wanted[i % 5] == 1 ? 1 : TBlockSocket::BufferSize);
    received.append(data, count);
  }
  EXPECT_TRUE(received == payload);
  socket.Close();
}

TEST(BlockSocket, LineLongerThanTheBufferFails) {
  TLoopbackServer server([](TSocketHandle client) {
    Send(client, std::string(TBlockSocket::BufferSize + 100, 'x') + "\r\n");
    WaitForPeerClose(client);
  });
  TBlockSocket socket;
  ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port(), 3000));
  std::string line;
  EXPECT_FALSE(socket.ReadLine(line));
  EXPECT_NE(socket.LastError(), 0);
  socket.Close();
}

TEST(BlockSocket, SendBufferDeliversAndReportsNotConnected) {
  std::string received;
  TBlockSocket socket;
  EXPECT_EQ(socket.SendText("early"), 0);
  {
    TLoopbackServer server([&](TSocketHandle client) { received = ReceiveBytes(client, 8); });
    ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port(), 3000));
    EXPECT_EQ(socket.SendText("GET "), 4);
    EXPECT_EQ(socket.SendBuffer("/x\r\n", 4), 4);
    EXPECT_EQ(socket.LastError(), 0);
    EXPECT_TRUE(socket.WaitWritable(1000));
  }  // the server has read everything
  EXPECT_EQ(received, "GET /x\r\n");
  socket.Close();
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(socket.SendText("late"), 0);
}

TEST(BlockSocket, ConnectFailuresLeaveCodeAndText) {
  TBlockSocket socket;
  EXPECT_FALSE(socket.Connect("", 80, 1000));
  EXPECT_FALSE(socket.Connect("127.0.0.1", 0, 1000));

  // A refused connect fails as soon as the refusal arrives, with its code,
  // and is never taken for a connection.
  TSocketHandle bound = SocketCreateTcp();
  TSocketAddress local{LoopbackAddress(), 0};
  ASSERT_EQ(SocketBind(bound, local), 0);
  ASSERT_EQ(SocketLocalAddress(bound, local), 0);
  const uint32_t start = GetTickCount32();
  EXPECT_FALSE(socket.Connect("127.0.0.1", local.Port, 8000));
  EXPECT_LT(GetTickCount32() - start, 4000u);
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(socket.LastError(), SocketErrorConnectionRefused);
  EXPECT_EQ(socket.ErrorText().rfind("10061:", 0), 0u) << socket.ErrorText();
  EXPECT_GT(socket.ErrorText().size(), 6u);
  SocketClose(bound);
}

TEST(BlockSocket, WaitsTimeOutWith10060) {
  TLoopbackServer server([](TSocketHandle client) { WaitForPeerClose(client); });
  TBlockSocket socket;
  ASSERT_TRUE(socket.Connect("localhost", server.Port(), 3000));
  EXPECT_EQ(socket.PeerText(), "127.0.0.1:" + std::to_string(server.Port()));
  const uint32_t start = GetTickCount32();
  EXPECT_FALSE(socket.WaitReadable(200));
  EXPECT_GE(GetTickCount32() - start, 150u);
  EXPECT_EQ(socket.LastError(), SocketErrorTimedOut);
  EXPECT_EQ(socket.ErrorText().rfind("10060:", 0), 0u) << socket.ErrorText();
  EXPECT_TRUE(socket.WaitWritable(200));
  socket.Close();
}

TEST(BlockSocket, CloseFromAnotherThreadAbortsABlockedRead) {
  TLoopbackServer server([](TSocketHandle client) { WaitForPeerClose(client); });
  TBlockSocket socket;
  ASSERT_TRUE(socket.Connect("127.0.0.1", server.Port(), 3000));
  std::thread closer([&] {
    SleepMs(300);
    socket.Close();
  });
  const uint32_t start = GetTickCount32();
  std::string line;
  EXPECT_FALSE(socket.ReadLine(line));
  // Well before the socket's own 6 s receive limit.
  EXPECT_LT(GetTickCount32() - start, 3000u);
  closer.join();
  EXPECT_FALSE(socket.Connected());
  // The object is usable again afterwards.
  TLoopbackServer again([](TSocketHandle client) { Send(client, "next\r\n"); });
  ASSERT_TRUE(socket.Connect("127.0.0.1", again.Port(), 3000));
  ASSERT_TRUE(socket.ReadLine(line));
  EXPECT_EQ(line, "next");
}

// A connect that the peer never answers: a listener whose backlog is full
// drops further connection requests.
TEST(BlockSocket, ConnectTimesOutAndCanBeAborted) {
  TSocketHandle listener = SocketCreateTcp();
  TSocketAddress local{LoopbackAddress(), 0};
  ASSERT_EQ(SocketBind(listener, local), 0);
  ASSERT_EQ(SocketLocalAddress(listener, local), 0);
  ASSERT_EQ(SocketListen(listener, 0), 0);
  std::vector<TBlockSocket*> fillers;
  bool full = false;
  for (int i = 0; i < 8 && !full; ++i) {
    auto* filler = new TBlockSocket;
    fillers.push_back(filler);
    full = !filler->Connect("127.0.0.1", local.Port, 300);
  }
  if (!full) {
    for (auto* filler : fillers) delete filler;
    SocketClose(listener);
    GTEST_SKIP() << "this system accepts every connect; no unanswered connect to test";
  }
  EXPECT_EQ(fillers.back()->LastError(), SocketErrorTimedOut);

  TBlockSocket socket;
  uint32_t start = GetTickCount32();
  EXPECT_FALSE(socket.Connect("127.0.0.1", local.Port, 400));
  EXPECT_GE(GetTickCount32() - start, 350u);
  EXPECT_EQ(socket.LastError(), SocketErrorTimedOut);

  std::thread closer([&] {
    SleepMs(300);
    socket.Close();
  });
  start = GetTickCount32();
  EXPECT_FALSE(socket.Connect("127.0.0.1", local.Port, 20000));
  EXPECT_LT(GetTickCount32() - start, 5000u);
  closer.join();
  for (auto* filler : fillers) delete filler;
  SocketClose(listener);
}

TEST(BlockSocket, AddressPickIsUniformOverTheFirst21) {
  EXPECT_EQ(TBlockSocket::PickAddressIndex(1), 0);
  std::vector<int> counts(21, 0);
  for (int i = 0; i < 21000; ++i) {
    const int index = TBlockSocket::PickAddressIndex(40);
    ASSERT_GE(index, 0);
    ASSERT_LT(index, 21);
    ++counts[index];
  }
  for (int index = 0; index < 21; ++index) {
    EXPECT_GT(counts[index], 700) << index;
    EXPECT_LT(counts[index], 1300) << index;
  }
  std::set<int> seen;
  for (int i = 0; i < 200; ++i) seen.insert(TBlockSocket::PickAddressIndex(3));
  EXPECT_EQ(seen, (std::set<int>{0, 1, 2}));
}
