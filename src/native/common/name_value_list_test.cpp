#include "name_value_list.h"

#include <gtest/gtest.h>

#include "trace.h"

namespace {

std::vector<std::pair<std::string, std::string>> pairs(const std::vector<NameValue>& entries) {
  std::vector<std::pair<std::string, std::string>> result;
  for (const NameValue& entry : entries) result.emplace_back(entry.name, entry.value);
  return result;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

}  // namespace

TEST(NameValueList, ReplacingKeepsFirstAddedOrder) {
  NameValueList list;
  utlListAdd(list, "a", "1");
  utlListAdd(list, "b", "2");
  utlListAdd(list, "a", "3");
  EXPECT_EQ(pairs(utlListEnumStart(list)), (Pairs{{"a", "3"}, {"b", "2"}}));
  ASSERT_NE(utlListGet(&list, "a"), nullptr);
  EXPECT_EQ(*utlListGet(&list, "a"), "3");
  utlListAdd(list, "A", "upper");
  EXPECT_EQ(*utlListGet(&list, "A"), "upper");
  EXPECT_EQ(*utlListGet(&list, "a"), "3");
  EXPECT_EQ(utlListGet(&list, "c"), nullptr);
  EXPECT_EQ(utlListGet(&list, ""), nullptr);
  EXPECT_EQ(utlListGet(nullptr, "a"), nullptr);
}

TEST(NameValueList, GrowsPastItsFirstCapacityInOrder) {
  NameValueList list;
  for (int i = 0; i < 100; ++i) utlListAdd(list, "n" + std::to_string(i), std::to_string(i));
  ASSERT_EQ(list.size(), 100u);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(list.entries()[i].name, "n" + std::to_string(i));
    EXPECT_EQ(*utlListGet(&list, "n" + std::to_string(i)), std::to_string(i));
  }
}

TEST(NameValueList, EnumerationIsASnapshot) {
  NameValueList list;
  EXPECT_TRUE(utlListEnumStart(list).empty());
  utlListAdd(list, "x", "1");
  std::vector<NameValue> snapshot = utlListEnumStart(list);
  utlListAdd(list, "x", "2");
  utlListAdd(list, "y", "3");
  EXPECT_EQ(pairs(snapshot), (Pairs{{"x", "1"}}));
}

TEST(NameValueList, NameEqualValueSplitsAtTheFirstEquals) {
  NameValueList list;
  EXPECT_TRUE(utlListAddNameEqualValue(list, "x="));
  EXPECT_TRUE(utlListAddNameEqualValue(list, "y=a=b"));
  EXPECT_EQ(pairs(list.entries()), (Pairs{{"x", ""}, {"y", "a=b"}}));

  ut_treset("-p");
  testing::internal::CaptureStdout();
  EXPECT_FALSE(utlListAddNameEqualValue(list, "=v"));
  EXPECT_FALSE(utlListAddNameEqualValue(list, "novalue"));
  std::string trace = testing::internal::GetCapturedStdout();
  ut_treset(nullptr);
  EXPECT_EQ(trace, "No variable name specified in <=v>\nNo variable name specified in <novalue>\n");
  EXPECT_EQ(list.size(), 2u);
}
