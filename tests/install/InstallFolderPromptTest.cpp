#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/logic/InstallFolderPrompt.h"
#include "platform/File.h"
#include "support/TestSupport.h"

namespace {

// A player who answers each showing of the dialog in turn: a text typed into
// Edit1 and OK, or (an absent answer) the close box.
struct TPlayer {
  struct TAnswer {
    bool ok;
    std::string typed;
  };
  std::vector<TAnswer> answers;
  std::vector<std::string> shownTexts;  // Edit1's text at each showing
  std::vector<bool> retries;

  bool Show(std::string& edit, bool retry) {
    shownTexts.push_back(edit);
    retries.push_back(retry);
    if (shownTexts.size() > answers.size()) return false;
    const TAnswer& answer = answers[shownTexts.size() - 1];
    if (answer.ok) edit = answer.typed;
    return answer.ok;
  }
};

bool Prompt(std::string& folder, TPlayer& player) {
  return PromptInstallFolder(
      folder, [&player](std::string& edit, bool retry) { return player.Show(edit, retry); }, DirectoryExists,
      ForceDirectories);
}

}  // namespace

// The dialog comes back until a folder exists or can be made; its first
// showing holds the proposed folder, later ones say the path did not exist.
TEST(InstallFolderPrompt, AsksUntilAFolderExistsOrIsMade) {
  TTempFolder temp;
  WriteWholeFile(temp / "file", "x");
  const std::string proposed = temp / "game/";
  const std::string blocked = temp / "file/sub/";  // under a file: cannot be made
  const std::string good = temp / "chosen/deep/";

  {
    TPlayer player{{{true, good}}};
    std::string folder = proposed;
    ASSERT_TRUE(Prompt(folder, player));
    EXPECT_EQ(folder, good);
    EXPECT_TRUE(DirectoryExists(good));
    EXPECT_EQ(player.shownTexts, std::vector<std::string>{proposed});
    EXPECT_EQ(player.retries, std::vector<bool>{false});
  }
  {
    // An unmakeable folder and an empty text each bring the dialog back.
    TPlayer player{{{true, blocked}, {true, ""}, {true, good}}};
    std::string folder = proposed;
    ASSERT_TRUE(Prompt(folder, player));
    EXPECT_EQ(folder, good);
    EXPECT_EQ(player.shownTexts, (std::vector<std::string>{proposed, blocked, ""}));
    EXPECT_EQ(player.retries, (std::vector<bool>{false, true, true}));
  }
}

// Closing the dialog without "安装" gives no folder, also after an earlier
// answer that named a folder that could not be made.
TEST(InstallFolderPrompt, ClosingTheDialogGivesNoFolder) {
  TTempFolder temp;
  WriteWholeFile(temp / "file", "x");
  const std::string proposed = temp / "game/";
  for (const std::vector<TPlayer::TAnswer>& answers :
       {std::vector<TPlayer::TAnswer>{}, std::vector<TPlayer::TAnswer>{{true, temp / "file/sub/"}}}) {
    TPlayer player{answers};
    std::string folder = proposed;
    EXPECT_FALSE(Prompt(folder, player));
    EXPECT_EQ(folder, proposed);
    EXPECT_EQ(player.shownTexts.size(), answers.size() + 1);
  }
  EXPECT_FALSE(DirectoryExists(proposed));
}
