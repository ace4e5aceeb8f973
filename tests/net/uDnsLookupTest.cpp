#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "net/uDnsLookup.h"
#include "platform/Tick.h"

namespace {

using TBytes = std::vector<uint8_t>;

// Builds DNS messages byte by byte.
class TMessage {
public:
  TMessage& U8(int value) {
    FBytes.push_back(static_cast<uint8_t>(value));
    return *this;
  }
  TMessage& U16(int value) { return U8(value >> 8).U8(value); }
  TMessage& U32(uint32_t value) { return U16(value >> 16).U16(value & 0xFFFF); }
  TMessage& Header(int id, int flags, int questions, int answers) {
    return U16(id).U16(flags).U16(questions).U16(answers).U16(0).U16(0);
  }
  // Labels of a dotted name and the zero byte.
  TMessage& Name(const std::string& dotted) {
    Labels(dotted);
    return U8(0);
  }
  TMessage& Labels(const std::string& dotted) {
    size_t start = 0;
    while (start < dotted.size()) {
      const size_t dot = std::min(dotted.find('.', start), dotted.size());
      U8(static_cast<int>(dot - start));
      for (size_t i = start; i < dot; ++i) U8(dotted[i]);
      start = dot + 1;
    }
    return *this;
  }
  TMessage& Pointer(int offset) { return U8(0xC0 | offset >> 8).U8(offset & 0xFF); }
  TMessage& Question(const std::string& name, int type) { return Name(name).U16(type).U16(1); }
  // Owner as a pointer to the question's name at 12, then type, class, TTL
  // and the data length; the caller appends the data.
  TMessage& RecordHead(int type, int dataLength) { return Pointer(12).U16(type).U16(1).U32(300).U16(dataLength); }
  TMessage& Bytes(const std::string& bytes) {
    for (char c : bytes) U8(static_cast<uint8_t>(c));
    return *this;
  }
  int Size() const { return static_cast<int>(FBytes.size()); }
  const TBytes& Data() const { return FBytes; }

private:
  TBytes FBytes;
};

std::vector<std::string> Parse(const TBytes& reply, int queryType, int32_t* result = nullptr, int id = 0x1234) {
  std::vector<std::string> results{"untouched"};
  const int32_t code = ParseDnsReply(reply.data(), static_cast<int>(reply.size()), static_cast<uint16_t>(id), queryType,
                                     results);
  if (result) *result = code;
  return results;
}

// A DNS server of the test on 127.0.0.1 (a free port): `answer` turns each
// query into the datagrams to send back (none: stay silent).
class TDnsTestServer {
public:
  using TAnswer = std::function<std::vector<TBytes>(const TBytes& query)>;
  explicit TDnsTestServer(TAnswer answer) : FAnswer(std::move(answer)) {
    FSocket = SocketCreateUdp();
    TSocketAddress local{LoopbackAddress(), 0};
    SocketBind(FSocket, local);
    SocketLocalAddress(FSocket, local);
    FPort = local.Port;
    FThread = std::thread([this] { Run(); });
  }
  ~TDnsTestServer() {
    FStop = true;
    FThread.join();
    SocketClose(FSocket);
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(FPort); }
  int Queries() const { return FQueries; }

private:
  void Run() {
    while (!FStop) {
      if (SocketWaitReadable(FSocket, 50) != 1) continue;
      TBytes query(2048);
      TSocketAddress from;
      const int length = SocketRecvFrom(FSocket, query.data(), static_cast<int>(query.size()), &from);
      if (length <= 0) continue;
      query.resize(length);
      ++FQueries;
      for (const TBytes& reply : FAnswer(query))
        SocketSendTo(FSocket, reply.data(), static_cast<int>(reply.size()), from);
    }
  }

  TAnswer FAnswer;
  TSocketHandle FSocket;
  uint16_t FPort = 0;
  std::atomic<bool> FStop{false};
  std::atomic<int> FQueries{0};
  std::thread FThread;
};

int QueryId(const TBytes& query) { return query[0] << 8 | query[1]; }

// The query's header and question as the start of a reply.
TMessage ReplyTo(const TBytes& query, int flags, int answers) {
  TMessage reply;
  reply.U16(QueryId(query)).U16(flags).U16(1).U16(answers).U16(0).U16(0);
  for (size_t i = DnsHeaderSize; i < query.size(); ++i) reply.U8(query[i]);
  return reply;
}

std::vector<TBytes> Answer(const TBytes& query, const std::string& address) {
  uint32_t value = 0;
  ParseIPv4(address, value);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&value);
  TMessage reply = ReplyTo(query, 0x8180, 1);
  reply.RecordHead(1, 4).U8(bytes[0]).U8(bytes[1]).U8(bytes[2]).U8(bytes[3]);
  return {reply.Data()};
}

