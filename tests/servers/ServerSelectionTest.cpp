#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/Format.h"
#include "net/UdpTestPeer.h"
#include "net/uUDPEcho.h"
#include "platform/MsCounter.h"
#include "servers/DirectoryExchange.h"
#include "servers/ServerSelection.h"
#include "support/TestSupport.h"

namespace {

// The main window's labels and start button as the selection sets them.
class TRecordingView : public ISelectionView {
public:
  void SetCurrentServerText(const std::u16string& name) override { currentText = name; }
  void SetMemberText(const std::string& text) override { memberText = text; }
  void EnableStart() override { ++startEnabled; }

  std::u16string currentText;
  std::string memberText;
  int startEnabled = 0;
};

// The directory side: ServerNames as the exchange builds them.
class TNoWindow : public IDirectoryWindow {
public:
  void ShowRefreshLabel(bool) override {}
  void SetCurrentServerText(const std::u16string&) override {}
  void SelectServer(const TServerInfo&) override {}
  void SetLastServerText(const std::u16string&) override {}
};

std::string Record(int id, const std::string& member, int opentime, const std::string& extra = "") {
  return "{\"id\":" + std::to_string(id) + ",\"name\":\"n" + std::to_string(id) + "\",\"member\":\"" + member +
         "\",\"opentime\":" + std::to_string(opentime) + extra + "}";
}

std::string Doc(const std::vector<std::string>& records) {
  std::string text = "{\"server\":[";
  for (size_t i = 0; i < records.size(); ++i) text += (i > 0 ? "," : "") + records[i];
  return text + "]}";
}

class ServerSelection : public ::testing::Test {
protected:
  ServerSelection()
      : config(folder.Path()), exchange(config, window, ticks, queue, nullptr, TDirectoryInputs{"12", {}, {}}),
        selection(view) {}
  const std::vector<TServerName>& Names() { return exchange.ServerNames(); }

  TTempFolder folder;
  TServerConfig config;
  TNoWindow window;
  TSystemTicks ticks;
  TDatagramQueue queue;
  TDirectoryExchange exchange;
  TRecordingView view;
  TServerSelection selection;
};

}  // namespace

TEST_F(ServerSelection, SelectMemberEndsOnTheLastServerOfTheGroup) {
  // Names come newest first: 4, 3, 2, 1.
  exchange.ApplyServerList(Doc({Record(1, "a", 1), Record(2, "b", 2), Record(3, "a", 3), Record(4, "a", 4)}));
  ASSERT_EQ(Names().size(), 4u);
  EXPECT_EQ(selection.CurrentServer().id, 0);  // nothing chosen yet
  selection.SelectMember("a", config, Names());
  EXPECT_EQ(selection.CurrentServer().id, 1);
  EXPECT_EQ(selection.MemberText(), "a");
  EXPECT_EQ(view.currentText, u"n1");
  EXPECT_EQ(view.memberText, "a");
  EXPECT_EQ(view.startEnabled, 3);
  // The member is compared exactly; a group without servers keeps the server.
  selection.SelectMember("A", config, Names());
  EXPECT_EQ(selection.CurrentServer().id, 1);
  EXPECT_EQ(selection.MemberText(), "A");
  EXPECT_EQ(view.memberText, "A");
  EXPECT_EQ(view.currentText, u"n1");
}

TEST_F(ServerSelection, LastServerLabelSelectsByNameIgnoringCase) {
  exchange.ApplyServerList(Doc({Record(1, "a", 1), Record(2, "b", 2)}));
  EXPECT_TRUE(selection.SelectByName("N2", config, Names()));
  EXPECT_EQ(selection.CurrentServer().id, 2);
  EXPECT_EQ(selection.MemberText(), "b");
  EXPECT_FALSE(selection.SelectByName("n9", config, Names()));
  EXPECT_EQ(selection.CurrentServer().id, 2);
  // Case is ignored for A to Z only: the trail bytes 0x41 and 0x61 make two
  // different double-byte characters.
  EXPECT_TRUE(SameText("ab\xB5\xE7x", "AB\xB5\xE7X"));
  EXPECT_FALSE(SameText("\x81\x41", "\x81\x61"));
  EXPECT_FALSE(SameText("a", "ab"));
}

