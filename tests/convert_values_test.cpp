// The value rules: numeric codes, code list look-ups, blank cells and the
// fragments of each kind, and entries whose cells lie outside the title table.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "convert/valuerules.h"
#include "env/errors.h"
#include "env/platform.h"
#include "tests/support.h"

namespace s2q {
namespace {

using test::TempDir;
using test::WriteCp932;
using Fragments = std::vector<std::string>;

class ValueRules : public ::testing::Test {
 protected:
  ValueRules() : platform(test::FactsOn(dir.path())) {
    std::filesystem::create_directories(dir / "C/PATDAT");
  }

  void WriteList(const std::string& name, const std::string& text) {
    WriteCp932(dir / "C/PATDAT" / name, text);
  }
  std::string Lookup(const std::string& code, const std::string& file = "L1.TXT") {
    return LookupCode(code, file, patdat, platform);
  }
  Fragments Of(const TitleEntry& entry, int index = 0) {
    return ValueFragments(entry, index, {table, codeLists, patdat, platform});
  }
  static TitleEntry Entry(const std::string& name, int16_t kind, int16_t fileNo, int16_t itemNo) {
    TitleEntry e;
    e.FieldName = name;
    e.FieldKind = kind;
    e.FileNo = fileNo;
    e.ItemNo = itemNo;
    e.SelectFlg = 1;
    return e;
  }
  // Cell (FileNo, ItemNo), both counted from 1.
  std::string& Cell(int fileNo, int itemNo) { return table.cells[fileNo - 1][itemNo - 1]; }

