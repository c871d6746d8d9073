// convert_bench [HOLES...]: times the conversion of generated holes (1000 and
// 10000 by default) with every catalogue entry selected.
//
//   floor   the same title files read by the same reader, the same value
//           rules, the rows inserted through one prepared SQLite statement in
//           one transaction: what the work costs at the least;
//   insert  the Execute road into a new database (every hole inserted);
//   update  the Execute road again (every hole updated);
// the last two once for each storage backend.
//
// Prints the time per hole of each run, each run's ratio to the floor, and the
// peak memory of the process. The catalogue is the shipped data/TitleDb.TXT.
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "convert/appstate.h"
#include "convert/commands.h"
#include "tools/exampledata/exampledata.h"
#include "convert/run.h"
#include "convert/valuerules.h"
#include "env/errors.h"
#include "targetdb/boringdb.h"
#include "targetdb/storage.h"

namespace fs = std::filesystem;
using s2q::AppState;

namespace {

class SilentUi : public s2q::UserInterface {
 public:
  void MsgBox(const std::string& text, s2q::MsgIcon, const std::string&) override {
    std::cerr << "message: " << text << '\n';
  }
  void SetHourglass(bool) override {}
};

class AllHoles : public s2q::HoleList {
 public:
  explicit AllHoles(std::vector<std::string> names) : names_(std::move(names)) {}
  int Count() const override { return static_cast<int>(names_.size()); }
  std::string Text(int index) const override { return names_[static_cast<size_t>(index)]; }
  bool Selected(int) const override { return true; }

 private:
  std::vector<std::string> names_;
};

class BenchView : public s2q::ExecuteView {
 public:
  BenchView(std::string dest, std::string source, const AllHoles& holes)
      : dest_(std::move(dest)), source_(std::move(source)), holes_(holes) {}
  std::string DestText() override { return dest_; }
  std::string SourceText() override { return source_; }
  const s2q::HoleList& Holes() override { return holes_; }
  void SetMessageLine(const std::string&) override {}
  void FocusAndSelectDest() override {}
  void FocusAndSelectSource() override {}
  void OpenDatabaseCreation() override { throw s2q::Error("database missing"); }