std::vector<TBytes> NameError(const TBytes& query) { return {ReplyTo(query, 0x8183, 0).Data()}; }

// The build's dnsmasq peer (tests/peers/dnsmasq.peer).
std::string DnsmasqServer() {
  const char* base = std::getenv("LAUNCHER_TEST_PORT_BASE");
  return base ? "127.0.0.1:" + std::to_string(std::atoi(base) + 10) : std::string();
}

}  // namespace

TEST(DnsQuery, EncodesTheNameAsLabels) {
  uint8_t buffer[DnsMessageSize];
  ASSERT_EQ(BuildDnsQuery("ab.cde", 0x0102, DnsTypeA, buffer, sizeof buffer), 24);
  const TBytes expected{0x01, 0x02, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0,
                        2, 'a', 'b', 3, 'c', 'd', 'e', 0, 0, 1, 0, 1};
  EXPECT_EQ(TBytes(buffer, buffer + 24), expected);
  // A trailing dot changes nothing.
  uint8_t dotted[DnsMessageSize];
  ASSERT_EQ(BuildDnsQuery("ab.cde.", 0x0102, DnsTypeA, dotted, sizeof dotted), 24);
  EXPECT_EQ(TBytes(dotted, dotted + 24), expected);
  // The empty name (and "." alone) is the root name: one zero byte.
  for (const char* root : {"", "."}) {
    ASSERT_EQ(BuildDnsQuery(root, 7, 15, buffer, sizeof buffer), 17) << root;
    EXPECT_EQ(TBytes(buffer + 12, buffer + 17), (TBytes{0, 0, 15, 0, 1})) << root;
  }
}

TEST(DnsQuery, RefusesNamesThatCannotBeEncoded) {
  uint8_t buffer[DnsMessageSize];
  EXPECT_EQ(BuildDnsQuery("a..b", 1, 1, buffer, sizeof buffer), -1);
  EXPECT_EQ(BuildDnsQuery(".a", 1, 1, buffer, sizeof buffer), -1);
  EXPECT_EQ(BuildDnsQuery(std::string(64, 'x') + ".com", 1, 1, buffer, sizeof buffer), -1);
  EXPECT_EQ(BuildDnsQuery(std::string(63, 'x') + ".com", 1, 1, buffer, sizeof buffer), 12 + 63 + 5 + 1 + 4);
  // A name longer than the message buffer is refused, not written past it.
  std::string longName;
  for (int i = 0; i < 40; ++i) longName += std::string(30, 'a') + ".";
  EXPECT_EQ(BuildDnsQuery(longName, 1, 1, buffer, sizeof buffer), -1);
  EXPECT_EQ(BuildDnsQuery("ab.cde", 1, 1, buffer, 23), -1);
}

TEST(DnsReply, AnswersOfTheAskedTypeOnly) {
  TMessage reply;
  reply.Header(0x1234, 0x8180, 1, 4).Question("www.example.com", 1);
  reply.RecordHead(5, 6).Labels("cdn").Pointer(16);  // CNAME cdn.example.com
  reply.RecordHead(1, 4).U8(10).U8(0).U8(0).U8(1);
  reply.RecordHead(28, 16).Bytes(std::string(16, '\1'));
  reply.RecordHead(1, 4).U8(192).U8(168).U8(1).U8(200);
  int32_t result = 0;
  EXPECT_EQ(Parse(reply.Data(), 1, &result), (std::vector<std::string>{"10.0.0.1", "192.168.1.200"}));
  EXPECT_EQ(result, DnsReplyReceived);
  EXPECT_EQ(Parse(reply.Data(), 5), (std::vector<std::string>{"cdn.example.com"}));
}