  TempDir dir;
  Platform platform;
  std::string patdat = "C:\\PATDAT\\";
  std::vector<std::string> codeLists = BuildCodeListFiles();
  TitleTable table;
};

TEST(NumericValue, LeadingNumberWithBlanksTabsAndLineFeedsIgnored) {
  EXPECT_EQ(NumericValue("1"), 1.0);
  EXPECT_EQ(NumericValue("01"), 1.0);
  EXPECT_EQ(NumericValue(" 1 2 "), 12.0);
  EXPECT_EQ(NumericValue("\t3\n4"), 34.0);
  EXPECT_EQ(NumericValue("12.5m"), 12.5);
  EXPECT_EQ(NumericValue("1 . 5"), 1.5);
  EXPECT_EQ(NumericValue("-2"), -2.0);
  EXPECT_EQ(NumericValue("+7x"), 7.0);
  EXPECT_EQ(NumericValue(".5"), 0.5);
  EXPECT_EQ(NumericValue("1e2"), 100.0);
  EXPECT_EQ(NumericValue("1e"), 1.0);   // an exponent without digits is not read
  EXPECT_EQ(NumericValue("2E-1x"), 0.2);
  EXPECT_EQ(NumericValue("1,5"), 1.0);  // reading stops at the comma
  EXPECT_EQ(NumericValue("1\r2"), 1.0);  // a carriage return is not a blank
}

TEST(NumericValue, TextWithoutANumberIsZero) {
  EXPECT_EQ(NumericValue(""), 0.0);
  EXPECT_EQ(NumericValue(" "), 0.0);
  EXPECT_EQ(NumericValue("abc"), 0.0);
  EXPECT_EQ(NumericValue("-"), 0.0);
  EXPECT_EQ(NumericValue("."), 0.0);
  EXPECT_EQ(NumericValue("１"), 0.0);  // a full-width digit is no digit
  // Beyond a double: too large is infinite, too small is 0, exponent or not.
  EXPECT_EQ(NumericValue("1e999"), HUGE_VAL);
  EXPECT_EQ(NumericValue("-1" + std::string(400, '0')), -HUGE_VAL);
  EXPECT_EQ(NumericValue("1e-999"), 0.0);
  EXPECT_EQ(NumericValue("0." + std::string(400, '0') + "1"), 0.0);
}

TEST_F(ValueRules, LookupComparesCodesAsNumbersAndTheFirstPairWins) {
  WriteList("L1.TXT", "01,\"TP\"\r\n1,\"second\"\r\n0,\"zero\"\r\n2.50,\"half\"\r\n");
  EXPECT_EQ(Lookup("1"), "TP");
  EXPECT_EQ(Lookup(" 1 "), "TP");
  EXPECT_EQ(Lookup(" "), "zero");  // a blank code value finds code 0
  EXPECT_EQ(Lookup("2.5"), "half");
  EXPECT_EQ(Lookup("3"), " ");
  // Read anew every time.
  WriteList("L1.TXT", "1,\"GL\"\r\n");
  EXPECT_EQ(Lookup("1"), "GL");
}

TEST_F(ValueRules, LookupOfAMissingEmptyOrOddList) {
  EXPECT_EQ(Lookup("1", "L2.TXT"), " ");
  test::WriteFile(dir / "C/PATDAT/L3.TXT", "");
  EXPECT_EQ(Lookup("0", "L3.TXT"), " ");
  EXPECT_FALSE(std::filesystem::exists(dir / "C/PATDAT/L3.TXT"));  // the empty file is deleted
  // The last code has no text: it never matches, the pairs before it do.
  WriteList("L2.TXT", "1,\"A\"\r\n2\r\n");
  EXPECT_EQ(Lookup("1", "L2.TXT"), "A");
  EXPECT_EQ(Lookup("2", "L2.TXT"), " ");
  // Pairs counted over the items, not the lines.
  WriteList("L2.TXT", "1,\"A\",2\r\n\"B\"\r\n");
  EXPECT_EQ(Lookup("2", "L2.TXT"), "B");
}

TEST_F(ValueRules, CodeListsAreFoundWhateverTheCaseOfAToZ) {
  WriteList("l1.txt", "1,\"TP\"\r\n");
  EXPECT_EQ(Lookup("1", "L1.TXT"), "TP");
#ifndef _WIN32  // Windows keeps no two names that differ in case only
  WriteList("L1.TXT", "1,\"GL\"\r\n");
  EXPECT_THROW(Lookup("1", "L1.TXT"), Error);  // two lists for one name
#endif
}

TEST_F(ValueRules, LookupOfAnUnreadableListFails) {
  test::WriteFile(dir / "C/PATDAT/L1.TXT", "1,\"\x81\x20\"\r\n");  // not code page 932
  EXPECT_THROW(Lookup("1"), Error);
}

TEST(IsBlank, SpacesAndFullWidthSpacesOnly) {
  EXPECT_TRUE(IsBlank(""));
  EXPECT_TRUE(IsBlank("   "));
  EXPECT_TRUE(IsBlank("　"));
  EXPECT_TRUE(IsBlank(" 　 "));
  EXPECT_FALSE(IsBlank(" a "));
  EXPECT_FALSE(IsBlank("\t"));
  EXPECT_FALSE(IsBlank("　山　"));
}

TEST_F(ValueRules, TextValues) {
  const TitleEntry name = Entry("ボーリング名", kKindText, 1, 1);
  Cell(1, 1) = "";
  EXPECT_EQ(Of(name), Fragments{"' '"});
  Cell(1, 1) = "　";  // a full-width blank is replaced as well
  EXPECT_EQ(Of(name), Fragments{"' '"});
  Cell(1, 1) = " No.1 ";  // kept with its spaces
  EXPECT_EQ(Of(name), Fragments{"' No.1 '"});
  Cell(1, 1) = "O'Hara's";
  EXPECT_EQ(Of(name), Fragments{"'O''Hara''s'"});
}

TEST_F(ValueRules, DatesUseThreeCellsUnchanged) {
  const TitleEntry start = Entry("調査期間開始", kKindDate, 1, 3);
  Cell(1, 3) = "1998";
  Cell(1, 4) = "12";
  Cell(1, 5) = "01";
  EXPECT_EQ(Of(start), Fragments{"'1998/12/01'"});
  Cell(1, 3) = Cell(1, 4) = Cell(1, 5) = " ";  // a missing title file
  EXPECT_EQ(Of(start), Fragments{"' / / '"});
  Cell(1, 4) = "1'2";
  EXPECT_EQ(Of(start), Fragments{"' /1''2/ '"});
}

TEST_F(ValueRules, NumbersAndCoordinates) {
  const TitleEntry angle = Entry("掘進角度", kKindInteger, 1, 1);
  const TitleEntry depth = Entry("総削孔長", kKindSingle, 1, 2);
  const TitleEntry latitude = Entry("調査緯度", kKindInteger, 1, 10);
  EXPECT_EQ(Of(angle), Fragments{"0"});
  EXPECT_EQ(Of(depth), Fragments{"0.0"});
  EXPECT_EQ(Of(latitude), (Fragments{"0", "0", "0.0"}));
  Cell(1, 2) = " 12.5";
  EXPECT_EQ(Of(depth), Fragments{" 12.5"});
  Cell(1, 10) = "35";
  Cell(1, 11) = "41";
  EXPECT_EQ(Of(latitude), (Fragments{"35", "41", "0.0"}));
  Cell(1, 12) = "7.25";
  EXPECT_EQ(Of(latitude), (Fragments{"35", "41", "7.25"}));
  // Only the exact names are coordinates, and only as kind 2.
  EXPECT_EQ(Of(Entry("調査緯度 ", kKindInteger, 1, 10)), Fragments{"35"});
  EXPECT_EQ(Of(Entry("調査緯度", kKindSingle, 1, 10)), Fragments{"35"});
}

TEST_F(ValueRules, NumberCellsMustHoldANumber) {
  const TitleEntry depth = Entry("総削孔長", kKindSingle, 1, 1);
  const TitleEntry longitude = Entry("調査経度", kKindInteger, 1, 2);
  for (const char* number : {"12", " -3 ", "+.5", "1e3", "2.", "7E-2"}) {
    Cell(1, 1) = number;
    EXPECT_EQ(Of(depth), Fragments{number});
  }
  // Anything else would stand unquoted in the statement and change it.
  for (const char* text : {"深い", "5,ボーリング名 = 'x'", "Null", "1 2", "1e", "0x10", "'1'"}) {
    Cell(1, 1) = text;
    EXPECT_THROW(Of(depth), Error) << text;
  }
  Cell(1, 2) = "139";
  Cell(1, 3) = "45";
  Cell(1, 4) = "1.5.0";
  try {
    Of(longitude, 17);
    ADD_FAILURE() << "a bad seconds cell was written";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("調査経度"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("1.5.0"), std::string::npos) << e.what();
  }
}

TEST_F(ValueRules, CodeListFields) {
  WriteList("L1.TXT", "1,\"TP\"\r\n0,\"GL\"\r\n");
  WriteList("L3.TXT", "3,\"GL-\"\r\n");
  const TitleEntry elevation = Entry("孔口標高", kKindText, 2, 3);
  const TitleEntry water = Entry("孔内水位", kKindText, 2, 3);
  Cell(2, 3) = "1";
  Cell(2, 5) = "12.5";
  EXPECT_EQ(Of(elevation), Fragments{"'TP 12.5'"});
  Cell(2, 3) = "9";
  EXPECT_EQ(Of(elevation), Fragments{"'  12.5'"});
  Cell(2, 3) = "";  // blank: code 0
  EXPECT_EQ(Of(elevation), Fragments{"'GL 12.5'"});
  Cell(2, 3) = "3";
  EXPECT_EQ(Of(water), Fragments{"'GL- 12.5'"});
  // The extra cell stands unchanged, blank or not.
  Cell(2, 5) = "";
  EXPECT_EQ(Of(water), Fragments{"'GL- '"});

  const TitleEntry hammer = Entry("ハンマ落下用具", kKindText, 2, 8);
  Cell(2, 8) = "2";
  EXPECT_EQ(Of(hammer), Fragments{"' '"});  // L2.TXT missing
  WriteList("L2.TXT", "2,\"半自動落下装置（トンビ's）\"\r\n");
  EXPECT_EQ(Of(hammer), Fragments{"'半自動落下装置（トンビ''s）'"});

  // A name that differs only by width or spacing is not translated.
  Cell(2, 3) = "1";
  EXPECT_EQ(Of(Entry("孔口標高 ", kKindText, 2, 3)), Fragments{"'1'"});
  EXPECT_EQ(Of(Entry("孔口ﾋｮｳｺｳ", kKindText, 2, 3)), Fragments{"'1'"});
}

TEST_F(ValueRules, EntriesOutsideTheTableAreRefusedByCatalogueLineAndName) {
  auto message = [&](const TitleEntry& e, int index) -> std::string {
    try {
      Of(e, index);
    } catch (const Error& err) {
      return err.what();
    }
    return "(no error)";
  };
  const std::string m = message(Entry("調査名", kKindText, 7, 1), 12);
  // Entry 12 stands on line 14, after the destination folder line.
  EXPECT_EQ(m.rfind("表題項目「調査名」（TitleDb.TXT の 14 行目）の位置", 0), 0u) << m;
  EXPECT_NE(message(Entry("調査名", kKindText, 0, 1), 1), "(no error)");
  EXPECT_NE(message(Entry("調査名", kKindText, 1, 0), 1), "(no error)");
  EXPECT_NE(message(Entry("調査名", kKindText, 1, 43), 1), "(no error)");
  EXPECT_NE(message(Entry("調査名", kKindText, -1, 1), 1), "(no error)");
  // The last item is fine for a value of one cell.
  Cell(6, 42) = "x";
  EXPECT_EQ(Of(Entry("調査名", kKindText, 6, 42)), Fragments{"'x'"});
  EXPECT_EQ(Of(Entry("孔内水位", kKindText, 1, 40)).size(), 1u);
  // Values that take the next two items must start by item 40.
  for (const TitleEntry& e : {Entry("調査期間開始", kKindDate, 1, 41),
                              Entry("調査経度", kKindInteger, 1, 41),
                              Entry("孔口標高", kKindText, 1, 41),
                              Entry("孔内水位", kKindText, 2, 42)}) {
    EXPECT_NE(message(e, 3).find(e.FieldName), std::string::npos) << e.FieldName;
  }
  EXPECT_NE(message(Entry("調査名", 4, 1, 1), 5).find("調査名"), std::string::npos);
}

}  // namespace
}  // namespace s2q
