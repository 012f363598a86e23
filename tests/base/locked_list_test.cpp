#include "base/locked_list.h"

#include <gtest/gtest.h>

#include "base/shared_string.h"

namespace zarvik {

namespace {

TEST(LockedList, GrowsFromEightByDoubling) {
  LockedList<SharedString> list;
  EXPECT_EQ(list.capacity(), 0);
  ASSERT_TRUE(list.append("1"));
  EXPECT_EQ(list.capacity(), 8);
  for (int i = 2; i <= 8; ++i) ASSERT_TRUE(list.append(SharedString::fromInteger(i)));
  EXPECT_EQ(list.capacity(), 8);
  ASSERT_TRUE(list.append("9"));
  EXPECT_EQ(list.capacity(), 16);
  EXPECT_EQ(list.count(), 9);
  EXPECT_EQ(list[1], "1");  // indexed from 1
  EXPECT_EQ(*list.itemAt(9), "9");
}

TEST(LockedList, ClearKeepsTheCapacity) {
  LockedList<SharedString> list;
  for (int i = 0; i < 9; ++i) ASSERT_TRUE(list.append("x"));
  list.clear();
  EXPECT_TRUE(list.isEmpty());
  EXPECT_EQ(list.capacity(), 16);
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(list.append("y"));
  EXPECT_EQ(list.capacity(), 16);
}

TEST(LockedList, AppendAllAndAssignCopyTheElements) {
  LockedList<SharedString> source;
  LockedList<SharedString> target;
  target.appendAll(source);  // empty: nothing reserved
  EXPECT_EQ(target.capacity(), 0);

  ASSERT_TRUE(source.append("a"));
  ASSERT_TRUE(source.append("b"));
  target.appendAll(source);
  target.appendAll(source);
  EXPECT_EQ(target.count(), 4);
  EXPECT_EQ(target[3], "a");

  target[1].append('!');
  EXPECT_EQ(source[1], "a");  // the lists own separate elements

  target.assign(source);
  EXPECT_EQ(target.count(), 2);
  LockedList<SharedString> copy(source);
  EXPECT_EQ(copy.count(), 2);
  EXPECT_EQ(copy[2], "b");
}

TEST(LockedList, AppendingOrAssigningItselfIsSafe) {
  LockedList<SharedString> list;
  ASSERT_TRUE(list.append("a"));
  ASSERT_TRUE(list.append("b"));
  // The elements present at the call are copied once, not the ones it adds.
  list.appendAll(list);
  ASSERT_EQ(list.count(), 4);
  EXPECT_EQ(list[3], "a");
  EXPECT_EQ(list[4], "b");

  list.assign(list);  // keeps its elements instead of clearing them first
  EXPECT_EQ(list.count(), 4);
  EXPECT_EQ(list[1], "a");
}

TEST(LockedList, IndexOutsideTheElementsIsCaught) {
  LockedList<SharedString> list;
  ASSERT_TRUE(list.append("a"));
#ifdef NDEBUG
  // Release builds read nothing: no element, and a write goes nowhere.
  for (const std::int32_t index : {0, 2, -1}) {
    EXPECT_EQ(list.itemAt(index), nullptr) << index;
    list[index].append("lost");
    EXPECT_TRUE(list[index].isEmpty()) << index;
  }
  EXPECT_EQ(list[1], "a");
#else
  EXPECT_DEATH(static_cast<void>(list.itemAt(0)), "out of range");
  EXPECT_DEATH(static_cast<void>(list.itemAt(2)), "out of range");
#endif
}

TEST(LockedList, LockingWorksWithAndWithoutACriticalSection) {
  LockedList<int> plain;
  for (int i = 0; i < 3; ++i) {
    ScopedLock guard(plain);  // no critical section: nothing happens
  }
  EXPECT_EQ(plain.lockHandle(), nullptr);

  LockedList<int> locked;
  locked.enableLock();
  ASSERT_NE(locked.lockHandle(), nullptr);
  {
    ScopedLock outer(locked);
    ScopedLock inner(locked);  // recursive: the same thread may enter again
    ASSERT_TRUE(locked.append(7));
    EXPECT_EQ(locked[1], 7);
  }
  EXPECT_FALSE(locked.reserve(LockedList<int>::kMaxCapacity));
  EXPECT_TRUE(locked.reserve(100));
  EXPECT_EQ(locked.capacity(), 100);
}

}  // namespace

}  // namespace zarvik
