#include "servers/ServerSelection.h"

#include <utility>

#include "common/TextCase.h"

void TServerSelection::SelectServer(const TServerInfo& record) {
  FView.SetCurrentServerText(record.name);
  FView.SetMemberText(record.member);
  FCurrentServer = record;
  FMemberText = record.member;
  FView.EnableStart();
}

void TServerSelection::SelectMember(const std::string& text, const TServerConfig& config,
                                    const std::vector<TServerName>& names) {
  FMemberText = text;
  FView.SetMemberText(text);
  for (const TServerName& entry : names)
    if (entry.record && entry.record->member == text) SelectServer(config.CopyRecord(*entry.record));
}

bool TServerSelection::SelectByName(const std::string& name, const TServerConfig& config,
                                    const std::vector<TServerName>& names) {
  for (const TServerName& entry : names)
    if (entry.record && SameText(entry.name, name)) {
      SelectServer(config.CopyRecord(*entry.record));
      return true;
    }
  return false;
}

std::vector<TPopupItem> ServerItems(const TServerConfig& config, const std::vector<TServerName>& names,
                                    const std::string& member) {
  std::vector<TPopupItem> items;
  for (const TServerName& entry : names)
    if (entry.record && entry.record->member == member) items.push_back({entry.name, config.CopyRecord(*entry.record)});
  return items;
}

std::vector<TPopupItem> MemberItems(const std::vector<TServerName>& names) {
  std::vector<TPopupItem> items;
  for (const TServerName& entry : names) {
    if (!entry.record) continue;
    const std::string& member = entry.record->member;
    bool present = false;
    for (const TPopupItem& item : items) present = present || SameText(item.text, member);
    if (!present) items.push_back({member, std::nullopt});
  }
  return items;
}

int PopupHeight(size_t itemCount) {
  const int64_t height = static_cast<int64_t>(itemCount) * PopupItemHeight + 2;
  return height > PopupHeightLimit ? PopupScrollHeight : static_cast<int>(height);
}

TItemLook ItemLook(const TPopupItem& item, bool highlighted) {
  const bool recommended = item.record && item.record->recommend != 0;
  TItemLook look;
  look.background = highlighted ? ItemImageActive : ItemImageNormal;
  look.newMark = recommended;
  look.textColor = highlighted ? ItemTextWhite : recommended ? ItemTextYellow : ItemTextGold;
  return look;
}

TPopupKeyAction PopupKeyAction(int key) {
  constexpr int Enter = 13;
  constexpr int Escape = 27;
  return key == Enter || key == Escape ? TPopupKeyAction::Commit : TPopupKeyAction::ToList;
}

TServerPopup::TServerPopup(TPopupMode mode, std::vector<TPopupItem> items) : FMode(mode), FItems(std::move(items)) {}

void TServerPopup::Highlight(int index) {
  FHighlighted = index >= 0 && index < static_cast<int>(FItems.size()) ? index : -1;
}

void TServerPopup::PointerAt(int y, int topIndex) {
  if (y < 0) {
    Highlight(-1);
    return;
  }
  Highlight(topIndex + y / PopupItemHeight);
}

void TServerPopup::Commit(TServerSelection& selection, const TServerConfig& config,
                          const std::vector<TServerName>& names) const {
  if (FHighlighted < 0) return;
  const TPopupItem& item = FItems[static_cast<size_t>(FHighlighted)];
  if (FMode == TPopupMode::Servers) {
    if (item.record) selection.SelectServer(*item.record);
  } else {
    selection.SelectMember(item.text, config, names);
  }
}
