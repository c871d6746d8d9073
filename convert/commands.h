#pragma once
// The roads of the program's commands, shared by the windows and the batch
// command. The front end supplies its controls through small views; messages
// go through AppState::ui.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/appstate.h"

namespace s2q {

// The hole list: entries with a text and a selected flag, in list order.
class HoleList {
 public:
  virtual ~HoleList() = default;
  virtual int Count() const = 0;
  virtual std::string Text(int index) const = 0;
  virtual bool Selected(int index) const = 0;
};

// Start-up, the steps that need no window. Each returns false when the program
// must end; the user has then been told, and the front end ends the program.
bool ReadPatdat(AppState& app);       // PATDAT setting and its folder
bool LoadCatalogue(AppState& app);    // TitleDb.TXT into the selection and DestFolder
void BuildFileNameLists(AppState& app);  // TitleFileNames and CodeListFiles

// What the Execute command needs of its window.
class ExecuteView {
 public:
  virtual ~ExecuteView() = default;
  virtual std::string DestText() = 0;    // destination text box
  virtual std::string SourceText() = 0;  // source text box, read afresh each time
  virtual const HoleList& Holes() = 0;   // the hole list
  // The message line; shown at once, before the work goes on.
  virtual void SetMessageLine(const std::string& text) = 0;
  // Focus the destination / source text box and select its whole text.
  virtual void FocusAndSelectDest() = 0;
  virtual void FocusAndSelectSource() = 0;
  // The database menu command, for a destination without a database.
  virtual void OpenDatabaseCreation() = 0;
};

struct RunResult {
  int inserted = 0;
  int updated = 0;
  // Selected folders left out because they hold neither title file, by name
  // in list order.
  std::vector<std::string> leftOut;
};

// "表題ファイルのないフォルダ 3 個は除きました：写真、資料 ほか 1 個":
// the folders a run left out, named as far as the text stays within `width`
// columns (a full-width character takes two, an ASCII or half-width one
// one), the rest counted; "" when none was left out.
std::string LeftOutText(const std::vector<std::string>& names,
                        size_t width = std::string::npos);
// The columns a text takes on a line, counted as for LeftOutText.
size_t TextWidth(std::string_view text);

enum class ExecuteOutcome {
  Refused,          // a check refused; the user has been told
  DatabaseMissing,  // handed over to the database creation command
  Converted,        // every selected hole converted, catalogue saved
  Failed,           // the work failed; the user has been told what and why
};

struct ExecuteResult {
  ExecuteOutcome outcome = ExecuteOutcome::Refused;
  RunResult counts;
};

// The Execute command: the checks in order, then the conversion of the
// selected holes and the saving of the catalogue.
ExecuteResult ExecuteConversion(AppState& app, ExecuteView& view);

// Prepares the selection flags for the title selection dialog: the mandatory
// entries only when DestFolder holds no database, else the fields the table
// has plus the mandatory entries. Throws Error on failure.
void PrepareSelectionForDialog(AppState& app);

enum class CreateOutcome { Created, Replaced, Unchanged };

struct CreateResult {
  CreateOutcome outcome = CreateOutcome::Unchanged;
  // Where the replaced database was kept (drive form); set for a replacement.
  std::optional<std::string> backup;
  // Why TitleDb.TXT could not be saved after the database was made.
  std::optional<std::string> catalogueError;
};

// The dialog's create command: create the database when it is missing,
// replace it (keeping a backup) when its fields differ from the selection,
// leave it when they match; TitleDb.TXT is saved after a creation or a
// replacement. Throws Error on failure.
// With `replaceOtherFormat`, a database whose storage format differs from
// app.db.createFormat is replaced too, even when its fields match.
CreateResult CreateOrReplaceDatabase(AppState& app, bool replaceOtherFormat = false);

// One line for the main window's message line that says what the create
// command did. CatalogueFailureMessage says it too, for a message box, when
// the catalogue could not be saved afterwards.
std::string CreateResultMessage(const CreateResult& result);
std::string CatalogueFailureMessage(const CreateResult& result);

}  // namespace s2q