 private:
  std::string dest_, source_;
  const AllHoles& holes_;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void Check(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw s2q::Error(std::string(what) + ": " + sqlite3_errmsg(db));
}

const char* DeclaredType(const s2q::Field& f) {
  switch (f.Type) {
    case s2q::dbInteger: return "SMALLINT";
    case s2q::dbSingle: return "REAL";
    case s2q::dbDate: return "DATETIME";
    default: return "TEXT";
  }
}

// Binds one value fragment: a quoted text (doubled quotes undone) or a number.
void BindFragment(sqlite3_stmt* stmt, int column, const std::string& fragment) {
  if (!fragment.empty() && fragment.front() == '\'') {
    std::string text;
    for (size_t i = 1; i + 1 < fragment.size(); ++i) {
      text += fragment[i];
      if (fragment[i] == '\'') ++i;
    }
    sqlite3_bind_text(stmt, column, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_double(stmt, column, std::strtod(fragment.c_str(), nullptr));
  }
}

// The floor: the same rows as the insert run, written as cheaply as SQLite
// allows.
void FloorRun(AppState& app, const std::string& source, const AllHoles& holes,
              const fs::path& dbPath) {
  sqlite3* db = nullptr;
  if (sqlite3_open(dbPath.c_str(), &db) != SQLITE_OK) throw s2q::Error("cannot open floor db");
  try {
    const std::vector<s2q::Field> layout = s2q::BoringTableLayout(app.titles);
    std::string create = "CREATE TABLE t (", insert = "INSERT INTO t VALUES (";
    for (size_t i = 0; i < layout.size(); ++i) {
      create += (i ? ", \"" : "\"") + layout[i].Name + "\" " + DeclaredType(layout[i]);
      insert += i ? ",?" : "?";
    }
    Check(db, sqlite3_exec(db, (create + ")").c_str(), nullptr, nullptr, nullptr), "create");
    Check(db, sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), "begin");
    sqlite3_stmt* stmt = nullptr;
    Check(db, sqlite3_prepare_v2(db, (insert + ")").c_str(), -1, &stmt, nullptr), "prepare");
    const s2q::ValueSources sources{app.titleTable, app.CodeListFiles, app.PatdatFolder,
                                    app.platform};
    for (int h = 0; h < holes.Count(); ++h) {
      const std::string holePath = s2q::HolePath(source, holes.Text(h));
      s2q::ReadHoleTitles(app.titleTable, app.TitleFileNames, app.platform, holePath);
      int column = 1;
      sqlite3_bind_null(stmt, column++);  // LINKCODE
      for (int i = 0; i < app.titles.count; ++i) {
        const s2q::TitleEntry& entry = app.titles.entries[static_cast<size_t>(i)];
        if (entry.SelectFlg != 1) continue;
        for (const std::string& f : s2q::ValueFragments(entry, i, sources))
          BindFragment(stmt, column++, f);
      }
      sqlite3_bind_text(stmt, column, holePath.c_str(), static_cast<int>(holePath.size()),
                        SQLITE_TRANSIENT);
      Check(db, sqlite3_step(stmt), "insert");
      sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    Check(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "commit");
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
}

struct Figures {
  int holes;
  std::string backend;
  double floor, insert, update;  // seconds per hole
};

std::vector<Figures> Measure(int holes, const fs::path& catalogue) {
  const fs::path root = fs::temp_directory_path() / ("s2q-bench-" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "prog");
  fs::create_directories(root / "map");
  fs::copy_file(catalogue, root / "prog" / "TitleDb.TXT");

  s2q::PlatformFacts facts;
  facts.drives['C'] = root;
  facts.systemFolder = root / "config";
  facts.programFolder = root / "prog";
  facts.startDrive = 'C';

  auto start = std::chrono::steady_clock::now();
  s2q::WriteExampleHoles(root / "holes", holes);
  s2q::WriteExampleCodeLists(root / "PATDAT");
  s2q::WritePatdatIni(root / "config", "C:\\PATDAT\\");
  std::printf("%6d holes: generated in %.2f s\n", holes, Seconds(start));

  std::vector<Figures> figures;
  {
    s2q::Platform platform(facts);
    SilentUi ui;
    AppState app(platform, ui);
    if (!s2q::ReadPatdat(app) || !s2q::LoadCatalogue(app)) throw s2q::Error("start-up refused");
    s2q::BuildFileNameLists(app);
    for (int i = 0; i < app.titles.count; ++i) app.titles.entries[static_cast<size_t>(i)].SelectFlg = 1;

    const std::string source = "C:\\holes\\";
    start = std::chrono::steady_clock::now();
    AllHoles list(platform.ListSubfolders(source));
    std::printf("%6d holes: listed in %.2f s\n", holes, Seconds(start));

    start = std::chrono::steady_clock::now();
    FloorRun(app, source, list, root / "floor.db");
    const double floor = Seconds(start) / holes;

    for (const s2q::StorageBackend* backend : s2q::AllBackends()) {
      Figures fig{holes, backend->Name(), floor, 0, 0};
      std::string dest = "C:\\map\\";
      fs::remove_all(root / "map");
      fs::create_directories(root / "map");
      app.db.createFormat = backend->Format();
      s2q::CreateBoringDatabase(dest, s2q::kDatabaseFileName, app.titles, app.db);
      BenchView view(dest, source, list);
      for (int pass = 0; pass < 2; ++pass) {
        start = std::chrono::steady_clock::now();
        s2q::ExecuteResult r = s2q::ExecuteConversion(app, view);
        const double perHole = Seconds(start) / holes;
        const int done = pass == 0 ? r.counts.inserted : r.counts.updated;
        if (r.outcome != s2q::ExecuteOutcome::Converted || done != holes)
          throw s2q::Error("run " + std::to_string(pass + 1) + " did not convert every hole");
        (pass == 0 ? fig.insert : fig.update) = perHole;
      }
      std::printf("%6d holes, %-6s: floor %.3f ms/hole, insert %.3f ms/hole (%.2f x floor), "
                  "update %.3f ms/hole (%.2f x floor), peak memory %.1f MB\n",
                  holes, fig.backend.c_str(), fig.floor * 1e3, fig.insert * 1e3,
                  fig.insert / fig.floor, fig.update * 1e3, fig.update / fig.floor,
                  PeakKilobytes() / 1024.0);
      std::fflush(stdout);
      figures.push_back(fig);
    }
  }
  start = std::chrono::steady_clock::now();
  fs::remove_all(root);
  std::printf("%6d holes: removed in %.2f s\n", holes, Seconds(start));
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
  if (counts.empty()) counts = {1000, 10000};
  for (int n : counts) {
    if (n < 1) {
      std::cerr << "usage: convert_bench [HOLES...]\n";
      return 1;
    }
  }
  try {
    std::vector<std::vector<Figures>> all;
    for (int n : counts) all.push_back(Measure(n, S2Q_CATALOGUE));
    if (all.size() > 1) {
      for (size_t b = 0; b < all.front().size(); ++b) {
        const Figures& a = all.front()[b];
        const Figures& z = all.back()[b];
        std::printf("growth %d -> %d holes, %-6s (time per hole): insert %.2f x, update %.2f x\n",
                    a.holes, z.holes, a.backend.c_str(), z.insert / a.insert, z.update / a.update);
      }
    }
  } catch (const std::exception& e) {
    std::cerr << "convert_bench: " << e.what() << '\n';
    return 2;
  }
  return 0;
}