TEST(DnsReply, NameErrorCnameOnlyAndWrongIdOrShortReply) {
  TMessage nameError;
  nameError.Header(0x1234, 0x8183, 1, 1).Question("nx.example", 1).RecordHead(1, 4).U32(0x01020304);
  int32_t result = 0;
  EXPECT_TRUE(Parse(nameError.Data(), 1, &result).empty());
  EXPECT_EQ(result, DnsReplyReceived);

  TMessage cnameOnly;
  cnameOnly.Header(0x1234, 0x8180, 1, 1).Question("alias.example", 1).RecordHead(5, 2).Pointer(12);
  EXPECT_TRUE(Parse(cnameOnly.Data(), 1, &result).empty());
  EXPECT_EQ(result, DnsReplyReceived);

  TMessage good;
  good.Header(0x1234, 0x8180, 1, 1).Question("a.example", 1).RecordHead(1, 4).U32(0x7F000001);
  EXPECT_EQ(Parse(good.Data(), 1, &result, 0x4321), (std::vector<std::string>{"untouched"}));
  EXPECT_EQ(result, DnsNoReply);
  const TBytes eleven(good.Data().begin(), good.Data().begin() + 11);
  EXPECT_EQ(Parse(eleven, 1, &result), (std::vector<std::string>{"untouched"}));
  EXPECT_EQ(result, DnsNoReply);
  const TBytes headerOnly(good.Data().begin(), good.Data().begin() + 12);
  EXPECT_TRUE(Parse(headerOnly, 1, &result).empty());
  EXPECT_EQ(result, DnsReplyReceived);
}

TEST(DnsReply, RenderingOfEveryRecordKind) {
  struct TCase {
    int type;
    std::function<void(TMessage&)> data;
    std::string text;
  };
  // Names in the data are "mx.example.com" spelled out or "ns" + a pointer
  // to the question's name (example.com at 12).
  const std::vector<TCase> cases = {
      {2, [](TMessage& m) { m.Labels("ns").Pointer(12); }, "ns.example.com"},
      {12, [](TMessage& m) { m.Name("host.example.org"); }, "host.example.org"},
      {6, [](TMessage& m) { m.Labels("ns").Pointer(12).Labels("admin").Pointer(12).U32(2024010101).U32(7200).U32(3600)
                                .U32(1209600).U32(300); },
       "ns.example.com,admin.example.com,2024010101,7200,3600,1209600,300"},
      {13, [](TMessage& m) { m.U8(3).Bytes("x86").U8(5).Bytes("Linux"); }, "x86,Linux"},
      {14, [](TMessage& m) { m.Name("a.b").Name("c.d"); }, "a.b,c.d"},
      {15, [](TMessage& m) { m.U16(10).Labels("mx").Pointer(12); }, "10,mx.example.com"},
      {16, [](TMessage& m) { m.U8(5).Bytes("hello").U8(0).U8(5).Bytes("world"); }, "helloworld"},
      {99, [](TMessage& m) { m.U8(4).Bytes("v=sp"); }, "v=sp"},
      {26, [](TMessage& m) { m.U16(5).Name("a.b").Name("c.d"); }, "5,a.b,c.d"},
      {27, [](TMessage& m) { m.Name("a").Name("b").Name("c"); }, "a,b,c"},
      {33, [](TMessage& m) { m.U16(1).U16(2).U16(8080).Name("target.example"); }, "1,2,8080,target.example"},
      {41, [](TMessage& m) { m.U32(0); }, ""},
  };
  for (const TCase& c : cases) {
    TMessage data;
    c.data(data);
    TMessage reply;
    reply.Header(0x1234, 0x8180, 1, 1).Question("example.com", c.type).RecordHead(c.type, data.Size());
    for (uint8_t byte : data.Data()) reply.U8(byte);
    const std::vector<std::string> results = Parse(reply.Data(), c.type);
    if (c.text.empty()) {
      EXPECT_TRUE(results.empty()) << c.type;
    } else {
      EXPECT_EQ(results, std::vector<std::string>{c.text}) << c.type;
    }
  }
}

