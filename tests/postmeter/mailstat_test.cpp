#include <gtest/gtest.h>

#include <cstdint>

#include "mailstat.h"

TEST(ParseSize, ReadsLeadingDigitsOnlyAndStopsAtTheTop) {
  EXPECT_EQ(parseSize("1234"), 1234u);
  EXPECT_EQ(parseSize("12abc"), 12u);
  EXPECT_EQ(parseSize("-1"), 0u);
  EXPECT_EQ(parseSize("+7"), 0u);
  EXPECT_EQ(parseSize(" 7"), 0u);
  EXPECT_EQ(parseSize(""), 0u);
  EXPECT_EQ(parseSize("4294967296"), 4294967296u);
  EXPECT_EQ(parseSize("18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(parseSize("18446744073709551616"), UINT64_MAX);
  EXPECT_EQ(parseSize("999999999999999999999999"), UINT64_MAX);
}

TEST(StatCounter, KeepsUsersAndClassesInOrderOfFirstCountAndSharesByName) {
  StatTable table;
  statTableInit(&table);
  char own[] = "inet", common[] = "inet";
  *statCounter(&table, "kate", "local") += 1;
  *statCounter(&table, "john", own) += 2;
  *statCounter(&table, "john", common) += 3;
  for (int i = 0; i < 25; ++i) *statCounter(&table, "john", i % 2 ? "local" : "inet") += 1;
  for (int i = 0; i < 12; ++i) *statCounter(&table, i % 2 ? "u1" : "u2", "c") += 1;
  // By class set: the user counted by name before, and a new one.
  *statCounterOfSet(&table, 7, "john", "local") += 100;
  *statCounterOfSet(&table, 9, "mike", "inet") += 7;
  *statCounterOfSet(&table, 7, "john", "local") += 100;
  ASSERT_EQ(table.userCount, 5u);
  EXPECT_STREQ(table.users[4], "mike");
  EXPECT_STREQ(table.users[0], "kate");
  EXPECT_STREQ(table.users[1], "john");
  ASSERT_EQ(table.classCounts[1], 2u);
  EXPECT_STREQ(table.classes[1][0].name, "inet");
  EXPECT_EQ(table.classes[1][0].bytes, 18u);
  EXPECT_EQ(table.classes[1][1].bytes, 212u);
  EXPECT_EQ(table.classes[3][0].bytes, 6u);
  statTableFree(&table);
  EXPECT_EQ(table.userCount, 0u);
  EXPECT_EQ(table.users, nullptr);

  // Emptied, the table finds no user of before; past 10 users it grows.
  const char *names[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"};
  *statCounterOfSet(&table, 7, "a", "c") += 1000;
  for (int i = 0; i < 36; ++i) *statCounter(&table, names[(i * 5) % 12], "c") += i;
  ASSERT_EQ(table.userCount, 12u);
  EXPECT_STREQ(table.users[1], "f");
  EXPECT_EQ(table.classes[1][0].bytes, 1u + 13 + 25);
  EXPECT_EQ(table.classes[0][0].bytes, 1000u + 12 + 24);
  statTableFree(&table);
}