TEST_F(ServerSelection, GroupListHoldsDistinctTextsInOrderOfFirstAppearance) {
  exchange.ApplyServerList(Doc({Record(1, "East", 9), Record(2, "west", 8), Record(3, "EAST", 7), Record(4, "", 6),
                                Record(5, "\x81\x41", 5), Record(6, "\x81\x61", 4), Record(7, "West", 3)}));
  const std::vector<TPopupItem> items = MemberItems(Names());
  std::vector<std::string> texts;
  for (const TPopupItem& item : items) {
    texts.push_back(item.text);
    EXPECT_FALSE(item.record.has_value());
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"East", "west", DefaultMemberText, "\x81\x41", "\x81\x61"}));
}

TEST_F(ServerSelection, PopupHeightFollowsTheItemCount) {
  EXPECT_EQ(PopupHeight(0), 2);
  EXPECT_EQ(PopupHeight(1), 34);
  EXPECT_EQ(PopupHeight(3), 98);
  EXPECT_EQ(PopupHeight(6), 194);
  EXPECT_EQ(PopupHeight(7), 194);  // 226 would exceed 200: the list scrolls
  EXPECT_EQ(PopupHeight(8), 194);
  // Before any choice the current member is empty and the server list too.
  exchange.ApplyServerList(Doc({Record(1, "a", 1), Record(2, "a", 2), Record(3, "a", 3), Record(4, "b", 4)}));
  EXPECT_EQ(TServerPopup(TPopupMode::Servers, ServerItems(config, Names(), selection.MemberText())).Height(), 2);
  selection.SelectMember("a", config, Names());
  const TServerPopup popup(TPopupMode::Servers, ServerItems(config, Names(), selection.MemberText()));
  ASSERT_EQ(popup.Items().size(), 3u);
  EXPECT_EQ(popup.Items()[0].text, "n3");
  EXPECT_EQ(popup.Items()[0].record->id, 3);
  EXPECT_EQ(popup.Height(), 98);
}

TEST(ServerPopupLook, ItemImagesAndColoursFollowStateAndRecommendation) {
  TServerInfo recommended;
  recommended.recommend = 1;
  struct TCase {
    TPopupItem item;
    bool highlighted;
    const char* background;
    bool newMark;
    uint32_t color;
  };
  const TCase cases[] = {
      {{"n", recommended}, false, "server_bk_normal", true, 0xFFFFFF00},
      {{"n", recommended}, true, "server_bk_active", true, 0xFFFFFFFF},
      {{"p", TServerInfo()}, false, "server_bk_normal", false, 0xFFD2A311},
      {{"g", std::nullopt}, false, "server_bk_normal", false, 0xFFD2A311},
      {{"g", std::nullopt}, true, "server_bk_active", false, 0xFFFFFFFF},
  };
  for (const TCase& c : cases) {
    const TItemLook look = ItemLook(c.item, c.highlighted);
    EXPECT_STREQ(look.background, c.background) << c.item.text << c.highlighted;
    EXPECT_EQ(look.newMark, c.newMark) << c.item.text << c.highlighted;
    EXPECT_EQ(look.textColor, c.color) << c.item.text << c.highlighted;
  }
}

TEST_F(ServerSelection, PopupCommitsTheHighlightedItemOnly) {
  exchange.ApplyServerList(Doc({Record(1, "a", 1), Record(2, "b", 2), Record(3, "b", 3)}));
  selection.SelectMember("b", config, Names());
  ASSERT_EQ(selection.CurrentServer().id, 2);
  TServerPopup servers(TPopupMode::Servers, ServerItems(config, Names(), "b"));
  ASSERT_EQ(servers.Items().size(), 2u);
  // Nothing highlighted: the pop-up only closes.
  servers.Commit(selection, config, Names());
  EXPECT_EQ(selection.CurrentServer().id, 2);
  // The pointer over the second item, then below the last one.
  servers.PointerAt(40, 0);
  EXPECT_EQ(servers.Highlighted(), 1);
  servers.PointerAt(70, 0);
  EXPECT_EQ(servers.Highlighted(), -1);
  servers.PointerAt(5, 0);
  servers.Commit(selection, config, Names());
  EXPECT_EQ(selection.CurrentServer().id, 3);
  // Scrolled by one: the first row shows the second item.
  servers.PointerAt(5, 1);
  EXPECT_EQ(servers.Highlighted(), 1);

  TServerPopup groups(TPopupMode::Members, MemberItems(Names()));
  groups.Highlight(1);  // "a"
  groups.Commit(selection, config, Names());
  EXPECT_EQ(selection.MemberText(), "a");
  EXPECT_EQ(selection.CurrentServer().id, 1);

  EXPECT_EQ(PopupKeyAction(27), TPopupKeyAction::Commit);  // Escape applies as well
  EXPECT_EQ(PopupKeyAction(13), TPopupKeyAction::Commit);
  EXPECT_EQ(PopupKeyAction(40), TPopupKeyAction::ToList);
}

