#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Socket.h"
#include "platform/Tick.h"

namespace {

// A TCP socket bound to 127.0.0.1 on a free port, listening or not.
struct TBoundTcp {
  TSocketHandle Handle = SocketCreateTcp();
  uint16_t Port = 0;
  explicit TBoundTcp(bool listen) {
    TSocketAddress local{LoopbackAddress(), 0};
    EXPECT_EQ(SocketBind(Handle, local), 0);
    EXPECT_EQ(SocketLocalAddress(Handle, local), 0);
    Port = local.Port;
    if (listen) {
      EXPECT_EQ(SocketListen(Handle, 4), 0);
    }
  }
  ~TBoundTcp() { SocketClose(Handle); }
};

struct TBoundUdp {
  TSocketHandle Handle = SocketCreateUdp();
  uint16_t Port = 0;
  TBoundUdp() {
    TSocketAddress local{LoopbackAddress(), 0};
    EXPECT_EQ(SocketBind(Handle, local), 0);
    EXPECT_EQ(SocketLocalAddress(Handle, local), 0);
    Port = local.Port;
  }
  ~TBoundUdp() { SocketClose(Handle); }
};

}  // namespace

TEST(Socket, DottedAddressTexts) {
  const struct {
    const char* text;
    bool valid;
    const char* back;
  } cases[] = {{"127.0.0.1", true, "127.0.0.1"}, {"0.0.0.0", true, "0.0.0.0"},
               {"255.255.255.255", true, "255.255.255.255"}, {"10.020.3.4", true, "10.20.3.4"},
               {"256.1.1.1", false, ""}, {"1.2.3", false, ""}, {"1.2.3.4.5", false, ""}, {"1.2.3.", false, ""},
               {"a.b.c.d", false, ""}, {"", false, ""}, {" 1.2.3.4", false, ""}, {"1.2.3.4 ", false, ""},
               {"1..2.3", false, ""}, {"1234.1.1.1", false, ""}, {"localhost", false, ""}};
  for (const auto& c : cases) {
    uint32_t address = 0;
    EXPECT_EQ(ParseIPv4(c.text, address), c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(IPv4Text(address), c.back) << c.text;
    }
  }
  uint32_t loopback = 0;
  ASSERT_TRUE(ParseIPv4("127.0.0.1", loopback));
  EXPECT_EQ(loopback, LoopbackAddress());
  EXPECT_EQ(SocketAddressText(TSocketAddress{loopback, 8080}), "127.0.0.1:8080");
}

TEST(Socket, FailuresCarryWinsockCodes) {
  // Refused: a port that is bound but not listening.
  TBoundTcp closed(false);
  TSocketHandle client = SocketCreateTcp();
  ASSERT_NE(client, InvalidSocket);
  ASSERT_EQ(SocketSetNonBlocking(client, true), 0);
  if (SocketConnect(client, TSocketAddress{LoopbackAddress(), closed.Port}) != 0) {
    EXPECT_EQ(SocketLastError(), SocketErrorWouldBlock);
  }
  EXPECT_EQ(SocketWaitConnected(client, 3000), SocketErrorConnectionRefused);
  EXPECT_EQ(SocketLastError(), SocketErrorConnectionRefused);
  SocketClose(client);

  // Address in use.
  TSocketHandle second = SocketCreateTcp();
  EXPECT_EQ(SocketBind(second, TSocketAddress{LoopbackAddress(), closed.Port}), SocketErrorResult);
  EXPECT_EQ(SocketLastError(), SocketErrorAddressInUse);
  SocketClose(second);

  // Would block on a non-blocking receive, time-out on a blocking one.
  TBoundUdp udp;
  char byte;
  ASSERT_EQ(SocketSetNonBlocking(udp.Handle, true), 0);
  EXPECT_EQ(SocketRecvFrom(udp.Handle, &byte, 1, nullptr), SocketErrorResult);
  EXPECT_EQ(SocketLastError(), SocketErrorWouldBlock);
  ASSERT_EQ(SocketSetNonBlocking(udp.Handle, false), 0);
  ASSERT_EQ(SocketSetTimeouts(udp.Handle, 100, 100), 0);
  EXPECT_EQ(SocketRecvFrom(udp.Handle, &byte, 1, nullptr), SocketErrorResult);
  EXPECT_EQ(SocketLastError(), SocketErrorTimedOut);

  EXPECT_NE(SocketErrorMessage(SocketErrorConnectionRefused), SocketErrorMessage(SocketErrorTimedOut));
  EXPECT_FALSE(SocketErrorMessage(SocketErrorConnectionRefused).empty());
}

