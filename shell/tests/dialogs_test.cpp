// The working-mode dialog, the input box, the About box and its splash, skins and editor
// fonts, driven the way a user drives them.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "dlg_about_box.h"
#include "dlg_config_box.h"
#include "dlg_input_box.h"
#include "editor_fonts.h"
#include "radio_group.h"
#include "scripted_prompts.h"
#include "skins.h"

Q_DECLARE_METATYPE(TSkin)

namespace {

// Clicks radio item `index` of the named group inside `dialog`.
void ClickItem(QWidget* dialog, const char* group, int index) {
  auto* rg = dialog->findChild<TRadioGroup*>(group);
  QVERIFY(rg);
  auto* button = rg->findChild<QRadioButton*>(QString(group) + QString::number(index));
  QVERIFY(button);
  QTest::mouseClick(button, Qt::LeftButton);
}

void SendMouse(QWidget* target, QEvent::Type type, QPoint local) {
  const QPoint global = target->mapToGlobal(local);
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, QPointF(local), QPointF(global), Qt::LeftButton, held, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

TdlgAboutBox* ShownAboutBox() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<TdlgAboutBox*>(widget); box && box->isVisible()) return box;
  }
  return nullptr;
}

}  // namespace

class TDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void configBoxShowsAndReturnsTheChoice_data();
  void configBoxShowsAndReturnsTheChoice();
  void configBoxFrameAndOddValues();
  void configBoxCancelIsRejected();
  void configBoxChoosesTheBoard();

  void inputBoxReturnsTextAndBase_data();
  void inputBoxReturnsTextAndBase();
  void inputBoxHeightsAndPresets();
  void inputBoxCancelLeavesNothing();

  void aboutBoxClosesOnCharacterKeysOnly();
  void aboutBoxLabelsAndNotice();
  void aboutBoxTextsAreNotStoredPlain();
  void aboutBoxDragsAndCloses();
  void splashDotTrack_data();
  void splashDotTrack();
  void splashAnimatesAndGoesAway();

  void skinNames();
  void skinsRestyleTheApplication();
  void editorFonts();

 private:
  QMainWindow* main_ = nullptr;
};

void TDialogsTest::init() {
  main_ = new QMainWindow;
  main_->setGeometry(120, 80, 900, 640);
  QFont font("DejaVu Sans");
  font.setPointSize(11);
  main_->setFont(font);
  main_->show();
}

void TDialogsTest::cleanup() {
  delete main_;
  main_ = nullptr;
}

void TDialogsTest::configBoxShowsAndReturnsTheChoice_data() {
  QTest::addColumn<int>("series");
  QTest::addColumn<int>("type");
  QTest::addColumn<QString>("assembler");
  QTest::addColumn<bool>("saveExe");
  QTest::addColumn<QStringList>("typeItems");
  QTest::addColumn<int>("shownAssembler");
  QTest::addColumn<QString>("enabledCompiler");

  QTest::newRow("x86 8086 TASM") << 0 << 0 << "TASM" << false
                                 << QStringList{"8086/8088", "80386/80486"} << 0 << "rgX86";
  QTest::newRow("x86 80386 MASM") << 0 << 1 << "MASM" << true
                                  << QStringList{"8086/8088", "80386/80486"} << 1 << "rgX86";
  QTest::newRow("x86 unknown assembler")
      << 0 << 0 << "NASM" << false << QStringList{"8086/8088", "80386/80486"} << 0 << "rgX86";
  QTest::newRow("MCS51") << 1 << 1 << "MASM" << true << QStringList{"8032(EA=0)", "8952(EA=1)"} << 1
                         << "rgM51";
  QTest::newRow("MCS96") << 2 << 0 << "TASM" << false << QStringList{"80C196KB", "80C196KC"} << 0
                         << "rgM96";
}