// Replies that would make a careless parser loop or read past the datagram.
TEST(DnsReply, HostileRepliesEndWithoutReadingPastTheEnd) {
  // An answer whose owner name points at itself, then one pointing forward.
  TMessage loop;
  loop.Header(0x1234, 0x8180, 1, 3).Question("a.example", 1);
  const int self = loop.Size();
  loop.Pointer(self).U16(1).U16(1).U32(1).U16(4).U32(0x7F000001);
  loop.Pointer(loop.Size() + 2).U16(1).U16(1).U32(1).U16(4).U32(0x7F000002);
  // A label and then a pointer to the record's own type field, after it.
  const int a = loop.Size();
  loop.Labels("x").Pointer(a + 4).U16(1).U16(1).U32(1).U16(4).U32(0x7F000003);
  // Each pointer is cut off where it stands; the records still parse.
  EXPECT_EQ(Parse(loop.Data(), 1), (std::vector<std::string>{"127.0.0.1", "127.0.0.2", "127.0.0.3"}));

  // A data length past the end: not rendered, nothing read beyond.
  TMessage longData;
  longData.Header(0x1234, 0x8180, 1, 2).Question("a.example", 1).RecordHead(1, 4).U32(0x0A000001);
  longData.RecordHead(1, 400).U32(0x0A000002);
  EXPECT_EQ(Parse(longData.Data(), 1), (std::vector<std::string>{"10.0.0.1"}));

  // Counts far above what the datagram holds, and every cut of a good reply.
  TMessage many;
  many.Header(0x1234, 0x8180, 0xFFFF, 0xFFFF).Question("a.example", 1).RecordHead(15, 7).U16(1).Labels("m").Pointer(12);
  for (int cut = 12; cut <= many.Size(); ++cut) {
    const TBytes piece(many.Data().begin(), many.Data().begin() + cut);
    int32_t result = 0;
    const std::vector<std::string> results = Parse(piece, 15, &result);
    EXPECT_EQ(result, DnsReplyReceived);
    if (cut < many.Size()) {
      EXPECT_TRUE(results.empty()) << cut;
    }
  }
}

TEST(DnsName, PointersOnlyLeadBackwardsAndJumpsAreBounded) {
  // A chain of pointers, each to the one before it, longer than the bound.
  TMessage chain;
  chain.Header(0, 0, 0, 0).Name("end");  // at 12
  int previous = 12;
  for (int i = 0; i < DnsMaxNameJumps + 4; ++i) {
    const int start = chain.Size();
    chain.Labels("p").Pointer(previous);
    previous = start;
  }
  int position = previous;
  const std::string name = ReadDnsName(chain.Data().data(), chain.Size(), position);
  EXPECT_EQ(position, chain.Size());
  size_t labels = 0;
  for (char c : name) labels += c == 'p';
  EXPECT_EQ(labels, static_cast<size_t>(DnsMaxNameJumps + 1)) << name;
  EXPECT_EQ(name.find("end"), std::string::npos);

  // A shorter chain is followed to its end.
  TMessage short_;
  short_.Header(0, 0, 0, 0).Name("example.com").Labels("www").Pointer(12);
  position = 25;
  EXPECT_EQ(ReadDnsName(short_.Data().data(), short_.Size(), position), "www.example.com");
  EXPECT_EQ(position, short_.Size());

  // Long names end at the cap: one of exactly the cap's length followed by a
  // pointer cut off by the end of the reply, and one far longer.
  TMessage atCap;
  atCap.Header(0, 0, 0, 0);
  for (int i = 0; i < 16; ++i) atCap.Labels(std::string(62, 'a'));
  atCap.Labels(std::string(16, 'b')).U8(0xC0);  // 16 * 62 + 16 + 16 dots = 1024
  position = 12;
  EXPECT_EQ(ReadDnsName(atCap.Data().data(), atCap.Size(), position).size(), DnsMaxNameText);
  EXPECT_EQ(position, atCap.Size());
  TMessage overCap;
  overCap.Header(0, 0, 0, 0);
  for (int i = 0; i < 20; ++i) overCap.Labels(std::string(63, 'a'));
  position = 12;
  EXPECT_EQ(ReadDnsName(overCap.Data().data(), overCap.Size(), position).size(), DnsMaxNameText);
  EXPECT_LE(position, overCap.Size());

  // A label running past the end is cut at the end.
  TMessage cut;
  cut.Header(0, 0, 0, 0).U8(20).Bytes("abc");
  position = 12;
  EXPECT_EQ(ReadDnsName(cut.Data().data(), cut.Size(), position), "abc");
  EXPECT_EQ(position, cut.Size());
}

