#include "tools/exampledata/exampledata.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "env/codepage.h"
#include "env/errors.h"

namespace s2q {

namespace fs = std::filesystem;

namespace {

// splitmix64: small, fast and the same on every platform, unlike the
// distributions of <random>.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Int(int lo, int hi) {  // lo to hi inclusive
    return lo + static_cast<int>(Next() % static_cast<uint64_t>(hi - lo + 1));
  }
  bool Chance(int percent) { return Int(1, 100) <= percent; }
  template <typename T, size_t N>
  const T& Pick(const std::array<T, N>& items) {
    return items[static_cast<size_t>(Int(0, static_cast<int>(N) - 1))];
  }

 private:
  uint64_t state_;
};

struct Place {
  const char* city;   // prefecture and city
  const char* short_; // map sheet and project names
  int lat;            // whole degrees
  int lon;
  int zone;           // plane rectangular coordinate system
};

constexpr std::array<Place, 20> kPlaces = {{
    {"宮城県仙台市青葉区", "仙台", 38, 140, 10},  {"岩手県盛岡市", "盛岡", 39, 141, 10},
    {"福島県郡山市", "郡山", 37, 140, 9},         {"山形県山形市", "山形", 38, 140, 10},
    {"秋田県秋田市", "秋田", 39, 140, 10},        {"青森県八戸市", "八戸", 40, 141, 10},
    {"新潟県長岡市", "長岡", 37, 138, 8},         {"栃木県宇都宮市", "宇都宮", 36, 139, 9},
    {"群馬県高崎市", "高崎", 36, 139, 9},         {"埼玉県熊谷市", "熊谷", 36, 139, 9},
    {"千葉県木更津市", "木更津", 35, 139, 9},     {"神奈川県相模原市緑区", "相模原", 35, 139, 9},
    {"静岡県浜松市中区", "浜松", 34, 137, 8},     {"愛知県豊橋市", "豊橋", 34, 137, 7},
    {"長野県松本市", "松本", 36, 137, 8},         {"富山県高岡市", "高岡", 36, 137, 7},
    {"兵庫県姫路市", "姫路", 34, 134, 5},         {"岡山県倉敷市", "倉敷", 34, 133, 5},
    {"福岡県久留米市", "久留米", 33, 130, 2},     {"北海道旭川市", "旭川", 43, 142, 12},
}};

constexpr std::array<const char*, 12> kTowns = {
    "本町", "中央", "栄町", "大字上野", "大字新田字北浦", "緑が丘",
    "東原", "西原", "南台", "大字下河原", "字宮ノ前", "新町"};

struct Company {
  const char* name;
  const char* address;
  const char* phone;
};
constexpr std::array<Company, 6> kCompanies = {{
    {"株式会社東北地質", "宮城県仙台市若林区卸町2丁目8-10", "022-235-4411"},
    {"北日本ボーリング株式会社", "岩手県盛岡市本宮5丁目3-1", "019-658-2210"},
    {"中央開発調査株式会社", "東京都新宿区西新宿3丁目7-1", "03-3342-5671"},
    {"株式会社日本地研", "愛知県名古屋市中区栄4丁目1-8", "052-241-3360"},
    {"大地コンサルタント株式会社", "福岡県福岡市博多区博多駅前1丁目2-5", "092-471-0088"},
    {"有限会社みどり試錐", "新潟県長岡市城内町3丁目5-9", "0258-33-1205"},
}};

constexpr std::array<const char*, 7> kClients = {
    "国土交通省東北地方整備局", "国土交通省関東地方整備局", "国土交通省中部地方整備局",
    "県土木部道路建設課",       "市建設局下水道部",         "東日本高速道路株式会社",
    "独立行政法人都市再生機構"};

constexpr std::array<const char*, 16> kSurnames = {
    "佐藤", "鈴木", "高橋", "田中", "伊藤", "渡辺", "山本", "中村",
    "小林", "加藤", "吉田", "山田", "佐々木", "山口", "松本", "齋藤"};
constexpr std::array<const char*, 14> kGivenNames = {
    "一郎", "健二", "誠", "浩", "修", "隆", "茂", "学", "博", "勝", "裕子", "恵子", "正樹", "淳"};

constexpr std::array<const char*, 6> kPurposes = {"構造物基礎", "地すべり調査", "軟弱地盤調査",
                                                 "土質調査",   "地下水調査",   "液状化判定"};