TEST(Socket, WaitsTimeOutAndSucceedOk) {
  TBoundUdp receiver, sender;
  const uint32_t start = GetTickCount32();
  EXPECT_EQ(SocketWaitReadable(receiver.Handle, 150), 0);
  EXPECT_EQ(SocketLastError(), SocketErrorTimedOut);
  EXPECT_GE(GetTickCount32() - start, 100u);
  EXPECT_EQ(SocketWaitWritable(sender.Handle, 0), 1);

  ASSERT_EQ(SocketSendTo(sender.Handle, "ping", 4, TSocketAddress{LoopbackAddress(), receiver.Port}), 4);
  EXPECT_EQ(SocketWaitReadable(receiver.Handle, 2000), 1);
  char buffer[16];
  TSocketAddress from;
  EXPECT_EQ(SocketRecvFrom(receiver.Handle, buffer, sizeof buffer, &from), 4);
  EXPECT_EQ(std::string(buffer, 4), "ping");
  EXPECT_EQ(from.Address, LoopbackAddress());
  EXPECT_EQ(from.Port, sender.Port);
}

TEST(Socket, TcpRoundTripAndAddresses) {
  TBoundTcp server(true);
  TSocketHandle client = SocketCreateTcp();
  ASSERT_EQ(SocketConnect(client, TSocketAddress{LoopbackAddress(), server.Port}), 0);
  TSocketAddress peer;
  const TSocketHandle accepted = SocketAccept(server.Handle, &peer);
  ASSERT_NE(accepted, InvalidSocket);
  TSocketAddress clientLocal, clientPeer;
  ASSERT_EQ(SocketLocalAddress(client, clientLocal), 0);
  ASSERT_EQ(SocketPeerAddress(client, clientPeer), 0);
  EXPECT_EQ(peer.Port, clientLocal.Port);
  EXPECT_EQ(clientPeer.Port, server.Port);

  EXPECT_EQ(SocketSend(client, "hello", 5), 5);
  char buffer[8];
  EXPECT_EQ(SocketRecv(accepted, buffer, sizeof buffer), 5);
  SocketClose(accepted);
  EXPECT_EQ(SocketRecv(client, buffer, sizeof buffer), 0);  // the peer closed
  SocketClose(client);
}

// A thread blocked on a socket returns when another thread closes it: in a
// wait, in a datagram receive and in a stream receive.
TEST(Socket, CloseFromAnotherThreadWakesBlockedCalls) {
  for (int which = 0; which < 3; ++which) {
    TBoundTcp server(true);
    TSocketHandle blocked = InvalidSocket, accepted = InvalidSocket;
    if (which == 2) {
      blocked = SocketCreateTcp();
      ASSERT_EQ(SocketConnect(blocked, TSocketAddress{LoopbackAddress(), server.Port}), 0);
      accepted = SocketAccept(server.Handle, nullptr);
    } else {
      blocked = SocketCreateUdp();
      ASSERT_EQ(SocketBind(blocked, TSocketAddress{LoopbackAddress(), 0}), 0);
    }
    std::atomic<int> result{99};
    const uint32_t start = GetTickCount32();
    std::thread waiter([&] {
      char buffer[8];
      if (which == 0) result = SocketWaitReadable(blocked, 20000);
      if (which == 1) result = SocketRecvFrom(blocked, buffer, sizeof buffer, nullptr);
      if (which == 2) result = SocketRecv(blocked, buffer, sizeof buffer);
    });
    SleepMs(200);
    SocketClose(blocked);
    waiter.join();
    EXPECT_LT(GetTickCount32() - start, 5000u) << "case " << which;
    // A wait reports the socket ready (the next call fails) or fails itself;
    // receives end without data.
    if (which == 0) {
      EXPECT_NE(result.load(), 0) << "case " << which;
    } else {
      EXPECT_LE(result.load(), 0) << "case " << which;
    }
    if (accepted != InvalidSocket) SocketClose(accepted);
  }
}

TEST(Socket, SystemResolverGivesLoopbackForLocalhost) {
  std::vector<uint32_t> addresses;
  ASSERT_TRUE(ResolveIPv4("localhost", addresses));
  bool loopback = false;
  for (uint32_t address : addresses) loopback |= address == LoopbackAddress();
  EXPECT_TRUE(loopback);
}