TEST(DnsLookup, AgainstDnsmasq) {
  const std::string server = DnsmasqServer();
  if (server.empty()) GTEST_SKIP() << "LAUNCHER_TEST_PORT_BASE is not set";
  struct {
    const char* name;
    int type;
    std::set<std::string> expected;
  } cases[] = {
      {"multi.launcher.test", 1, {"127.0.0.1", "127.0.0.2", "127.0.0.3"}},
      {"single.launcher.test.", 1, {"127.0.0.9"}},
      {"nx.launcher.test", 1, {}},
      {"alias.launcher.test", 1, {}},
      {"mail.launcher.test", 15, {"10,mx.launcher.test"}},
      {"txt.launcher.test", 16, {"helloworld"}},
      {"_game._tcp.launcher.test", 33, {"1,2,8080,target.launcher.test"}},
  };
  for (const auto& c : cases) {
    TUDPDnsLookup lookup;
    std::vector<std::string> results{"stale"};
    EXPECT_EQ(lookup.Lookup(server, c.name, results, c.type), DnsReplyReceived) << c.name;
    EXPECT_EQ(std::set<std::string>(results.begin(), results.end()), c.expected) << c.name;
    EXPECT_EQ(results.size(), c.expected.size()) << c.name;
  }
}

TEST(DnsLookup, ReplyWaitIsBoundedAndForeignRepliesAreIgnored) {
  // Silent server: -3 after the bounded wait, the list untouched.
  TDnsTestServer silent([](const TBytes&) { return std::vector<TBytes>{}; });
  std::vector<std::string> results{"kept"};
  TUDPDnsLookup lookup;
  uint32_t start = GetTickCount32();
  EXPECT_EQ(lookup.Lookup(silent.Address(), "a.example", results, 1), DnsNoReply);
  const uint32_t waited = GetTickCount32() - start;
  EXPECT_GE(waited, static_cast<uint32_t>(DnsReplyWaitMs - 100));
  EXPECT_LT(waited, static_cast<uint32_t>(DnsReplyWaitMs + 1500));
  EXPECT_EQ(results, std::vector<std::string>{"kept"});
  EXPECT_EQ(silent.Queries(), 1);

  // A reply with another ID is passed over; the right one that follows counts.
  TDnsTestServer spoofed([](const TBytes& query) {
    TBytes wrong = Answer(query, "6.6.6.6").front();
    wrong[1] ^= 0x55;
    return std::vector<TBytes>{wrong, Answer(query, "127.0.0.5").front()};
  });
  TUDPDnsLookup second;
  EXPECT_EQ(second.Lookup(spoofed.Address(), "a.example", results, 1), DnsReplyReceived);
  EXPECT_EQ(results, std::vector<std::string>{"127.0.0.5"});

  // Only a wrong ID: -3 once the wait is over, the list untouched.
  TDnsTestServer wrongOnly([](const TBytes& query) {
    TBytes wrong = Answer(query, "6.6.6.6").front();
    wrong[0] ^= 0x40;
    return std::vector<TBytes>{wrong};
  });
  results = {"kept"};
  TUDPDnsLookup third;
  EXPECT_EQ(third.Lookup(wrongOnly.Address(), "a.example", results, 1), DnsNoReply);
  EXPECT_EQ(results, std::vector<std::string>{"kept"});
}

TEST(DnsLookup, CraftedRepliesFromTheWire) {
  struct {
    const char* what;
    std::function<std::vector<TBytes>(const TBytes&)> answer;
    int32_t result;
    std::vector<std::string> results;
  } cases[] = {
      {"11 bytes", [](const TBytes& q) { return std::vector<TBytes>{TBytes(q.begin(), q.begin() + 11)}; }, DnsNoReply,
       {"kept"}},
      {"pointer loop",
       [](const TBytes& q) {
         TMessage m = ReplyTo(q, 0x8180, 1);
         m.Pointer(m.Size()).U16(1).U16(1).U32(1).U16(4).U32(0x7F000001);
         return std::vector<TBytes>{m.Data()};
       },
       DnsReplyReceived, {"127.0.0.1"}},
      {"data length past the end",
       [](const TBytes& q) {
         TMessage m = ReplyTo(q, 0x8180, 1);
         m.RecordHead(1, 1000).U32(0x7F000001);
         return std::vector<TBytes>{m.Data()};
       },
       DnsReplyReceived, {}},
      {"name error", [](const TBytes& q) { return NameError(q); }, DnsReplyReceived, {}},
  };
  for (const auto& c : cases) {
    TDnsTestServer server(c.answer);
    std::vector<std::string> results{"kept"};
    TUDPDnsLookup lookup;
    EXPECT_EQ(lookup.Lookup(server.Address(), "a.example", results, 1), c.result) << c.what;
    EXPECT_EQ(results, c.results) << c.what;
  }
  // A name that cannot be encoded is never sent.
  TDnsTestServer server([](const TBytes& q) { return NameError(q); });
  std::vector<std::string> results;
  TUDPDnsLookup lookup;
  EXPECT_EQ(lookup.Lookup(server.Address(), "a..example", results, 1), DnsSendFailed);
  SleepMs(100);
  EXPECT_EQ(server.Queries(), 0);
}

