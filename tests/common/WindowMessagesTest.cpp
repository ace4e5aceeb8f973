#include "common/WindowMessages.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(WindowMessages, PostedTextIsTakenOnceAndForeignValuesAreNotTouched) {
  const std::string gbk = "\xD5\xFD\xD4\xDA\xB8\xFC\xD0\xC2";  // "正在更新"
  const uintptr_t posted = NewPostedText(gbk);
  EXPECT_EQ(TakePostedText(posted), gbk);
  // A second take of the same value and values of other processes' messages
  // (a forged wParam) read nothing and free nothing.
  EXPECT_EQ(TakePostedText(posted), "");
  std::string local = "stack text";
  EXPECT_EQ(TakePostedText(reinterpret_cast<uintptr_t>(local.data())), "");
  EXPECT_EQ(local, "stack text");
  EXPECT_EQ(TakePostedText(0), "");
  EXPECT_EQ(TakePostedText(0x12345678), "");
}

TEST(WindowMessages, TextsPostedFromSeveralThreadsAllArrive) {
  std::vector<uintptr_t> handles(400);
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t)
    workers.emplace_back([&handles, t] {
      for (int i = t; i < 400; i += 4) handles[i] = NewPostedText(std::to_string(i));
    });
  for (auto& worker : workers) worker.join();
  for (int i = 0; i < 400; ++i) EXPECT_EQ(TakePostedText(handles[i]), std::to_string(i));
}
