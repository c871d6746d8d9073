// Writes the seed inputs of the fuzz targets into tests/fuzz/corpus/<target>/
// from realistic files: the example generator's holes and code lists, the
// shipped catalogue and code lists of data/.
//   fuzz_makeseeds SOURCE_DIR
// Seeds are named "seed-..."; inputs kept after a fault are named after it and
// never written here.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "env/codepage.h"
#include "targetdb/boringdb.h"
#include "targetdb/dao.h"
#include "targetdb/titledb.h"
#include "tests/fuzz/fuzzsupport.h"
#include "tools/exampledata/exampledata.h"

namespace fs = std::filesystem;
using namespace s2q;

namespace {

fs::path corpus;

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
  fuzz::WriteBytes(corpus / target / ("seed-" + name), bytes);
}

std::string ReadSource(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    std::exit(1);
  }
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A kind byte of the item file target followed by the file.
std::string Kind(char kind, const std::string& bytes) { return std::string(1, kind) + bytes; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s SOURCE_DIR\n", argv[0]);
    return 2;
  }
  // Absolute: the platform below changes the working folder.
  const fs::path source = fs::absolute(argv[1]);
  corpus = source / "tests" / "fuzz" / "corpus";

  const std::string catalogue = ReadSource(source / "data" / "TitleDb.TXT");
  const std::string hole0 = ExampleFileBytes(MakeExampleHole(0).titl01);
  const std::string hole0b = ExampleFileBytes(*MakeExampleHole(0).titl02);
  const std::string hole5 = ExampleFileBytes(MakeExampleHole(5).titl01);
  // Characters code page 932 holds twice, half-width kana and the control
  // codes ICU's table rotates.
  const std::string oddCodes =
      EncodeCp932("①Ⅰⅰ≒∵￢ｱｲｳ\x1A\x1C\x7F 表\r\n", "seed");

  Seed("codepage", "hole0", hole0);
  Seed("codepage", "catalogue", catalogue);
  Seed("codepage", "odd-codes", oddCodes);

  Seed("itemfile", "title-hole0", Kind(0, hole0));
  Seed("itemfile", "title-hole0-titl02", Kind(0, hole0b));
  Seed("itemfile", "title-hole5", Kind(0, hole5));
  for (const char* list : {"L1.TXT", "L2.TXT", "L3.TXT"})
    Seed("itemfile", std::string("codelist-") + list, Kind(1, ReadSource(source / "data" / list)));
  Seed("itemfile", "codelist-example-L1", Kind(1, ExampleCodeListBytes("L1.TXT")));
  {
    const fs::path ini = fuzz::ScratchRoot() / "ini";
    WritePatdatIni(ini, "C:\\patdat");
    Seed("itemfile", "patdat-ini", Kind(2, ReadSource(ini / "PatdatV5.ini")));
  }
  Seed("itemfile", "catalogue", Kind(3, catalogue));

  int n = 0;
  // Title files of example holes for both backends, with a hole whose second
  // title file is missing.
  for (int index : {0, 3, 7}) {
    const ExampleHole hole = MakeExampleHole(index);
    const std::string files = ExampleFileBytes(hole.titl01) + '\0' +
                              (hole.titl02 ? ExampleFileBytes(*hole.titl02) : std::string());
    Seed("statements", "jet-hole" + std::to_string(index), Kind(0, files));
    Seed("statements", "sqlite-hole" + std::to_string(index), Kind(1, files));
  }

  // Statements and criteria as the conversion writes them, and edge cases of
  // the dialect.
  const char* statements[] = {
      "INSERT INTO ボーリング VALUES( Null,'BH-1',35,41,12.5,'1998/12/01','C:\\h\\BH''1\\');",
      "UPDATE ボーリング SET 事業名 = '道路 改良',調査緯度（度） = 35,調査日 = ' 98 / 1 / 2 ' "
      "WHERE ソース位置 = 'C:\\h\\';",
      "update T set a = null , b = -3.4e38 where c = 'x';  \r\n",
      "ソース位置 = 'C:\\it''s\\'",
      "INSERT INTO T VALUES( '2000/2/29',' / / ',32767,-32768,1e400);",
  };
  n = 0;
  for (const char* st : statements) Seed("dialect", "statement" + std::to_string(n++), st);

  // Statements on the table T(K text 8, I integer, S single, A date, 調査名
  // text 255) of the execute target, for both backends.
  const char* executed[] = {
      "INSERT INTO T VALUES( 'k1',35,12.5,'1998/12/01','道路''改良');",
      "INSERT INTO t VALUES( Null,-32768,-3.4e38,' / / ',Null);",
      "UPDATE T SET I = 7,調査名 = 'x',A = '29/2/28' WHERE K = 'A';",
      "UPDATE T SET s = 0.1 WHERE k = 'b';",
      "K = 'a'",
      "INSERT INTO T VALUES( 'c',2,Null,Null,'y');\nUPDATE T SET K = 'A',I = 3 WHERE K = 'c';\n"
      "UPDATE T SET 調査名 = 'long long long long long long long long text' WHERE k = 'a';",
  };
  n = 0;
  for (const char* st : executed) {
    Seed("execute", "jet" + std::to_string(n), Kind(0, st));
    Seed("execute", "sqlite" + std::to_string(n++), Kind(1, st));
  }

  // Small databases of both backends: a table T with a few rows, and an
  // empty boring table as the program creates it. A Jet file records when
  // its tables were made, so these seeds differ from run to run.
  {
    Platform platform(fuzz::ScratchFacts());
    DBEngine engine(platform);
    fs::create_directories(fuzz::ScratchRoot() / "C" / "seed");
    const std::pair<StorageFormat, const char*> formats[] = {{StorageFormat::Jet4, "jetfile"},
                                                             {StorageFormat::Sqlite, "sqlitefile"}};
    for (const auto& [format, target] : formats) {
      const std::string path = std::string("C:\\seed\\") + target;
      auto db = engine.Workspaces(0).CreateDatabase(path, kDbLocale, format);
      TableDef def = db->CreateTableDef("T");
      def.Fields().Append(def.CreateField("K", dbText, 8));
      def.Fields().Append(def.CreateField("I", dbInteger));
      def.Fields().Append(def.CreateField("S", dbSingle));
      def.Fields().Append(def.CreateField("A", dbDate));
      def.Fields().Append(def.CreateField("調査名", dbText, 64));
      db->TableDefs().Append(def);
      db->Execute("INSERT INTO T VALUES( 'a',1,1.5,'2000/1/2','道路');");
      db->Execute("INSERT INTO T VALUES( 'B',Null,Null,Null,Null);");
      db->Execute("INSERT INTO T VALUES( 'c',-32768,-3.25,'1998/12/31','x');");
      db->Close();
      Seed(target, "table-t", ReadSource(platform.ToNative(path)));

      DbState state(platform);
      state.createFormat = format;
      TitleSelection selection;
      {
        const fs::path prog = fuzz::ScratchRoot() / "C" / "prog";
        fuzz::WriteBytes(prog / kTitleDbFileName, catalogue);
        fuzz::CountingUi ui;
        std::string dest;
        selection.count = ReadTitleDb(selection, dest, platform, ui);
        SetDefaultSelection(selection);
      }
      std::string folder = std::string("C:\\seed\\") + target + "-boring";
      fs::create_directories(platform.ToNative(folder));
      CreateBoringDatabase(folder, kDatabaseFileName, selection, state);
      Seed(target, "boring-table", ReadSource(platform.ToNative(folder + kDatabaseFileName)));
    }
  }

  // Paths as users type them: normal, relative, other drives, with spaces,
  // dots, doubled separators and wildcards.
  const char* paths[] = {"C:\\data\\holes\\", "c:data", "D:\\", "  C:\\a\\..\\b  ",
                         "\\x\\y", "E:\\x", "C:\\a\\\\b", "C:\\波\\線\\", "1:\\",
                         "C:\\a/b\\.\\c", "C:\\*.TXT", "Ｃ:\\x"};
  n = 0;
  for (const char* path : paths) Seed("checkpath", "path" + std::to_string(n++), path);
  std::printf("seeds written to %s\n", corpus.c_str());
  return 0;
}
