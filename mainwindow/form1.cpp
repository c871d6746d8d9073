#include "mainwindow/form1.h"

#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>

#include "env/errors.h"
#include "mainwindow/drivebox.h"
#include "mainwindow/folderbox.h"
#include "mainwindow/listbox.h"
#include "mainwindow/toolkit.h"
#include "selectdialog/form2.h"
#include "targetdb/boringdb.h"

namespace s2q {

namespace {

template <class W>
W* Place(W* widget, QRect rect) {
  widget->setGeometry(rect);
  return widget;
}

bool IsBlank(const std::string& text) {
  return text.find_first_not_of(' ') == std::string::npos;
}

}  // namespace

BackgroundPanel::BackgroundPanel(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
}

void BackgroundPanel::mouseMoveEvent(QMouseEvent* event) {
  // A move over a control may reach the panel when the control passes it on;
  // only the panel's own area counts.
  const QPoint pos = event->position().toPoint();
  if (childAt(pos) == nullptr) emit mouseMoved(event->buttons(), event->modifiers(), pos.x(), pos.y());
}

Form1::Form1(AppState& app) : app_(app) {
  setWindowTitle(QString::fromUtf8(kProgramTitle.data(), qsizetype(kProgramTitle.size())));
  setFont(JapaneseFont());

  auto* client = new QWidget(this);
  client->setFixedSize(Twips(0, 0, 9090, 6495).size());
  setCentralWidget(client);
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  Picture1 = Place(new BackgroundPanel(client), Twips(0, 0, 9075, 6495));
  Frame1 = Place(new QGroupBox("変換先ﾌｫﾙﾀﾞ名選択", Picture1), Twips(5910, 1305, 3000, 3350));
  Dir1 = Place(new FolderBox(app_.platform, Frame1), Twips(240, 450, 2500, 2130));
  Drive1 = Place(new DriveBox(app_.platform, Frame1), Twips(240, 2750, 2505, 390));
  Text1 = Place(new QLineEdit(Picture1), Twips(2400, 800, 6255, 405));
  Frame3 = Place(new QGroupBox("メッセージ", Picture1), Twips(240, 4740, 8475, 675));
  Label3 = Place(new QLabel(Frame3), Twips(180, 240, 8175, 315));
  Text2 = Place(new QLineEdit(Picture1), Twips(2400, 240, 6255, 405));
  Command2 = Place(new QPushButton("終  了", Picture1), Twips(5160, 5580, 2055, 555));
  Command1 = Place(new QPushButton("実  行", Picture1), Twips(2520, 5580, 1935, 555));
  Frame2 = Place(new QGroupBox("変換元ﾎﾞｰﾘﾝｸﾞ孔名選択", Picture1), Twips(120, 1300, 5600, 3350));
  List1 = Place(new ListBox(Frame2), Twips(2900, 420, 2500, 2730));
  Drive2 = Place(new DriveBox(app_.platform, Frame2), Twips(240, 2750, 2505, 390));
  Dir2 = Place(new FolderBox(app_.platform, Frame2), Twips(240, 450, 2500, 2130));
  Label1 = Place(new QLabel("変換先ﾌｫﾙﾀﾞ名 ：", Picture1), Twips(240, 850, 2130, 285));
  Label2 = Place(new QLabel("変換元ﾌｫﾙﾀﾞ名 ：", Picture1), Twips(240, 300, 2235, 315));
  dbmenu = menuBar()->addMenu("ﾃﾞｰﾀﾍﾞｰｽ(&D)");
  dbcreate = dbmenu->addAction("新規作成(&M)");

  // Keyboard order: Dir2, Drive2, Command1, Command2, Text2, List1, Text1,
  // Drive1, Dir1 (the other controls take no focus).
  QWidget* order[] = {Dir2, Drive2, Command1, Command2, Text2, List1, Text1, Drive1, Dir1};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
  // Enter presses the focused button, as the space bar does.
  for (QPushButton* button : {Command1, Command2}) button->setAutoDefault(true);

  connect(Command1, &QPushButton::clicked, this, [this] { Run([this] { Command1_Click(); }); });
  connect(Command2, &QPushButton::clicked, this, [this] { Run([this] { Command2_Click(); }); });
  connect(dbcreate, &QAction::triggered, this, [this] { Run([this] { dbcreate_Click(); }); });
  connect(Drive1, &DriveBox::changed, this, [this] { Run([this] { Drive1_Change(); }); });
  connect(Dir1, &FolderBox::changed, this, [this] { Run([this] { Dir1_Change(); }); });
  connect(Drive2, &DriveBox::changed, this, [this] { Run([this] { Drive2_Change(); }); });
  connect(Dir2, &FolderBox::changed, this, [this] { Run([this] { Dir2_Change(); }); });
  // Opening the folder already shown lists it afresh, the holes too.
  connect(Dir1, &FolderBox::reopened, this, [this] { Run([this] { Dir1_Change(); }); });
  connect(Dir2, &FolderBox::reopened, this, [this] { Run([this] { Dir2_Change(); }); });
  for (FolderBox* dir : {Dir1, Dir2}) {
    connect(dir, &FolderBox::openFailed, this, [this](const QString& message) {
      app_.ui.MsgBox(message.toStdString(), MsgIcon::Exclamation);
    });
  }
  connect(Picture1, &BackgroundPanel::mouseMoved, this,
          [this](Qt::MouseButtons b, Qt::KeyboardModifiers s, int x, int y) {
            Picture1_MouseMove(b, s, x, y);
          });
}

Form1::~Form1() = default;

bool Form1::Form_Load() {
  try {
    adjustSize();  // the size the layout gives, not the default of a window never shown
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen->geometry();
    const float left = (float(area.width()) - float(width())) / 2.0f;
    const float top = (float(area.height()) - float(height())) / 2.0f;
    move(area.x() + int(left), area.y() + int(top));

    if (!ReadPatdat(app_)) return false;
    app_.MessageShown = 0;
    if (!LoadCatalogue(app_)) return false;

    // The browsers start at the current folder of the drive they show.
    {
      const QSignalBlocker quiet1(Dir1), quiet2(Dir2);
      Dir1->setPath(Drive1->drive());
      Dir2->setPath(Drive2->drive());
    }

    // The remembered destination; a drive or folder that is gone leaves the
    // browsers where they are and Text1 empty, without a message.
    if (!IsBlank(app_.DestFolder)) {
      try {
        Drive1->setDrive(app_.DestFolder.substr(0, 2));
        Dir1->setPath(app_.DestFolder);
        Drive1_Change();
        Dir1_Change();
      } catch (const std::exception&) {
        Text1->clear();
      }
    } else {
      Text1->clear();
    }

    Drive2_Change();
    Dir2_Change();
    BuildFileNameLists(app_);
    Dir2->setFocus();
  } catch (const std::exception& e) {
    ReportFailure(app_, "起動に失敗しました。プログラムを終了します。", e);
    return false;
  }
  return true;
}

void Form1::Command1_Click() {
  ExecuteConversion(app_, *this);
}

void Form1::Command2_Click() {
  close();
}

void Form1::dbcreate_Click() {
  if (Text1->text().isEmpty()) {
    app_.ui.MsgBox("変換先ﾌｫﾙﾀﾞが指定されていません");
    return;
  }
  app_.DestFolder = Text1->text().toStdString();
  try {
    PrepareSelectionForDialog(app_);
  } catch (const std::exception& e) {
    CommandFailed("データベースの確認に失敗しました。", e);
    return;
  }
  if (!form2_) form2_ = std::make_unique<Form2>(app_, this,
                                     [this](const std::string& text) { SetMessageLine(text); });
  form2_->Show();
}

void Form1::Drive1_Change() {
  // A drive that is not ready leaves the folder browser where it was, and the
  // drive browser on the drive picked; neither is told to the user.
  try {
    Dir1->setPath(Drive1->drive());
  } catch (const Error&) {
  }
  try {
    app_.platform.ChangeDrive(Drive1->drive());
  } catch (const Error&) {
  }
}

void Form1::Dir1_Change() {
  Text1->setText(QString::fromStdString(Dir1->path()));
  app_.platform.ChangeFolder(Dir1->path());
}

void Form1::Drive2_Change() {
  // As Drive1_Change.
  try {
    Dir2->setPath(Drive2->drive());
  } catch (const Error&) {
  }
  try {
    app_.platform.ChangeDrive(Drive2->drive());
  } catch (const Error&) {
  }
}

void Form1::Dir2_Change() {
  Text2->setText(QString::fromStdString(Dir2->path()));
  app_.platform.ChangeFolder(Dir2->path());
  List1->clear();
  std::vector<std::string> refused;
  for (const std::string& name : app_.platform.ListSubfolders(Dir2->path(), &refused)) List1->AddItem(name);
  if (!refused.empty()) {
    std::string names;
    for (const std::string& name : refused) names += (names.empty() ? "" : ", ") + name;
    app_.ui.MsgBox("変換元フォルダ " + Dir2->path() + " のボーリング孔 " + names +
                       " は、名前が UTF-8 でも Shift_JIS (コードページ 932) でもないため一覧に表示できません。",
                   MsgIcon::Exclamation);
  }
  List1->SetTopIndex(0);  // the new folder's first holes, not the old scroll position
}

void Form1::Picture1_MouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, int, int) {
  if (app_.MessageShown == 1) {
    Label3->clear();
    app_.MessageShown = 0;
  }
}