constexpr std::array<const char*, 6> kTargets = {"橋梁", "道路", "河川堤防",
                                                "建築物", "トンネル", "擁壁"};
constexpr std::array<const char*, 9> kLandforms = {"台地", "段丘", "扇状地", "三角州", "自然堤防",
                                                  "丘陵地", "山地", "埋立地", "谷底平野"};
constexpr std::array<const char*, 5> kRemarks = {
    "孔内水平載荷試験①実施", "ﾎﾞｰﾘﾝｸﾞ孔は埋戻し済み", "掘進中に逸水あり",
    "被圧水あり, 水頭 GL+0.5m", "孔口保護管設置（φ50mm）"};
constexpr std::array<const char*, 3> kLevelMethods = {"水準測量", "GNSS測量", "トータルステーション"};
constexpr std::array<const char*, 4> kWaterConditions = {"掘削終了後", "翌朝作業開始前", "掘削中",
                                                        "24時間後"};
constexpr std::array<const char*, 5> kRigs = {"YBM-05DA", "TOP-L1", "KR-100", "YSO-1",
                                             "東邦 D1-B"};
constexpr std::array<const char*, 4> kEngines = {"NFAD8", "NFD9", "ヤンマー NF-65", "クボタ RK80"};
constexpr std::array<const char*, 4> kPumps = {"MG-10", "BG-3C", "NAS-3", "YP-500"};
constexpr std::array<const char*, 3> kLogStyles = {"標準貫入試験", "岩盤", "土質"};
constexpr std::array<const char*, 3> kFieldTests = {"孔内水平載荷試験", "現場透水試験", "PS検層"};
constexpr std::array<const char*, 3> kLabTests = {"粒度試験、含水比試験", "一軸圧縮試験",
                                                 "土粒子の密度試験,液性限界試験"};

std::string Format(const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}
std::string Decimal(double value, int decimals) {
  return Format(decimals == 1 ? "%.1f" : "%.2f", value);
}

struct Date {
  int y, m, d;
};
int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}
Date AddDays(Date date, int days) {
  date.d += days;
  while (date.d > DaysInMonth(date.y, date.m)) {
    date.d -= DaysInMonth(date.y, date.m);
    if (++date.m > 12) {
      date.m = 1;
      ++date.y;
    }
  }
  return date;
}

// Degrees, minutes and seconds (two decimals) of an angle in hundredths of
// seconds.
std::array<std::string, 3> Dms(long hundredths) {
  long deg = hundredths / 360000;
  long min = hundredths / 6000 % 60;
  double sec = static_cast<double>(hundredths % 6000) / 100.0;
  return {std::to_string(deg), std::to_string(min), Decimal(sec, 2)};
}

class LineBuilder {
 public:
  LineBuilder& Text(const std::string& text) { return Add(text, true); }
  LineBuilder& Number(const std::string& text) { return Add(text, false); }
  LineBuilder& Number(int value) { return Add(std::to_string(value), false); }
  void EndLine() { lines_.emplace_back(); }
  ExampleLines Take() {
    if (lines_.back().empty()) lines_.pop_back();
    return std::move(lines_);
  }

 private:
  LineBuilder& Add(const std::string& text, bool quoted) {
    lines_.back().push_back({text, quoted});
    return *this;
  }
  ExampleLines lines_{1};
};

std::string Person(Rng& rng) {
  std::string name = std::string(rng.Pick(kSurnames)) + " ";
  return name + rng.Pick(kGivenNames);
}
// A text that is left blank in `blankPercent` of the holes.
std::string Sometimes(Rng& rng, int blankPercent, const std::string& text) {
  return rng.Chance(blankPercent) ? std::string() : text;
}

void DateItems(LineBuilder& b, const Date& date) {
  b.Number(date.y).Number(date.m).Number(date.d).EndLine();
}
void DmsItems(LineBuilder& b, const std::array<std::string, 3>& dms) {
  b.Number(dms[0]).Number(dms[1]).Number(dms[2]).EndLine();
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw Error("例題データのファイル " + path.string() + " を書き込めません。");
}

void MakeFolder(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) throw Error("例題データのフォルダ " + folder.string() + " を作成できません: " + ec.message());
}

