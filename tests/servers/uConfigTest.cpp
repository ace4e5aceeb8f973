#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "launcher/logic/GameLaunch.h"
#include "package/LauncherConfig.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Tick.h"
#include "net/UdpTestPeer.h"
#include "servers/DirectoryFrame.h"
#include "servers/uConfig.h"
#include "support/TestSupport.h"

namespace {

std::string Doc(const std::string& servers) { return "{\"server\":[" + servers + "]}"; }

std::string Server(int id, int opentime, int recommend = 0, const std::string& extra = "") {
  return "{\"id\":" + std::to_string(id) + ",\"opentime\":" + std::to_string(opentime) +
         ",\"recommend\":" + std::to_string(recommend) + ",\"name\":\"s" + std::to_string(id) + "\"" + extra + "}";
}

std::vector<int> Ids(const TServerList& list) {
  std::vector<int> ids;
  for (const auto& record : list) ids.push_back(record->id);
  return ids;
}

}  // namespace

TEST(uConfig, ReadsEveryMemberWithItsConversions) {
  TTempFolder folder;
  TServerConfig config(folder.Path());
  // "name" is UTF-8 in the JSON text; the document travels in code page 936.
  const std::string document = Utf8ToCp936(
      "{\"other\":1,\"server\":[{\"name\":\"\xE6\x9C\x8D\xE5\x8A\xA1\xE5\x99\xA8\\ud83d\\ude00\",\"ip\":\"10.0.0.1|10.0.0.2\","
      "\"port\":7000,\"id\":5,\"recommend\":257,\"default\":1,\"version\":3,\"patchurl\":\"http://p/\","
      "\"opentime\":2.5,\"member\":\"\xE7\x94\xB5\xE4\xBF\xA1\",\"test\":0,\"authtype\":3.5,\"clienttype\":-2.5}]}");
  ASSERT_TRUE(config.LoadFromText(document));
  ASSERT_EQ(config.Servers().size(), 1u);
  const TServerInfo& record = *config.Servers()[0];
  EXPECT_EQ(record.name, u"\u670D\u52A1\u5668\U0001F600");
  EXPECT_EQ(record.alias, record.name);
  EXPECT_EQ(record.ip, "10.0.0.1|10.0.0.2");
  EXPECT_EQ(record.port, 7000);
  EXPECT_EQ(record.id, 5);
  EXPECT_EQ(record.rtt, -1);
  EXPECT_EQ(record.echoPending, 0);
  EXPECT_EQ(record.recommend, 1);  // low 8 bits of 257
  EXPECT_EQ(record.default_, 1);
  EXPECT_EQ(record.version, 3);
  EXPECT_EQ(record.patchurl, "http://p/");
  EXPECT_EQ(record.opentime, 2);    // ties to even
  EXPECT_EQ(record.authtype, 4);
  EXPECT_EQ(record.clienttype, -2);
  EXPECT_EQ(record.member, Utf8ToCp936("\xE7\x94\xB5\xE4\xBF\xA1"));
}

TEST(uConfig, MissingMembersReadAsDefaults) {
  TTempFolder folder;
  TServerConfig config(folder.Path());
  ASSERT_TRUE(config.LoadFromText("{\"SERVER\":[{\"name\":\"a\",\"member\":\"\"},{}]}"));
  ASSERT_EQ(config.Servers().size(), 2u);
  for (const auto& record : config.Servers()) {
    EXPECT_EQ(record->member, Utf8ToCp936("\xE6\x8E\xA8\xE8\x8D\x90"));  // "推荐"
    EXPECT_EQ(record->alias, record->name);
    EXPECT_EQ(record->port, 0);
    EXPECT_TRUE(record->ip.empty());
  }
  EXPECT_EQ(config.Servers()[0]->name, u"a");
}