void TDialogsTest::configBoxShowsAndReturnsTheChoice() {
  QFETCH(int, series);
  QFETCH(int, type);
  QFETCH(QString, assembler);
  QFETCH(bool, saveExe);
  QFETCH(QStringList, typeItems);
  QFETCH(int, shownAssembler);
  QFETCH(QString, enabledCompiler);

  TWorkingModeChoice current{series, type, assembler, saveExe, !saveExe, saveExe};
  TdlgConfigBox box(main_, current);
  box.show();
  QVERIFY(QTest::qWaitForWindowExposed(&box));

  auto* rgSeries = box.findChild<TRadioGroup*>("rgCPUSeries");
  auto* rgType = box.findChild<TRadioGroup*>("rgCPUType");
  auto* rgX86 = box.findChild<TRadioGroup*>("rgX86");
  auto* cbBin = box.findChild<QCheckBox*>("cbCreateBINFile");
  auto* cbDasm = box.findChild<QCheckBox*>("cbAutoDisassembly");
  auto* cbBios = box.findChild<QCheckBox*>("cbBiosServices");
  QVERIFY(rgSeries && rgType && rgX86 && cbBin && cbDasm && cbBios);
  QVERIFY(!rgSeries->isEnabled());
  QCOMPARE(rgSeries->ItemIndex(), series);
  QCOMPARE(rgType->Items(), typeItems);
  QCOMPARE(rgType->ItemIndex(), type);
  QVERIFY(rgType->isEnabled());
  QCOMPARE(rgX86->ItemIndex(), shownAssembler);
  for (const char* group : {"rgX86", "rgM51", "rgM96"}) {
    QCOMPARE(box.findChild<TRadioGroup*>(group)->isEnabled(), enabledCompiler == group);
  }
  QCOMPARE(cbBin->isChecked(), saveExe);
  QCOMPARE(cbDasm->isChecked(), !saveExe);
  QCOMPARE(cbBios->isChecked(), saveExe);

  // The user flips the type and both check boxes, then confirms.
  ClickItem(&box, "rgCPUType", 1 - type);
  QTest::mouseClick(cbBin, Qt::LeftButton);
  QTest::mouseClick(cbDasm, Qt::LeftButton);
  QTest::mouseClick(cbBios, Qt::LeftButton);
  if (enabledCompiler == "rgX86") ClickItem(&box, "rgX86", 1 - shownAssembler);
  QTest::mouseClick(box.findChild<QPushButton*>("btnOk"), Qt::LeftButton);
  QCOMPARE(box.result(), int(QDialog::Accepted));

  const TWorkingModeChoice choice = box.Choice();
  QCOMPARE(choice.CPUSeries, series);
  QCOMPARE(choice.CPUType, 1 - type);
  const int assemblerItem = enabledCompiler == "rgX86" ? 1 - shownAssembler : shownAssembler;
  QCOMPARE(choice.Assembler, assemblerItem == 1 ? QString("MASM") : QString("TASM"));
  QCOMPARE(choice.SaveEXEFile, !saveExe);
  QCOMPARE(choice.Disassembly, saveExe);
  QCOMPARE(choice.BiosServices, !saveExe);
}

void TDialogsTest::configBoxFrameAndOddValues() {
  TdlgConfigBox box(main_, TWorkingModeChoice{7, -3, "", false, false});
  box.show();
  QVERIFY(QTest::qWaitForWindowExposed(&box));
  QCOMPARE(box.size(), QSize(441, 377));
  QCOMPARE(box.windowTitle(), QString("设置工作方式"));
  QCOMPARE(box.font(), main_->font());
  QVERIFY((box.geometry().center() - main_->geometry().center()).manhattanLength() <= 2);
  QVERIFY(box.findChild<QPushButton*>("btnOk")->isDefault());
  // Values no series or type stands for show as the first of each.
  const TWorkingModeChoice choice = box.Choice();
  QCOMPARE(choice.CPUSeries, 0);
  QCOMPARE(choice.CPUType, 0);
  QCOMPARE(choice.Assembler, QString("TASM"));
}

