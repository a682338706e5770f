#include "common/platform/convert.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/platform/errors.h"

using namespace PRESCORA_NS::platform;
using namespace PRESCORA_NS::platform::convert;

namespace {

// The runtime error number a conversion raises, 0 when it raises none.
template <class F>
int32_t ErrorOf(F&& convert) {
  try {
    convert();
  } catch (const Failure& failure) {
    return failure.Number();
  }
  return 0;
}

TEST(IntegerConversion, RoundsHalvesToEven) {
  EXPECT_EQ(ToInt16("2.5"), 2);
  EXPECT_EQ(ToInt16("3.5"), 4);
  EXPECT_EQ(ToInt16("-2.5"), -2);
  EXPECT_EQ(ToInt16("-3.5"), -4);
  EXPECT_EQ(ToInt16("2.5001"), 3);
  EXPECT_EQ(ToInt32("1234567.5"), 1234568);
  EXPECT_EQ(RoundToInt32(41.5), 42);
  EXPECT_EQ(RoundToInt32(40.5), 40);
}

TEST(IntegerConversion, AcceptsSpacesSignsAndExponents) {
  EXPECT_EQ(ToInt16("  7 "), 7);
  EXPECT_EQ(ToInt16("\t-12\t"), -12);
  EXPECT_EQ(ToInt16("+5"), 5);
  EXPECT_EQ(ToInt16("5."), 5);
  EXPECT_EQ(ToInt16("1.5E+1"), 15);
}

TEST(IntegerConversion, NotANumberIsTypeMismatch) {
  for (const char* text :
       {"", "   ", "abc", "12abc", "1,5", "1 2", "-", ".", "e5", "0x10", "1e", "inf", "nan"}) {
    EXPECT_EQ(ErrorOf([&] { ToInt16(text); }), errTypeMismatch) << '"' << text << '"';
    EXPECT_EQ(ErrorOf([&] { ToInt32(text); }), errTypeMismatch) << '"' << text << '"';
  }
}

TEST(IntegerConversion, OutOfRangeIsOverflow) {
  EXPECT_EQ(ToInt16("32767"), 32767);
  EXPECT_EQ(ToInt16("-32768"), -32768);
  EXPECT_EQ(ToInt16("32766.5"), 32766);
  EXPECT_EQ(ErrorOf([] { ToInt16("32767.5"); }), errOverflow);  // rounds to 32768
  EXPECT_EQ(ErrorOf([] { ToInt16("32768"); }), errOverflow);
  EXPECT_EQ(ErrorOf([] { ToInt16("-32769"); }), errOverflow);
  EXPECT_EQ(ErrorOf([] { ToInt16("1e10"); }), errOverflow);
  EXPECT_EQ(ErrorOf([] { ToInt16("1e400"); }), errOverflow);
  EXPECT_EQ(ToInt32("2147483647"), 2147483647);
  EXPECT_EQ(ToInt32("-2147483648"), INT32_MIN);
  EXPECT_EQ(ErrorOf([] { ToInt32("2147483648"); }), errOverflow);
  EXPECT_EQ(ErrorOf([] { ToInt32("2147483647.5"); }), errOverflow);
  EXPECT_EQ(ErrorOf([] { RoundToInt32(1e20); }), errOverflow);
  EXPECT_EQ(ToInt16("1e-400"), 0);
}

TEST(LeadingNumber, ReadsTheNumberAtTheStart) {
  EXPECT_EQ(LeadingNumber("1500000"), 1500000);
  EXPECT_EQ(LeadingNumber("100KB"), 100);
  EXPECT_EQ(LeadingNumber("  -3.25 euros"), -3.25);
  EXPECT_EQ(LeadingNumber("1.2.3"), 1.2);
  EXPECT_EQ(LeadingNumber("2e3x"), 2000);
  EXPECT_EQ(LeadingNumber("7e"), 7);
  EXPECT_EQ(LeadingNumber("abc"), 0);
  EXPECT_EQ(LeadingNumber(""), 0);
  EXPECT_EQ(LeadingNumber("x12"), 0);
}

TEST(IsNumeric, WholeTextMustBeANumber) {
  EXPECT_TRUE(IsNumeric("41"));
  EXPECT_TRUE(IsNumeric(" 41 "));
  EXPECT_TRUE(IsNumeric("-0.5"));
  EXPECT_TRUE(IsNumeric("1E5"));
  EXPECT_TRUE(IsNumeric("20240517"));
  EXPECT_FALSE(IsNumeric(""));
  EXPECT_FALSE(IsNumeric(" "));
  EXPECT_FALSE(IsNumeric("2024-05-17"));
  EXPECT_FALSE(IsNumeric("41a"));
  EXPECT_FALSE(IsNumeric("1,5"));
}

TEST(ParseDate, AcceptsTheDocumentedForms) {
  auto is = [](const char* text, int y, int m, int d) {
    auto date = ParseDate(text);
    return date && date->year == y && date->month == m && date->day == d;
  };
  EXPECT_TRUE(is("7/12/2026", 2026, 12, 7));
  EXPECT_TRUE(is("07/12/2026", 2026, 12, 7));
  EXPECT_TRUE(is("07-12-2026", 2026, 12, 7));
  EXPECT_TRUE(is("7-1-2026", 2026, 1, 7));
  EXPECT_TRUE(is("07/12/26", 2026, 12, 7));
  EXPECT_TRUE(is("07/12/29", 2029, 12, 7));
  EXPECT_TRUE(is("07/12/30", 1930, 12, 7));
  EXPECT_TRUE(is("2026-12-07", 2026, 12, 7));
  EXPECT_TRUE(is(" 07/12/2026 ", 2026, 12, 7));
  EXPECT_TRUE(is("07/12/2026 10:30", 2026, 12, 7));
  EXPECT_TRUE(is("07/12/2026 9:05:03", 2026, 12, 7));
}

TEST(ParseDate, RefusesImpossibleAndMalformedDates) {
  for (const char* text :
       {"",           "31/02/2026", "29/02/2025",       "29/02/2100",    "31/04/2026",
        "0/12/2026",  "7/13/2026",  "7/0/2026",         "07/12/2026x",   "07/12-2026",
        "07.12.2026", "2026-02-30", "123/12/2026",      "07/12/202",     "07/12/20266",
        "20261207",   "hoy",        "07/12/2026 25:00", "07/12/2026 10", "07/12/2026 10:5",
        "1/1/0099"}) {
    EXPECT_FALSE(IsDate(text)) << '"' << text << '"';
  }
  EXPECT_TRUE(IsDate("29/02/2024"));
  EXPECT_TRUE(IsDate("29/02/2000"));
}

}  // namespace