struct CodeList {
  const char* fileName;
  std::array<const char*, 6> texts;  // codes 1 upward; nullptr ends the list
};
constexpr std::array<CodeList, 3> kCodeLists = {{
    {"L1.TXT", {"TP", "KBM", "AP", "OP", "YP", "DL"}},
    {"L2.TXT", {"自動落下", "半自動", "コーンプーリー", "トンビ", nullptr, nullptr}},
    {"L3.TXT", {"孔内水位", "初期水位", "自然水位", "被圧水位", "測定不能", nullptr}},
}};

}  // namespace

ExampleHole MakeExampleHole(int index, uint64_t seed) {
  Rng rng(seed * 0x100000001B3ull + static_cast<uint64_t>(index));
  ExampleHole hole;
  char name[32];
  std::snprintf(name, sizeof name, "BH-%04d", index + 1);
  hole.folderName = name;

  const Place& place = rng.Pick(kPlaces);
  const Company& company = rng.Pick(kCompanies);
  const Date start{rng.Int(1995, 2012), rng.Int(1, 12), rng.Int(1, 28)};
  const Date end = AddDays(start, rng.Int(20, 90));
  const Date drillStart = AddDays(start, rng.Int(3, 15));
  const Date drillEnd = AddDays(drillStart, rng.Int(2, 10));
  const int heisei = start.y - 1988;

  std::string project;
  switch (rng.Int(0, 4)) {
    case 0: project = "一般国道" + std::to_string(rng.Int(4, 499)) + "号" + place.short_ + "バイパス事業"; break;
    case 1: project = std::string(place.short_) + "川河川改修事業"; break;
    case 2: project = std::string("県道") + place.short_ + "環状線道路改良事業"; break;
    case 3: project = std::string(place.short_) + "地区下水道整備事業"; break;
    default: project = std::string(place.short_) + "大橋架替事業"; break;
  }
  // One draw per statement, so that the values do not hang on the order in
  // which a compiler evaluates operands.
  std::string address = std::string(place.city) + rng.Pick(kTowns);
  address += std::to_string(rng.Int(1, 5)) + "丁目";
  address += std::to_string(rng.Int(1, 30)) + "-";
  address += std::to_string(rng.Int(1, 20));

  // Survey position in hundredths of seconds; the drilled position lies a few
  // metres away.
  const long lat = place.lat * 360000L + rng.Int(0, 359999);
  const long lon = place.lon * 360000L + rng.Int(0, 359999);
  const long drillLat = lat + rng.Int(-30, 30);
  const long drillLon = lon + rng.Int(-30, 30);
  const double x = rng.Int(-20000000, 20000000) / 100.0;
  const double y = rng.Int(-10000000, 10000000) / 100.0;

  LineBuilder b;
  b.Text(project)
      .Text("平成" + std::to_string(heisei) + "年度 " + place.short_ + "地区地質調査業務")
      .Text(Sometimes(rng, 15, rng.Pick(kPurposes)))
      .Text(rng.Pick(kTargets))
      .EndLine();
  b.Text("B-" + std::to_string(index + 1))
      .Number(rng.Chance(10) ? std::string() : std::to_string(index % 30 + 1))
      .Text(address)
      .Text(rng.Pick(kClients))
      .EndLine();
  DateItems(b, start);
  DateItems(b, end);
  b.Text(company.name).Text(Sometimes(rng, 10, company.address))
      .Text(Sometimes(rng, 10, company.phone)).EndLine();
  b.Text(Person(rng)).Text(Sometimes(rng, 20, Person(rng))).Text(Sometimes(rng, 20, Person(rng)))
      .Text(Person(rng)).EndLine();
  b.Text(start.y >= 2002 ? "世界測地系" : "日本測地系").EndLine();
  DmsItems(b, Dms(lat));
  DmsItems(b, Dms(lon));
  if (rng.Chance(20)) {
    DmsItems(b, {"", "", ""});  // drilled position not surveyed
    DmsItems(b, {"", "", ""});
  } else {
    auto dlat = Dms(drillLat);
    auto dlon = Dms(drillLon);
    if (rng.Chance(10)) dlat[2] = dlon[2] = "";  // seconds not noted
    DmsItems(b, dlat);
    DmsItems(b, dlon);
  }
  b.Number(place.zone)
      .Number(Decimal(x, 2))
      .Number(Decimal(y, 2))
      .EndLine();
  b.Text(Sometimes(rng, 30, place.short_)).Text(rng.Pick(kLandforms))
      .Text(Sometimes(rng, 70, rng.Pick(kRemarks))).EndLine();
  hole.titl01 = b.Take();

  if (index % 10 == 7) return hole;

  double depth = rng.Int(10, 60);
  depth += rng.Pick(std::array<double, 3>{0.0, 0.45, 0.5});
  LineBuilder t;
  t.Number(rng.Chance(75) ? 1 : rng.Int(2, 6))
      .Text(Sometimes(rng, 20, rng.Pick(kLevelMethods)))
      .Number(Decimal(rng.Int(200, 25000) / 100.0, 2))
      .EndLine();
  t.Number(Decimal(depth, 2)).EndLine();
  t.Number(rng.Int(1, 5))
      .Text(Sometimes(rng, 25, rng.Pick(kWaterConditions)))
      .Number(rng.Chance(10) ? std::string() : Decimal(rng.Int(5, 150) / 10.0, 2))
      .EndLine();
  const bool vertical = rng.Chance(85);
  t.Number(vertical ? 90 : rng.Pick(std::array<int, 3>{45, 60, 75}))
      .Number(vertical ? 0 : rng.Int(0, 359))
      .Number(rng.Chance(15) ? std::string() : Decimal(rng.Int(0, 50) / 10.0, 1))
      .Number(rng.Pick(std::array<int, 3>{66, 86, 116}))
      .EndLine();
  t.Text(rng.Pick(kRigs)).Text(rng.Pick(kEngines)).Number(rng.Int(1, 4)).Text(rng.Pick(kPumps))
      .EndLine();
  t.Text(rng.Pick(kLogStyles)).EndLine();
  DateItems(t, drillStart);
  DateItems(t, drillEnd);
  t.Number(rng.Chance(10) ? std::string() : std::to_string(static_cast<int>(depth) - 1))
      .Number(static_cast<int>(depth) / 5 + 1)
      .EndLine();
  t.Text(Sometimes(rng, 50, rng.Pick(kFieldTests))).Text(Sometimes(rng, 40, rng.Pick(kLabTests)))
      .EndLine();
  hole.titl02 = t.Take();
  return hole;
}