TEST(uConfig, PriorityRecordsAndDefaultServer) {
  TTempFolder folder;
  TServerConfig config(folder.Path());
  // Only priority records: the lists are filled but the load reports false.
  EXPECT_FALSE(config.LoadFromText(Doc(Server(1, 0, 2) + "," + Server(2, 0, 2, ",\"default\":1") + "," +
                                       Server(3, 0, 2, ",\"default\":7"))));
  EXPECT_EQ(Ids(config.PriorityServers()), (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(config.Servers().empty());
  ASSERT_NE(config.DefaultServer(), nullptr);
  EXPECT_EQ(config.DefaultServer()->id, 3);  // the later of the two
}

TEST(uConfig, DefaultServerOutlivesALoadWithoutRecords) {
  TTempFolder folder;
  TServerConfig config(folder.Path());
  config.LoadFromText(Doc(Server(9, 0, 2, ",\"default\":1")));
  EXPECT_FALSE(config.LoadFromText(Doc("")));
  EXPECT_TRUE(config.PriorityServers().empty());
  // The default record of the earlier load is still a valid record.
  TServerInfo* found = config.FindById(1234);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->id, 9);
  EXPECT_EQ(found->name, u"s9");
}

TEST(uConfig, TestServersNeedTheSwitchFile) {
  TTempFolder folder;
  TServerConfig config(folder.Path());
  const std::string document = Doc(Server(1, 0) + "," + Server(2, 0, 0, ",\"test\":1"));
  config.LoadFromText(document);
  EXPECT_EQ(Ids(config.Servers()), (std::vector<int>{1}));
  WriteWholeFile(folder / ShowTestFileName, "");
  config.LoadFromText(document);
  EXPECT_EQ(config.Servers().size(), 2u);
}

TEST(uConfig, OnlyAwakeKeepsClientTypeServersOnly) {
  TTempFolder folder;
  TServerConfig config(folder.Path());
  const std::string document = Doc(Server(1, 0) + "," + Server(2, 0, 0, ",\"clienttype\":1") + "," +
                                   Server(3, 0, 0, ",\"clienttype\":1,\"test\":1"));
  TServerFilter filter;
  filter.onlyAwake = true;
  config.LoadFromText(document, filter);
  EXPECT_EQ(Ids(config.Servers()), (std::vector<int>{2}));
  filter.showTest = true;
  config.LoadFromText(document, filter);
  EXPECT_EQ(Ids(config.Servers()), (std::vector<int>{2, 3}));
  // The switch is on only when its text is exactly "1".
  EXPECT_FALSE(IsSwitchOn("1 "));
  config.LoadFromText(document, TServerFilter());
  EXPECT_EQ(Ids(config.Servers()), (std::vector<int>{1, 2}));
}

TEST(uConfig, OrdinaryServersSortByOpenTimeAsUnsigned) {
  TTempFolder folder;
  TServerConfig config(folder.Path());
  config.LoadFromText(Doc(Server(1, 300) + "," + Server(2, 100) + "," + Server(3, 200)));
  EXPECT_EQ(Ids(config.Servers()), (std::vector<int>{1, 3, 2}));
  // -1 is 0xFFFFFFFF unsigned: the largest; priority records keep document order.
  config.LoadFromText(Doc(Server(1, 5) + "," + Server(2, -1) + "," + Server(3, 2000000000) + "," +
                          Server(4, 1, 2) + "," + Server(5, 9, 2)));
  EXPECT_EQ(Ids(config.Servers()), (std::vector<int>{2, 3, 1}));
  EXPECT_EQ(Ids(config.PriorityServers()), (std::vector<int>{4, 5}));
}

TEST(uConfig, FindByIdPrefersOrdinaryThenFallsBack) {
  TTempFolder folder;
  TServerConfig config(folder.Path());
  config.LoadFromText(Doc(Server(7, 0, 2) + "," + Server(8, 0, 2) + "," + Server(7, 1) + "," + Server(9, 2)));
  ASSERT_NE(config.FindById(7), nullptr);
  EXPECT_EQ(config.FindById(7)->recommend, 0);  // the ordinary one wins
  EXPECT_EQ(config.FindById(8)->id, 8);
  EXPECT_EQ(config.FindById(1)->id, 7);  // no default: first priority record
  EXPECT_EQ(config.FindById(1)->recommend, 2);
  config.LoadFromText(Doc(Server(1, 1) + "," + Server(2, 2)));
  EXPECT_EQ(config.FindById(99)->id, 2);  // first ordinary record after the sort
  config.LoadFromText("not json");
  EXPECT_EQ(config.FindById(1), nullptr);
}

TEST(uConfig, DocumentsThatAreNotJsonOrHaveNoServerArray) {
  TTempFolder folder;
  TServerConfig config(folder.Path());
  for (const char* document : {"", "{", "[1,2]x", "{\"server\":{}}", "{\"servers\":[{}]}", "{\"server\":\"x\"}"}) {
    config.LoadFromText(Doc(Server(1, 0)));
    EXPECT_FALSE(config.LoadFromText(document)) << document;
    EXPECT_TRUE(config.Servers().empty()) << document;
  }
}

TEST(uConfig, MistypedDocumentKeepsTheRecordsReadBeforeTheError) {
  TTempFolder folder;
  TServerConfig config(folder.Path());
  EXPECT_THROW(config.LoadFromText(Doc(Server(1, 5) + "," + Server(2, 9) + ",{\"id\":\"3\"}," + Server(4, 0))),
               EServerListError);
  EXPECT_EQ(Ids(config.Servers()), (std::vector<int>{1, 2}));  // read so far, not sorted
  EXPECT_THROW(config.LoadFromText(Doc(Server(1, 0) + ",7")), EServerListError);
  EXPECT_EQ(Ids(config.Servers()), (std::vector<int>{1}));
  EXPECT_THROW(config.LoadFromText(Doc("{\"name\":5}")), EServerListError);
  EXPECT_TRUE(config.Servers().empty());
  EXPECT_THROW(config.LoadFromText("[1]"), EServerListError);
  EXPECT_THROW(config.LoadFromText(Doc("{\"port\":null}")), EServerListError);
}

TEST(uConfig, UpdateLatencyAddressesRecordsByKey) {
  TTempFolder folder;
  TServerConfig config(folder.Path());
  const std::string ip = ",\"ip\":\"127.0.0.1\"";
  config.LoadFromText(Doc(Server(1, 2, 2, ip) + "," + Server(2, 2, 2, ip) + "," + Server(3, 2, 0, ip) + "," +
                          Server(4, 1, 0, ip) + "," + Server(5, 0, 0, ",\"ip\":\"127.0.0.2\"")));
  config.UpdateLatency("127.0.0.1", 40, 0x8002);
  config.UpdateLatency("127.0.0.1", 50, 2);
  config.UpdateLatency("127.0.0.1", 60, 0);
  config.UpdateLatency("127.0.0.1", 70, 0x8003);  // beyond the priority list
  config.UpdateLatency("127.0.0.1", 80, 4);       // beyond the ordinary list
  config.UpdateLatency("127.0.0.1", 90, 3);       // record 3 has another address
  config.UpdateLatency("127.0.0.1", 99, -1);
  EXPECT_EQ(config.PriorityServers()[0]->rtt, -1);
  EXPECT_EQ(config.PriorityServers()[1]->rtt, 40);
  EXPECT_EQ(config.Servers()[0]->rtt, -1);
  EXPECT_EQ(config.Servers()[1]->rtt, 50);
  EXPECT_EQ(config.Servers()[2]->rtt, -1);
}

namespace {

// Records the command line a launch would start the client with.
class TCommandLines : public IGameProcesses {
public:
  TThreadHandle StartProcess(const std::string&, const std::string& arguments) override {
    lines.push_back(arguments);
    return 1;
  }
  bool ThreadExitCode(TThreadHandle, uint32_t& exitCode) override {
    exitCode = 0;
    return true;
  }
  void CloseThread(TThreadHandle) override {}
  std::vector<std::string> lines;
};

}  // namespace

// A record whose ip or name would put text of its own into the client's
// command line is left out and logged: neither the picker's lists nor the
// fallback of a look-up ever hand it out, so a launch of its id starts the
// client with the good record. Each bad record is the default priority
// server, which the look-up would otherwise prefer.
TEST(uConfig, UnsafeRecordsNeverReachThePickerOrTheCommandLine) {
  const struct {
    const char* what;
    std::string ip, name;  // JSON text of the members
  } cases[] = {
      {"a slash in the name", "10.0.0.9", "x /ip:6.6.6.6"},
      {"a double quote in the name", "10.0.0.9", "x\\\" /at:9"},
      {"a line feed in the name", "10.0.0.9", "x\\n/cdn:evil"},
      {"a C1 control in the name", "10.0.0.9", "x\\u0085y"},
      {"switches after the address", "10.0.0.9 /cdn:http://evil", "bad"},
      {"a host name", "evil.example", "bad"},
      {"a part above 255", "10.0.0.256", "bad"},
      {"three parts", "10.0.9", "bad"},
      {"a blank around an address", "10.0.0.9| 10.0.0.8", "bad"},
      {"one good and one bad address", "10.0.0.9|10.0.0.x", "bad"},
  };
  TTempFolder folder;
  WriteWholeFile(folder / GameClientFile, "client");
  for (const auto& c : cases) {
    TServerConfig config(folder.Path());
    TLogCapture log;
    const std::string bad = "{\"id\":9,\"recommend\":2,\"default\":1,\"ip\":\"" + c.ip + "\",\"name\":\"" + c.name + "\"}";
    ASSERT_TRUE(config.LoadFromText(Doc(bad + "," + Server(1, 5, 0, ",\"ip\":\"10.0.0.1||10.0.0.1\"")))) << c.what;
    EXPECT_TRUE(config.PriorityServers().empty()) << c.what;
    EXPECT_EQ(Ids(config.Servers()), std::vector<int>{1}) << c.what;
    EXPECT_EQ(config.DefaultServer(), nullptr) << c.what;
    EXPECT_EQ(log.CountContaining("server list: record id=9 left out: "), 1) << c.what;
    TCommandLines processes;
    TGameList games(processes);
    TLaunchSettings settings;
    settings.launcherFolder = folder.Path();
    ASSERT_EQ(LaunchGame(*config.FindById(9), settings, processes, [](size_t) { return 0; }, games).result,
              TLaunchResult::Started)
        << c.what;
    ASSERT_EQ(processes.lines.size(), 1u) << c.what;
    EXPECT_EQ(processes.lines[0].rfind("/id:1 /ip:10.0.0.1 /slb:1 /port:0 /servername:s1 /lauName:", 0), 0u)
        << c.what << ": " << processes.lines[0];
  }
  // The rules themselves, on records as they are read.
  TServerInfo record;
  record.name = u"\u9F99\u95E8 Two Words-1.2";
  record.ip = "";
  EXPECT_EQ(UnsafeRecordReason(record), "");
  record.ip = "0.0.0.0|255.255.255.255|";
  EXPECT_EQ(UnsafeRecordReason(record), "");
  record.ip = "01.2.3.4000";
  EXPECT_NE(UnsafeRecordReason(record), "");
}