void TDialogsTest::configBoxCancelIsRejected() {
  TdlgConfigBox box(main_, TWorkingModeChoice{});
  box.show();
  QTest::mouseClick(box.findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
  QCOMPARE(box.result(), int(QDialog::Rejected));
  QVERIFY(!box.isVisible());
}

// "无" and the descriptions of both boards folders by name, the current one chosen; a file
// from elsewhere stands in the list by its path.
void TDialogsTest::configBoxChoosesTheBoard() {
  QTemporaryDir mine, shipped, elsewhere;
  const auto write = [](const QTemporaryDir& dir, const char* name, const char* text) {
    QFile file(dir.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
  };
  write(shipped, "default.ini", "; The course board\n[LATCH]\nBase=8010h\n");
  write(shipped, "isa200.ini", "[8255]\nBase=200h\n");
  write(mine, "lab7.ini", "# Lab 7\n[8255]\nBase=200h\n");
  write(mine, "readme.txt", "not a board\n");
  write(elsewhere, "lab9.ini", "[LATCH]\nBase=300h\n");
  const std::vector<std::filesystem::path> folders{mine.path().toStdString(),
                                                   shipped.path().toStdString()};
  const auto items = [](const QComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    return texts;
  };

  TWorkingModeChoice current;
  current.Board = "lab7.ini";
  TdlgConfigBox box(main_, current, folders);
  auto* combo = box.findChild<QComboBox*>("cbBoard");
  QVERIFY(combo && box.findChild<QPushButton*>("btnBoardBrowse"));
  QCOMPARE(items(combo), (QStringList{"无", "default.ini", "isa200.ini", "lab7.ini"}));
  QCOMPARE(combo->currentText(), QString("lab7.ini"));
  QCOMPARE(combo->itemData(1, Qt::ToolTipRole).toString(), QString("The course board"));
  QCOMPARE(combo->itemData(3, Qt::ToolTipRole).toString(), QString("Lab 7"));
  combo->setCurrentIndex(0);
  QCOMPARE(box.Choice().Board, QString("none"));
  combo->setCurrentIndex(2);
  QCOMPARE(box.Choice().Board, QString("isa200.ini"));

  QVERIFY(!box.findChild<QPushButton*>("btnBoardBrowse")->isEnabled());  // no one to ask

  // A file picked from elsewhere stands in the list by its path; one from a boards folder
  // by its name.
  current.Board = "/srv/lab/boards/x.ini";
  TScriptedPrompts prompts;
  prompts.files = {{true, mine.filePath("lab7.ini")}, {true, elsewhere.filePath("lab9.ini")}};
  TdlgConfigBox other(main_, current, folders, &prompts);
  combo = other.findChild<QComboBox*>("cbBoard");
  QCOMPARE(combo->count(), 5);
  QCOMPARE(other.Choice().Board, current.Board);
  auto* browse = other.findChild<QPushButton*>("btnBoardBrowse");
  browse->click();
  QCOMPARE(other.Choice().Board, QString("lab7.ini"));
  QCOMPARE(prompts.lastRequest.directory, shipped.path());
  browse->click();
  QCOMPARE(other.Choice().Board, elsewhere.filePath("lab9.ini"));
  browse->click();  // cancelled: the choice stays
  QCOMPARE(other.Choice().Board, elsewhere.filePath("lab9.ini"));
  current.Board = "NONE";
  QCOMPARE(TdlgConfigBox(main_, current, folders).Choice().Board, QString("none"));
}

void TDialogsTest::inputBoxReturnsTextAndBase_data() {
  QTest::addColumn<int>("item");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<int>("base");
  QTest::newRow("hexadecimal") << 0 << "1A2F" << 16;
  QTest::newRow("decimal") << 1 << "1A" << 10;  // the box itself checks nothing
  QTest::newRow("binary") << 2 << "101" << 2;
  QTest::newRow("negative binary") << 2 << "-5" << 2;
}

void TDialogsTest::inputBoxReturnsTextAndBase() {
  QFETCH(int, item);
  QFETCH(QString, typed);
  QFETCH(int, base);
  TdlgInputBox box(main_);
  box.SetText("FFFF");
  box.show();
  QVERIFY(QTest::qWaitForWindowExposed(&box));
  auto* edit = box.findChild<QLineEdit*>("edtInput");
  QVERIFY(edit);
  QCOMPARE(edit->selectedText(), QString("FFFF"));
  QCOMPARE(box.font(), main_->font());
  // Typing replaces the preselected text.
  QTest::keyClicks(edit, typed);
  ClickItem(&box, "rgNumSys", item);
  QTest::mouseClick(box.findChild<QPushButton*>("btnOk"), Qt::LeftButton);
  QCOMPARE(box.result(), int(QDialog::Accepted));
  QCOMPARE(box.InputText(), typed);
  QCOMPARE(box.InputBase(), base);
}

void TDialogsTest::inputBoxHeightsAndPresets() {
  TdlgInputBox box(main_);
  QCOMPARE(box.windowTitle(), QString("输入数据"));
  QCOMPARE(box.findChild<QLabel*>("lblPrompt")->text(), QString("请输入数据"));
  auto* rg = box.findChild<TRadioGroup*>("rgNumSys");
  QCOMPARE(rg->title(), QString("数制选择"));
  QCOMPARE(rg->Items(), (QStringList{"16进制", "10进制", "2进制"}));
  QCOMPARE(rg->ItemIndex(), 0);
  // Three columns: all items on one row.
  const auto radios = rg->findChildren<QRadioButton*>();
  box.show();
  QCOMPARE(radios.size(), 3);
  QCOMPARE(radios[0]->y(), radios[2]->y());
  QVERIFY(radios[0]->x() < radios[1]->x() && radios[1]->x() < radios[2]->x());
  QCOMPARE(box.height(), 151);
  QVERIFY((box.geometry().center() - main_->geometry().center()).manhattanLength() <= 2);

  box.SetNumberSystemVisible(false);
  QCOMPARE(box.height(), 116);
  QVERIFY(rg->isHidden());
  box.SetNumberSystemVisible(true);
  QCOMPARE(box.height(), 151);
  QVERIFY(rg->isVisible());

  box.SetNumberSystem(10);
  QCOMPARE(rg->ItemIndex(), 1);
  box.SetNumberSystem(8);  // not offered: the selection stays
  QCOMPARE(rg->ItemIndex(), 1);
  box.SetNumberSystemEnabled(false);
  QVERIFY(!rg->isEnabled());
  box.SetCaption("修改内存");
  box.SetPrompt("地址");
  QCOMPARE(box.windowTitle(), QString("修改内存"));
  QCOMPARE(box.findChild<QLabel*>("lblPrompt")->text(), QString("地址"));
  QTest::mouseClick(box.findChild<QPushButton*>("btnOk"), Qt::LeftButton);
  QCOMPARE(box.InputBase(), 10);
  QCOMPARE(box.InputText(), QString());
}

void TDialogsTest::inputBoxCancelLeavesNothing() {
  TdlgInputBox box(main_);
  box.SetText("1234");
  box.SetNumberSystem(2);
  box.show();
  QTest::mouseClick(box.findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
  QCOMPARE(box.result(), int(QDialog::Rejected));
  QCOMPARE(box.InputText(), QString());
  QCOMPARE(box.InputBase(), 16);
}

void TDialogsTest::aboutBoxClosesOnCharacterKeysOnly() {
  for (const Qt::Key key : {Qt::Key_F1, Qt::Key_Shift, Qt::Key_Left, Qt::Key_Control}) {
    TdlgAboutBox box(main_);
    box.show();
    QTest::keyClick(&box, key);
    QVERIFY2(box.isVisible(), qPrintable(QString::number(key, 16)));
  }
  for (const char key : {'a', '7', ' '}) {
    TdlgAboutBox box(main_);
    box.show();
    QTest::keyClick(&box, key);
    QVERIFY2(!box.isVisible(), qPrintable(QString(QChar(key))));
  }
  TdlgAboutBox box(main_);
  box.show();
  QTest::keyClick(&box, Qt::Key_Return);
  QVERIFY(!box.isVisible());
}

void TDialogsTest::aboutBoxLabelsAndNotice() {
  TdlgAboutBox box(main_);
  box.show();
  QVERIFY(QTest::qWaitForWindowExposed(&box));
  QCOMPARE(box.size(), QSize(506, 288));
  QVERIFY(box.windowFlags() & Qt::FramelessWindowHint);
  QVERIFY(box.isModal());
  QVERIFY((box.geometry().center() - main_->geometry().center()).manhattanLength() <= 2);

  auto* notice = box.findChild<QLabel*>("lblNotice");
  QVERIFY(notice && notice->isVisible());
  const QString year = QString::number(QDate::currentDate().year());
  QVERIFY2(notice->text().contains(year), qPrintable(notice->text()));
  QVERIFY(!notice->text().contains("%1"));
  QCOMPARE(notice->palette().color(QPalette::WindowText), QColor(0xA6, 0xCA, 0xF0));
  QCOMPARE(notice->geometry().topLeft(), QPoint(230, 240));
  QCOMPARE(notice->width(), 258);

  auto* version = box.findChild<QLabel*>("lblVersion");
  QCOMPARE(version->text(), QString("V" CORVALE_VERSION));
  QCOMPARE(version->geometry().topLeft(), QPoint(408, 190));
  QCOMPARE(version->width(), 41);
  QVERIFY(version->alignment() & Qt::AlignRight);

  auto* close = box.findChild<QLabel*>("lblClose");
  QCOMPARE(close->text(), QString("╳"));
  QCOMPARE(close->toolTip(), QString("关闭"));
  QCOMPARE(close->cursor().shape(), Qt::PointingHandCursor);
  auto* link = box.findChild<QLabel*>("lblLink");
  QVERIFY(!link->text().isEmpty());
  QVERIFY(link->font().underline());
  QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
  QCOMPARE(link->geometry().topLeft(), QPoint(350, 256));

  const auto dots = box.findChildren<QWidget*>(QRegularExpression("^shpDot"));
  QCOMPARE(dots.size(), 5);
  for (const QWidget* dot : dots) QCOMPARE(dot->geometry(), QRect(-10, 216, 5, 5));
}

void TDialogsTest::aboutBoxTextsAreNotStoredPlain() {
  TdlgAboutBox box(main_);
  const QByteArray link = box.findChild<QLabel*>("lblLink")->text().toUtf8();
  QString notice = box.findChild<QLabel*>("lblNotice")->text();
  const QByteArray noticeHead =
      notice.left(notice.indexOf(QString::number(QDate::currentDate().year()))).toUtf8();
  QFile self(QCoreApplication::applicationFilePath());
  QVERIFY(self.open(QIODevice::ReadOnly));
  const QByteArray program = self.readAll();
  QVERIFY(link.size() > 4 && noticeHead.size() > 4);
  QVERIFY(!program.contains(link));
  QVERIFY(!program.contains(noticeHead));
}

void TDialogsTest::aboutBoxDragsAndCloses() {
  TdlgAboutBox box(main_);
  box.show();
  QVERIFY(QTest::qWaitForWindowExposed(&box));
  for (const char* handle : {"imgAbout", "lblVersion", "lblNotice"}) {
    auto* target = box.findChild<QLabel*>(handle);
    const QPoint start = box.pos();
    SendMouse(target, QEvent::MouseButtonPress, QPoint(3, 3));
    SendMouse(target, QEvent::MouseMove, QPoint(53, 33));
    SendMouse(target, QEvent::MouseButtonRelease, QPoint(3, 3));
    QCOMPARE(box.pos(), start + QPoint(50, 30));
    QVERIFY(box.isVisible());
  }
  auto* close = box.findChild<QLabel*>("lblClose");
  SendMouse(close, QEvent::MouseButtonPress, QPoint(2, 2));
  SendMouse(close, QEvent::MouseButtonRelease, QPoint(2, 2));
  QVERIFY(!box.isVisible());
}

void TDialogsTest::splashDotTrack_data() {
  QTest::addColumn<int>("frame");
  QTest::addColumn<int>("dot");
  QTest::addColumn<int>("x");
  QTest::newRow("first frame, lead dot") << 0 << 0 << 20;
  QTest::newRow("first frame, second dot waits") << 0 << 1 << -68;
  QTest::newRow("first frame, last dot waits") << 0 << 4 << -92;
  QTest::newRow("last dot starts") << 4 << 4 << -12;
  QTest::newRow("middle") << 5 << 2 << 228;
  QTest::newRow("last frame, lead dot") << 19 << 0 << 600;
  QTest::newRow("last frame, last dot") << 19 << 4 << 568;
  QTest::newRow("before the track") << -3 << 0 << -60;
  QTest::newRow("past the track") << 40 << 1 << 592;
}

void TDialogsTest::splashDotTrack() {
  QFETCH(int, frame);
  QFETCH(int, dot);
  QFETCH(int, x);
  QCOMPARE(SplashDotX(frame, dot), x);
}

void TDialogsTest::splashAnimatesAndGoesAway() {
  QList<int> leadPositions;
  bool labelsAsExpected = true;
  QTimer probe;
  probe.setInterval(25);
  connect(&probe, &QTimer::timeout, [&] {
    TdlgAboutBox* box = ShownAboutBox();
    if (!box) return;
    labelsAsExpected = labelsAsExpected && box->findChild<QLabel*>("lblClose")->isHidden() &&
                       box->findChild<QLabel*>("lblNotice")->isHidden() &&
                       box->findChild<QLabel*>("lblLink")->isHidden() &&
                       box->findChild<QLabel*>("lblVersion")->isVisible() &&
                       box->findChild<QLabel*>("imgAbout")->isVisible();
    leadPositions << box->findChild<QWidget*>("shpDot0")->x();
  });
  probe.start();
  QElapsedTimer clock;
  clock.start();
  RunSplash();
  const qint64 elapsed = clock.elapsed();
  probe.stop();
  QVERIFY2(elapsed >= 2400 && elapsed < 15000, qPrintable(QString::number(elapsed)));
  QVERIFY(!leadPositions.isEmpty());
  QVERIFY(labelsAsExpected);
  for (int x : leadPositions) QVERIFY2(x >= 20 && x <= 600, qPrintable(QString::number(x)));
  QVERIFY(leadPositions.contains(600));
  QVERIFY(!ShownAboutBox());
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    QVERIFY(!qobject_cast<TdlgAboutBox*>(widget));
  }
}

void TDialogsTest::skinNames() {
  for (const TSkin skin : {TSkin::Default, TSkin::Blue, TSkin::Silver}) {
    QCOMPARE(SkinFromSettingName(SkinSettingName(skin)), std::optional<TSkin>(skin));
  }
  QCOMPARE(SkinSettingName(TSkin::Default), QString("Default"));
  QCOMPARE(SkinSettingName(TSkin::Blue), QString("Office 2007 Blue"));
  QCOMPARE(SkinSettingName(TSkin::Silver), QString("Office 2007 Silver"));
  for (const char* odd : {"", "office 2007 blue", "Office 2007 Blue ", "Blue", "Office 2010"}) {
    QVERIFY2(!SkinFromSettingName(odd).has_value(), odd);
  }
}

void TDialogsTest::skinsRestyleTheApplication() {
  const QString platformStyle = CurrentStyleName();
  const QPalette platformPalette = QApplication::palette();

  ApplySkin(TSkin::Blue);
  const QString blueSheet = qApp->styleSheet();
  QVERIFY(blueSheet.contains("QMenuBar"));
  QVERIFY(blueSheet.contains("QStatusBar"));
  // A style sheet wraps the style; without it the style underneath shows.
  qApp->setStyleSheet(QString());
  QCOMPARE(CurrentStyleName(), QString("fusion"));
  qApp->setStyleSheet(blueSheet);
  const QColor blueWindow = QApplication::palette().color(QPalette::Window);
  QVERIFY(blueWindow.blue() > blueWindow.red());
  // Default's header colour is the platform's, even while another skin is on.
  QCOMPARE(SkinHeaderColor(TSkin::Default), platformPalette.color(QPalette::Button));

  ApplySkin(TSkin::Silver);
  const QColor silverWindow = QApplication::palette().color(QPalette::Window);
  QVERIFY(silverWindow != blueWindow);
  QVERIFY(qAbs(silverWindow.red() - silverWindow.blue()) < 16);

  ApplySkin(TSkin::Default);
  QCOMPARE(CurrentStyleName(), platformStyle);
  QVERIFY(qApp->styleSheet().isEmpty());
  QCOMPARE(QApplication::palette().color(QPalette::Window),
           platformPalette.color(QPalette::Window));

  QCOMPARE(SkinHeaderColor(TSkin::Blue), QColor(0xA6, 0xCA, 0xF0));
  QCOMPARE(SkinHeaderColor(TSkin::Silver), QColor(0xC0, 0xC0, 0xC0));
}

void TDialogsTest::editorFonts() {
  for (const TEditorFont font : {TEditorFont::CourierNew, TEditorFont::Fixedsys}) {
    QCOMPARE(EditorFontFromSettingName(EditorFontSettingName(font)),
             std::optional<TEditorFont>(font));
  }
  QCOMPARE(EditorFontSettingName(TEditorFont::CourierNew), QString("Courier New"));
  QCOMPARE(EditorFontSettingName(TEditorFont::Fixedsys), QString("Fixedsys"));
  QVERIFY(!EditorFontFromSettingName("courier new").has_value());
  QVERIFY(!EditorFontFromSettingName("Consolas").has_value());

  const QFont courier = EditorFont(TEditorFont::CourierNew);
  const QFont fixedsys = EditorFont(TEditorFont::Fixedsys);
  QCOMPARE(courier.pointSize(), 10);
  QCOMPARE(fixedsys.pointSize(), 12);
  // Each is drawn with a family the machine has, and the font menu names that family.
  for (const TEditorFont font : {TEditorFont::CourierNew, TEditorFont::Fixedsys}) {
    const QString family = EditorFontFamily(font);
    QVERIFY2(QFontDatabase::hasFamily(family), qPrintable(family));
    QCOMPARE(EditorFont(font).families(), QStringList{family});
    QCOMPARE(EditorFontCaption(font), "&" + family);
  }
  // Whatever family stands in, columns must line up.
  QVERIFY2(QFontInfo(courier).fixedPitch(), qPrintable(QFontInfo(courier).family()));
  for (const QFont& font : {courier, fixedsys}) {
    const QFontMetrics metrics(font);
    QCOMPARE(metrics.horizontalAdvance("iiii"), metrics.horizontalAdvance("MMMM"));
  }
  QVERIFY(QFontMetrics(fixedsys).inFontUcs4(0x4E2D));  // 中

  QVERIFY(EditorKeywordsBold(TEditorFont::CourierNew));
  QVERIFY(!EditorKeywordsBold(TEditorFont::Fixedsys));
}

QTEST_MAIN(TDialogsTest)
#include "dialogs_test.moc"