void Form1::closeEvent(QCloseEvent* event) {
  // While the dialog is open the window takes no input, its close box neither.
  if (!isEnabled()) {
    event->ignore();
    return;
  }
  event->accept();
}

std::string Form1::DestText() { return Text1->text().toStdString(); }
std::string Form1::SourceText() { return Text2->text().toStdString(); }
const HoleList& Form1::Holes() { return *List1; }

void Form1::SetMessageLine(const std::string& text) {
  Label3->setText(QString::fromStdString(text));
  Label3->repaint();  // seen at once, also while a long run follows
}

void Form1::FocusAndSelectDest() {
  Text1->setFocus();
  Text1->setSelection(0, int(Text1->text().length()));
}

void Form1::FocusAndSelectSource() {
  Text2->setFocus();
  Text2->setSelection(0, int(Text2->text().length()));
}

void Form1::OpenDatabaseCreation() { dbcreate_Click(); }

template <class Procedure>
void Form1::Run(Procedure procedure) {
  try {
    procedure();
  } catch (const std::exception& e) {
    CommandFailed("処理に失敗しました。", e);
  }
}

void Form1::CommandFailed(const std::string& what, const std::exception& e) {
  ReportFailure(app_, what, e);
  SetMessageLine("");
}

}  // namespace s2q
