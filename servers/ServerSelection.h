// Server selection: the main window's choice of a group and a server, and
// the pop-up list's contents, size, item looks and commit rule. Everything
// here runs on the user-interface thread. Records reach the selection and
// the pop-up only as copies taken under TServerConfig's lock, so neither a
// reload nor an echo update changes a record while it is read or drawn.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/TextCase.h"
#include "servers/DirectoryExchange.h"
#include "servers/uConfig.h"

// What a choice changes in the main window.
class ISelectionView {
public:
  virtual ~ISelectionView() = default;
  // The text of lbCurSelSrv.
  virtual void SetCurrentServerText(const std::u16string& name) = 0;
  // The text of lbMember.
  virtual void SetMemberText(const std::string& text) = 0;
  // LGStart becomes usable.
  virtual void EnableStart() = 0;
};

// The main window's selection state: CurrentServer (zero-filled until a
// choice, so its id is 0) and MemberText.
class TServerSelection {
public:
  explicit TServerSelection(ISelectionView& view) : FView(view) {}

  void SelectServer(const TServerInfo& record);
  // Every entry of `names` whose member equals `text` exactly is selected in
  // turn, so the last one stays; with none the current server is kept.
  void SelectMember(const std::string& text, const TServerConfig& config, const std::vector<TServerName>& names);
  // The click on lbLstSelSrv: the first entry whose name equals `name`
  // ignoring letter case. False when there is none.
  bool SelectByName(const std::string& name, const TServerConfig& config, const std::vector<TServerName>& names);

  const TServerInfo& CurrentServer() const { return FCurrentServer; }
  const std::string& MemberText() const { return FMemberText; }

private:
  ISelectionView& FView;
  TServerInfo FCurrentServer;
  std::string FMemberText;
};

enum class TPopupMode { Servers, Members };

struct TPopupItem {
  std::string text;                   // what the item shows (code page 936)
  std::optional<TServerInfo> record;  // server mode: a copy of the record
};

// Server mode: the entries of `names` whose member equals `member` exactly,
// in order. Member mode: the distinct member texts in order of first
// appearance, two texts that differ only in letter case counting as one.
std::vector<TPopupItem> ServerItems(const TServerConfig& config, const std::vector<TServerName>& names,
                                    const std::string& member);
std::vector<TPopupItem> MemberItems(const std::vector<TServerName>& names);

constexpr int PopupWidth = 245;
constexpr int PopupItemHeight = 32;
// Six items and the frame; a longer list scrolls.
constexpr int PopupScrollHeight = 194;
constexpr int PopupHeightLimit = 200;
// 32 x n + 2, or 194 when that exceeds 200.
int PopupHeight(size_t itemCount);

// The look of one item, as the owner-draw handler paints it.
constexpr const char* ItemImageNormal = "server_bk_normal";
constexpr const char* ItemImageActive = "server_bk_active";
constexpr const char* ItemImageNew = "server_new";
constexpr uint32_t ItemTextWhite = 0xFFFFFFFF;
constexpr uint32_t ItemTextYellow = 0xFFFFFF00;
constexpr uint32_t ItemTextGold = 0xFFD2A311;
constexpr uint32_t ItemShadowColor = 0xFF000000;
constexpr int ItemTextLeft = 15;
constexpr int ItemShadowOffset = 2;
constexpr uint32_t PopupFrameColor = 4227327;  // orange, 0x00BBGGRR
struct TItemLook {
  const char* background;
  bool newMark;  // "server_new" at the item's right edge, when the image exists
  uint32_t textColor;
};
TItemLook ItemLook(const TPopupItem& item, bool highlighted);

// What a key pressed in the pop-up does: Escape and Enter commit (Escape
// too applies the highlighted item); other keys go to the list.
enum class TPopupKeyAction { Commit, ToList };
TPopupKeyAction PopupKeyAction(int key);

// One pop-up while it is shown: its items, the highlighted one and the commit.
class TServerPopup {
public:
  TServerPopup(TPopupMode mode, std::vector<TPopupItem> items);
  TPopupMode Mode() const { return FMode; }
  const std::vector<TPopupItem>& Items() const { return FItems; }
  int Height() const { return PopupHeight(FItems.size()); }
  // -1 when no item is highlighted.
  int Highlighted() const { return FHighlighted; }
  void Highlight(int index);
  // The pointer at `y` in the list's client area, `topIndex` the first item
  // shown: the item under it, or none below the last item.
  void PointerAt(int y, int topIndex);
  // Applies the highlighted item (server mode: SelectServer with its copy;
  // member mode: SelectMember with its text). The pop-up closes after it in
  // every case.
  void Commit(TServerSelection& selection, const TServerConfig& config, const std::vector<TServerName>& names) const;

private:
  TPopupMode FMode;
  std::vector<TPopupItem> FItems;
  int FHighlighted = -1;
};