// The echo worker writes round-trip times while the user-interface thread
// reloads the list and the picker reads, copies and selects records. Every
// record the picker holds must stay whole, and under the sanitizers no
// record may be freed under a reader or under the echo worker.
TEST_F(ServerSelection, ReloadsEchoUpdatesAndPickerReadsTogether) {
  TUDPEchoServer echo(static_cast<uint16_t>(TestPortBase() + 37));
  ASSERT_TRUE(WaitUntil([&] { return echo.IsOpen(); }));
  TServerConfig live(folder.Path(), &echo);
  TDirectoryExchange liveExchange(live, window, ticks, queue, nullptr, TDirectoryInputs{"12", [] { return 3; }, {}});
  std::atomic<bool> stop{false};
  std::atomic<int> sent{0};
  std::thread sender([&] {
    TUdpPeer peer;
    const uint32_t keys[] = {1, 2, 3, 4, 0x8001};
    while (!stop) {
      for (uint32_t key : keys) sent += peer.SendTo([&] {
        std::vector<uint8_t> probe(EchoProbeSize);
        BuildEchoProbe(MsCounter(), key, probe.data());
        return probe;
      }(), echo.Port());
      std::this_thread::yield();
    }
  });

  const auto at127 = [](int id, const std::string& member, int recommend) {
    return Record(id, member, 100 - id, ",\"ip\":\"127.0.0.1\",\"recommend\":" + std::to_string(recommend));
  };
  std::vector<TPopupItem> held;  // a pop-up left open across reloads
  int checked = 0;
  const uint32_t start = GetTickCount32();
  // A second and a half of it, and at least 5,000 probes.
  for (int i = 0; GetTickCount32() - start < 1500 || (sent.load() < 5000 && GetTickCount32() - start < 6000); ++i) {
    const int count = 1 + i % 4;
    std::vector<std::string> records;
    for (int id = 1; id <= count; ++id) records.push_back(at127(id, id % 2 ? "a" : "b", 0));
    records.push_back(at127(50, "a", 2));
    liveExchange.ApplyServerList(Doc(records));
    if (i % 5 == 0) held = ServerItems(live, liveExchange.ServerNames(), "a");
    selection.SelectMember(i % 2 ? "a" : "b", live, liveExchange.ServerNames());
    TServerPopup popup(TPopupMode::Members, MemberItems(liveExchange.ServerNames()));
    popup.Highlight(i % 2);
    popup.Commit(selection, live, liveExchange.ServerNames());
    for (const TPopupItem& item : held) {
      ASSERT_TRUE(item.record.has_value());
      EXPECT_EQ(item.text, Format("n%d", item.record->id));
      EXPECT_EQ(item.record->ip, "127.0.0.1");
      EXPECT_GE(item.record->rtt, -1);
      ++checked;
    }
    if (i % 9 == 0) live.Clear();
  }
  stop = true;
  sender.join();
  EXPECT_GT(sent.load(), 1000);
  EXPECT_GT(checked, 0);
  // The echo worker did reach the records: a probe for the priority record
  // comes back as its round-trip time.
  liveExchange.ApplyServerList(Doc({at127(1, "a", 0), at127(50, "a", 2)}));
  TUdpPeer peer;
  ASSERT_TRUE(WaitUntil([&] {
    std::vector<uint8_t> probe(EchoProbeSize);
    BuildEchoProbe(MsCounter(), 0x8001, probe.data());
    peer.SendTo(probe, echo.Port());
    return ServerItems(live, liveExchange.ServerNames(), "a").front().record->rtt >= 0;
  }));
}
