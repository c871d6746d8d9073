#include "env/seqfile.h"

#include <gtest/gtest.h>

#include "env/codepage.h"
#include "env/errors.h"
#include "env/platform.h"
#include "tests/support.h"

namespace s2q {
namespace {

using test::FactsOn;
using test::ReadFile;
using test::TempDir;
using test::WriteCp932;

std::vector<std::string> AllItems(const std::string& bytes) {
  ItemReader reader = ItemReader::FromBytes(bytes, "T.TXT");
  std::vector<std::string> items;
  while (!reader.AtEnd()) items.push_back(reader.ReadItem());
  return items;
}

using Items = std::vector<std::string>;

TEST(ItemReader, LineLayoutsAndLineEndsGiveTheSameItems) {
  const Items expected{"a", "b,c", "d"};
  for (const char* bytes : {"a,\"b,c\",d", "a\r\n\"b,c\"\r\nd\r\n", "a\n\"b,c\"\nd\n", "a\r\"b,c\"\rd",
                            "a,\"b,c\"\r\nd", "\"a\",\"b,c\",\"d\"\r\n\x1A", "a\r\n\"b,c\",d\r\n\r\n  \r\n"}) {
    EXPECT_EQ(AllItems(bytes), expected) << bytes;
  }
}

TEST(ItemReader, BlanksAroundUnquotedItemsAreDropped) {
  EXPECT_EQ(AllItems("  a b  ,\tc\t\r\n 12 "), (Items{"a b", "c", "12"}));
  EXPECT_EQ(AllItems("\" in quotes \",x"), (Items{" in quotes ", "x"}));
}

TEST(ItemReader, QuotedItems) {
  // An unclosed quote ends at its line end, not at the end of the file.
  EXPECT_EQ(AllItems("\"abc,def\r\nnext"), (Items{"abc,def", "next"}));
  // Blanks after the closing quote are skipped; other characters are kept.
  EXPECT_EQ(AllItems("\"abc\"  ,x"), (Items{"abc", "x"}));
  EXPECT_EQ(AllItems("\"abc\" def ,x"), (Items{"abcdef", "x"}));
  EXPECT_EQ(AllItems("\"\",\"\""), (Items{"", ""}));
  EXPECT_EQ(AllItems("ab\"c\",d"), (Items{"ab\"c\"", "d"}));
}

TEST(ItemReader, CommasAndBlankLinesMakeEmptyItems) {
  EXPECT_EQ(AllItems("a,b,"), (Items{"a", "b", ""}));
  EXPECT_EQ(AllItems("a,b,  \r\n\r\n"), (Items{"a", "b", ""}));
  EXPECT_EQ(AllItems("a,\r\nb"), (Items{"a", "", "b"}));
  EXPECT_EQ(AllItems(",,"), (Items{"", "", ""}));
  EXPECT_EQ(AllItems("a\r\n\r\nb"), (Items{"a", "", "b"}));
  EXPECT_EQ(AllItems("a\r\n  \r\nb"), (Items{"a", "", "b"}));
  EXPECT_EQ(AllItems(""), Items{});
  EXPECT_EQ(AllItems(" \r\n\t\n\r\n"), Items{});
  EXPECT_EQ(AllItems("\x1A"), Items{});
}

TEST(ItemReader, ReadingPastTheEndNamesTheFile) {
  ItemReader reader = ItemReader::FromBytes("one\r\n\r\n", "C:\\holes\\B-1\\TITL01.TXT");
  EXPECT_EQ(reader.ReadItem(), "one");
  EXPECT_TRUE(reader.AtEnd());
  for (int i = 0; i < 3; ++i) {
    try {
      if (i == 0) reader.ReadItem();
      if (i == 1) reader.ReadLine();
      if (i == 2) reader.ReadLineItems();
      ADD_FAILURE() << "no Error from call " << i;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("C:\\holes\\B-1\\TITL01.TXT"), std::string::npos)
          << e.what();
    }
  }
}

TEST(ItemReader, LinesWholeAndLineByLine) {
  ItemReader reader = ItemReader::FromBytes("[PATDAT], \"any\" text\r\nC:\\P\\,x\r\n", "P.ini");
  EXPECT_EQ(reader.LineNumber(), 1);
  EXPECT_EQ(reader.ReadLine(), "[PATDAT], \"any\" text");
  EXPECT_EQ(reader.LineNumber(), 2);
  EXPECT_EQ(reader.ReadItem(), "C:\\P\\");
  EXPECT_EQ(reader.ReadLine(), "x");
  EXPECT_TRUE(reader.AtEnd());

  // Entry lines come back with their bytes as they stand; blank lines between
  // them are skipped.
  const std::string line1 = EncodeCp932("\"C:\\表,1\\\"", "T");
  const std::string line2 = EncodeCp932(" 1,2,\"孔口標高\",10 ,0", "T");
  ItemReader lines = ItemReader::FromBytes(line1 + "\r\n\r\n" + line2 + "\n", "TitleDb.TXT");
  std::string raw;
  EXPECT_EQ(lines.ReadLineItems(&raw), Items{"C:\\表,1\\"});
  EXPECT_EQ(raw, line1);
  EXPECT_EQ(lines.ReadLineItems(&raw), (Items{"1", "2", "孔口標高", "10", "0"}));
  EXPECT_EQ(raw, line2);
  EXPECT_TRUE(lines.AtEnd());
  EXPECT_EQ(ItemReader::FromBytes("a,b,\r\nc", "T").ReadLineItems(), (Items{"a", "b", ""}));
}

TEST(ItemReader, DecodesFilesAndReportsBadBytesWithTheirOffset) {
  TempDir tmp;
  Platform p(FactsOn(tmp.path()));
  WriteCp932(tmp / "C" / "TITL01.TXT", "\"ｺｳｺｳ①\",㈱ｻﾝﾌﾟﾙ\r\n");
  ItemReader reader(p, "C:\\TITL01.TXT");
  EXPECT_EQ(reader.ReadItem(), "ｺｳｺｳ①");
  EXPECT_EQ(reader.ReadItem(), "㈱ｻﾝﾌﾟﾙ");
  EXPECT_EQ(reader.FileName(), "C:\\TITL01.TXT");

  try {
    ItemReader::FromBytes("ok\r\nab\x85\x40", "BAD.TXT");
    FAIL() << "no Error";
  } catch (const Error& e) {
    std::string msg = e.what();
    EXPECT_NE(msg.find("BAD.TXT"), std::string::npos) << msg;
    EXPECT_NE(msg.find(" 6 "), std::string::npos) << msg;
  }
  EXPECT_THROW(ItemReader(p, "C:\\none.txt"), Error);
}

TEST(ItemWriter, WritesQuotedTextsAndNumbersWithCrLf) {
  ItemWriter writer("TitleDb.TXT");
  writer.WriteQuoted("C:\\変換,先\\");
  writer.EndLine();
  writer.WriteNumber(1);
  writer.WriteNumber(-32768);
  writer.WriteQuoted("ｺｰﾄﾞ①");
  writer.EndLine();
  writer.WriteRawLine("2,3,\"x\",4,0");
  EXPECT_EQ(writer.Bytes(), EncodeCp932("\"C:\\変換,先\\\"\r\n1,-32768,\"ｺｰﾄﾞ①\"\r\n2,3,\"x\",4,0\r\n", "T"));

  ItemReader back = ItemReader::FromBytes(writer.Bytes(), "TitleDb.TXT");
  EXPECT_EQ(back.ReadItem(), "C:\\変換,先\\");
  EXPECT_EQ(back.ReadLineItems(), (Items{"1", "-32768", "ｺｰﾄﾞ①"}));

  const std::string before = writer.Bytes();
  EXPECT_THROW(writer.WriteQuoted("波〜"), Error);
  EXPECT_THROW(writer.WriteQuoted("a\"b"), Error);
  EXPECT_THROW(writer.WriteQuoted("a\r\nb"), Error);
  EXPECT_EQ(writer.Bytes(), before);  // a refused item adds nothing

  TempDir tmp;
  Platform p(FactsOn(tmp.path()));
  writer.Commit(p, "C:\\prog\\TitleDb.TXT");
  EXPECT_EQ(ReadFile(tmp / "C" / "prog" / "TitleDb.TXT"), writer.Bytes());
}

}  // namespace
}  // namespace s2q