TEST(DnsResolve, PublicWalkStopsAtTheFirstAddress) {
  TDnsTestServer silent([](const TBytes&) { return std::vector<TBytes>{}; });
  TDnsTestServer nx([](const TBytes& q) { return NameError(q); });
  TDnsTestServer answering([](const TBytes& q) { return Answer(q, "127.0.0.7"); });
  TDnsTestServer after([](const TBytes& q) { return Answer(q, "127.0.0.8"); });
  std::vector<std::string> results{"stale"};
  ResolveByDnsServers({silent.Address(), nx.Address(), answering.Address(), after.Address(), after.Address()},
                      "game.example", results);
  EXPECT_EQ(results, std::vector<std::string>{"127.0.0.7"});
  EXPECT_EQ(silent.Queries(), 1);
  EXPECT_EQ(nx.Queries(), 1);
  EXPECT_EQ(answering.Queries(), 1);
  EXPECT_EQ(after.Queries(), 0);

  // No server yields an address: each of the eight is asked once, a ninth never.
  TDnsTestServer nothing([](const TBytes& q) { return NameError(q); });
  TDnsTestServer ninth([](const TBytes& q) { return Answer(q, "127.0.0.9"); });
  std::vector<std::string> servers(8, nothing.Address());
  servers.push_back(ninth.Address());
  results = {"stale"};
  ResolveByDnsServers(servers, "game.example", results);
  EXPECT_TRUE(results.empty());
  EXPECT_EQ(nothing.Queries(), 8);
  EXPECT_EQ(ninth.Queries(), 0);

  // The walk through the real peer.
  const std::string dnsmasq = DnsmasqServer();
  if (dnsmasq.empty()) return;
  ResolveByDnsServers({nothing.Address(), dnsmasq}, "single.launcher.test", results);
  EXPECT_EQ(results, std::vector<std::string>{"127.0.0.9"});
}

TEST(DnsResolve, SystemResolver) {
  std::vector<std::string> results{"stale"};
  ResolveHostAddresses("10.20.30.40", results);
  EXPECT_EQ(results, std::vector<std::string>{"10.20.30.40"});
  ResolveHostAddresses("localhost", results);
  EXPECT_NE(std::find(results.begin(), results.end(), "127.0.0.1"), results.end());
}

// The walk over the build's own server list. A build with tests points it at
// the DNS peer; with outside servers compiled in, only the list is checked.
TEST(DnsResolve, PublicWalkOverTheBuildConstants) {
  ASSERT_FALSE(PublicDnsServers().empty());
  bool loopbackOnly = true;
  for (const std::string& server : PublicDnsServers()) {
    uint32_t address = 0;
    const std::string host = server.substr(0, server.find(':'));
    EXPECT_TRUE(ParseIPv4(host, address)) << server;
    loopbackOnly = loopbackOnly && host == "127.0.0.1";
  }
  const std::string dnsmasq = DnsmasqServer();
  if (!loopbackOnly || dnsmasq.empty() || dnsmasq != "127.0.0.1:" + std::to_string(DnsServerPort()))
    GTEST_SKIP() << "this build asks DNS servers other than the test peer";
  std::vector<std::string> results{"stale"};
  ResolveByPublicDns("single.launcher.test", results);
  EXPECT_EQ(results, std::vector<std::string>{"127.0.0.9"});
  ResolveByPublicDns("nx.launcher.test", results);
  EXPECT_TRUE(results.empty());
}