std::vector<std::string> ExampleItemTexts(const ExampleLines& lines) {
  std::vector<std::string> texts;
  for (const auto& line : lines)
    for (const auto& item : line) texts.push_back(item.text);
  return texts;
}

std::string ExampleFileBytes(const ExampleLines& lines) {
  std::string text;
  for (const auto& line : lines) {
    for (size_t i = 0; i < line.size(); ++i) {
      if (i > 0) text += ',';
      text += line[i].quoted ? '"' + line[i].text + '"' : line[i].text;
    }
    text += "\r\n";
  }
  return EncodeCp932(text, "例題データ");
}

void WriteExampleHoles(const fs::path& folder, int count, uint64_t seed) {
  for (int i = 0; i < count; ++i) {
    ExampleHole hole = MakeExampleHole(i, seed);
    fs::path holeFolder = folder / hole.folderName;
    MakeFolder(holeFolder);
    WriteBytes(holeFolder / "TITL01.TXT", ExampleFileBytes(hole.titl01));
    if (hole.titl02) WriteBytes(holeFolder / "TITL02.TXT", ExampleFileBytes(*hole.titl02));
  }
}

std::string ExampleCodeListBytes(const std::string& fileName) {
  for (const CodeList& list : kCodeLists) {
    if (fileName != list.fileName) continue;
    std::string text;
    for (size_t i = 0; i < list.texts.size() && list.texts[i]; ++i)
      text += std::to_string(i + 1) + ",\"" + list.texts[i] + "\"\r\n";
    return EncodeCp932(text, fileName);
  }
  throw Error("例題データにコード表 " + fileName + " はありません。");
}

void WriteExampleCodeLists(const fs::path& folder) {
  MakeFolder(folder);
  for (const CodeList& list : kCodeLists)
    WriteBytes(folder / list.fileName, ExampleCodeListBytes(list.fileName));
}

void WritePatdatIni(const fs::path& configFolder, std::string patdatDriveForm) {
  if (patdatDriveForm.empty() || patdatDriveForm.back() != '\\') patdatDriveForm += '\\';
  MakeFolder(configFolder);
  WriteBytes(configFolder / "PatdatV5.ini",
             EncodeCp932("[PATDAT]\r\n\"" + patdatDriveForm + "\"\r\n", "PatdatV5.ini"));
}

}  // namespace s2q
