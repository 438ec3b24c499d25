// The main window without editor windows: its frame, the enabling rules, the tab arrows, the
// view commands, the CPU type, the skin and font commands, the settings written at close
// and the close refused while a program runs.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDockWidget>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <deque>

#include "board_panel.h"
#include "board_session.h"
#include "editor_fonts.h"
#include "frm_main_win.h"
#include "ini_file.h"
#include "panel_docks.h"
#include "prompts.h"
#include "scripted_prompts.h"

class TMainWindowTest : public QObject {
  Q_OBJECT

 private:
  template <typename T>
  T* Find(const char* name) {
    return FindChildOrDie<T>(window_.get(), name);
  }
  QString SettingsPath() const { return dir_.filePath("Corvale.INI"); }
  void WriteSettings(const QByteArray& text) {
    QFile file(SettingsPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
  }
  void Open() {
    window_ = std::make_unique<TfrmMainWin>(prompts_, SettingsPath().toStdString());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }

 private slots:
  void initTestCase() { qputenv("CORVALE_NO_SPLASH", "1"); }
  void init() {
    prompts_ = TScriptedPrompts{};
    QFile::remove(SettingsPath());
  }
  void cleanup() {
    if (window_) {
      window_->SetRunState(false);
      window_->close();
    }
    window_.reset();
  }

  void frameHasItsPanelsTabsAndFields() {
    Open();
    QCOMPARE(window_->windowTitle(), QString("Corvale 集成开发环境"));
    auto* label = Find<QLabel>("lblCorvale");
    QCOMPARE(label->text(), QString("Corvale"));
    QCOMPARE(label->font().pixelSize(), 96);
    QVERIFY(label->font().bold() && label->font().italic());
    QCOMPARE(label->geometry(), Find<QMdiArea>("mdiArea")->viewport()->rect());

    QCOMPARE(Find<QDockWidget>("pnlDisassembly")->windowTitle(), QString("反汇编窗口"));
    QVERIFY(!Find<QDockWidget>("pnlDisassembly")->isVisible());
    // The pages sit in the two tab strips the workbench always had, first pages in front.
    TPanelDocks& docks = window_->Docks();
    const auto titles = [&docks](TPage page) {
      QStringList texts;
      for (const TPage member : docks.Group(page)) texts << docks.Title(member);
      return texts;
    };
    QCOMPARE(titles(TPage::Registers), (QStringList{"文件管理", "寄存器"}));
    QCOMPARE(titles(TPage::Memory), (QStringList{"编译", "内存", "I/O读写", "观察", "断点",
                                                 "用户屏幕", "堆栈", "实验板"}));
    QCOMPARE(window_->tabPosition(Qt::BottomDockWidgetArea), QTabWidget::South);
    QCOMPARE(window_->tabPosition(Qt::LeftDockWidgetArea), QTabWidget::South);
    QVERIFY(docks.IsShown(TPage::Files) && docks.IsShown(TPage::Compile));
    QVERIFY(!docks.IsShown(TPage::Registers) && !docks.IsShown(TPage::Memory));
    QVERIFY(Find<QTableWidget>("sgStack"));
    // The default board is loaded at start, and its page draws its devices: the chips'
    // places and the DAC, no hint to choose one.
    QCOMPARE(docks.Dock(TPage::Board)->widget(), window_->BoardPanel());
    QVERIFY(window_->Board().Loaded());
    QVERIFY(Find<QLabel>("lblBoardChips")->text().contains("8255@270h"));
    QVERIFY(Find<QLabel>("lblDac"));
    QVERIFY(!window_->BoardPanel()->findChild<QLabel*>("lblNoBoard"));

    QCOMPARE(Find<QLabel>("sHint")->text(), QString("按 F1 获取帮助"));
    // Resting on the I/O tab names the page in the status bar.
    for (QTabBar* bar : window_->findChildren<QTabBar*>(Qt::FindDirectChildrenOnly)) {
      for (int tab = 0; tab < bar->count() && bar->isVisible(); ++tab) {
        if (bar->tabText(tab) == "I/O读写") QTest::mouseMove(bar, bar->tabRect(tab).center());
      }
    }
    QCOMPARE(Find<QLabel>("sHint")->text(), QString("显示I/O窗口"));
    QCOMPARE(Find<QLabel>("sConnect")->text(), QString("脱机模拟"));
    QCOMPARE(Find<QLabel>("sConnect")->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(Find<QLabel>("sStatus")->text(), QString("待命"));
    QCOMPARE(Find<QLabel>("sCPUType")->text(), QString("CPU: 8086/8088"));
    QVERIFY(!Find<QWidget>("pbLoad")->isVisible());
    const QList<QPair<const char*, int>> widths = {
        {"sConnect", 60},         {"sStatus", 60},   {"sLineLineColumn", 92}, {"sModified", 50},
        {"sInsertOverwrite", 36}, {"sCPUType", 120}, {"sInfo", 180}};
    for (const auto& [name, width] : widths) QCOMPARE(Find<QWidget>(name)->minimumWidth(), width);
  }

  void hintFieldFollowsTheStatusBarWidth() {
    Open();
    window_->setWindowState(Qt::WindowNoState);
    window_->resize(1400, 700);
    auto* hint = Find<QLabel>("sHint");
    QTRY_COMPARE(hint->maximumWidth(), window_->statusBar()->width() - 640);
    QTRY_VERIFY(hint->width() > 350 && hint->width() <= hint->maximumWidth());
    window_->resize(600, 500);
    QTRY_COMPARE(hint->maximumWidth(), 350);
    QTRY_COMPARE(hint->width(), 350);
    for (const char* name : {"sConnect", "sStatus", "sCPUType"}) {
      QVERIFY(Find<QWidget>(name)->width() >= Find<QWidget>(name)->minimumWidth());
    }

    QStatusTipEvent tip("全速运行");
    QCoreApplication::sendEvent(window_.get(), &tip);
    QCOMPARE(Find<QLabel>("sHint")->text(), QString("全速运行"));
    QStatusTipEvent none(QString{});
    QCoreApplication::sendEvent(window_.get(), &none);
    QCOMPARE(Find<QLabel>("sHint")->text(), QString("按 F1 获取帮助"));
  }

  void windowCommandsNeedAnEditorWindow() {
    Open();
    const QStringList windowCommands{"awCascade",     "awHorizontal", "awVertical",
                                     "awMinimizeAll", "awArrange",    "afClose"};
    const QStringList editorCommands{"afSaveAs",   "afSaveAll", "afCloseAll", "aeFind",
                                     "aeFindNext", "aeReplace", "aeGoto"};
    for (const QString& name : windowCommands + editorCommands) {
      QVERIFY2(!window_->Action(qPrintable(name))->isEnabled(), qPrintable(name));
    }
    auto* area = Find<QMdiArea>("mdiArea");
    window_->OpenEditor("/nonexistent/u/a.asm");
    for (const QString& name : windowCommands + editorCommands) {
      QVERIFY2(window_->Action(qPrintable(name))->isEnabled(), qPrintable(name));
    }
    auto* windowMenu = Find<QMenu>("mnuWindow");
    emit windowMenu->aboutToShow();
    QAction* listed = windowMenu->actions().last();
    QCOMPARE(listed->text(), QString("&1 /nonexistent/u/a.asm"));
    QVERIFY(listed->isChecked());
    emit windowMenu->aboutToShow();  // listing again replaces the entries
    QCOMPARE(windowMenu->actions().size(), 10);

    window_->Action("afClose")->trigger();
    QTRY_VERIFY(area->subWindowList().isEmpty());
    for (const QString& name : windowCommands + editorCommands) {
      QVERIFY2(!window_->Action(qPrintable(name))->isEnabled(), qPrintable(name));
    }
  }

  void messageAndDisassemblyListsScrollSideways() {
    Open();
    const struct {
      const char* name;
      int extent;
    } lists[] = {{"lbMessage", 1024}, {"lbDisassembly", 2048}};
    window_->Action("avDisassembly")->trigger();
    for (const auto& l : lists) {
      auto* list = Find<QListWidget>(l.name);
      list->addItem("short");
      list->resize(300, 120);
      QApplication::processEvents();
      QTRY_COMPARE(list->horizontalScrollBar()->maximum(), l.extent - list->viewport()->width());
    }
  }

  void editCommandsFollowTheFocusedField() {
    Open();
    auto* field = Find<QLineEdit>("edtIOAddr");
    window_->Action("avIO")->trigger();
    window_->activateWindow();
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    field->setText("3F8");
    QVERIFY(window_->Action("aeSelectAll")->isEnabled());
    QVERIFY(!window_->Action("aeCopy")->isEnabled());
    window_->Action("aeSelectAll")->trigger();
    QVERIFY(window_->Action("aeCopy")->isEnabled());
    QVERIFY(window_->Action("aeCut")->isEnabled());
    window_->Action("aeCut")->trigger();
    QCOMPARE(field->text(), QString());
    QVERIFY(window_->Action("aePaste")->isEnabled());
    window_->Action("aePaste")->trigger();
    QCOMPARE(field->text(), QString("3F8"));
  }

  void tabArrowsStepTheirGroupAndStopAtTheEnds() {
    Open();
    TPanelDocks& docks = window_->Docks();
    struct TCase {
      TPage start;
      const char* arrow;
      const char* front;
    };
    const TCase cases[] = {
        {TPage::Compile, "btnMessageLeft", "编译"},
        {TPage::Compile, "btnMessageRight", "内存"},
        {TPage::Breakpoints, "btnMessageRight", "用户屏幕"},
        {TPage::Stack, "btnMessageRight", "实验板"},
        {TPage::Board, "btnMessageRight", "实验板"},
        {TPage::UserScreen, "btnMessageLeft", "断点"},
        {TPage::Files, "btnWorkspaceRight", "寄存器"},
        {TPage::Registers, "btnWorkspaceRight", "寄存器"},
        {TPage::Registers, "btnWorkspaceLeft", "文件管理"},
    };
    for (const TCase& c : cases) {
      docks.Raise(c.start);
      // The arrows sit in the title bar of the page in front.
      docks.Dock(c.start)->findChild<QToolButton*>(c.arrow)->click();
      QCOMPARE(docks.Title(docks.Front(c.start).value()), QString(c.front));
    }
    QCOMPARE(docks.Front(TPage::Compile), TPage::Breakpoints);  // each group moves alone
  }

  void viewCommandsBringBackPanelAndTab() {
    Open();
    TPanelDocks& docks = window_->Docks();
    // Each command of the View menu and the dock it names, by the dock's object name.
    const QStringList cases = {"avFile:pnlFiles",
                               "avRegisters:pnlRegisters",
                               "avCompile:pnlCompile",
                               "avMemory:pnlMemory",
                               "avIO:pnlIO",
                               "avWatches:pnlWatches",
                               "avBreakpoint:pnlBreakpoints",
                               "avUserScreen:pnlUserScreen",
                               "avStack:pnlStack",
                               "avBoard:pnlBoard"};
    for (const QString& entry : cases) {
      const QByteArray command = entry.section(':', 0, 0).toLatin1();
      const TPage page = docks.PageOf(Find<QDockWidget>(qPrintable(entry.section(':', 1)))).value();
      // Closed, or behind another tab of its group: the command brings it into view.
      docks.Dock(page)->close();
      QVERIFY(!docks.IsShown(page));
      window_->Action(command)->trigger();
      QVERIFY2(docks.IsShown(page), command.constData());
      const QList<TPage> group = docks.Group(page);
      QVERIFY2(group.size() > 1, command.constData());  // back at its place in its tab strip
      docks.Raise(group.constFirst() == page ? group.constLast() : group.constFirst());
      QVERIFY(!docks.IsShown(page));
      window_->Action(command)->trigger();
      QVERIFY2(docks.IsShown(page), command.constData());
    }
    auto* disassembly = Find<QDockWidget>("pnlDisassembly");
    disassembly->close();
    window_->Action("avDisassembly")->trigger();
    QVERIFY(disassembly->isVisible());
  }

  void cpuTypeSetsCaptionStatusAndRegisterRows_data() {
    QTest::addColumn<int>("series");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::newRow("8086") << 0 << 0 << "设置IP到光标行(&P)"
                          << "CPU: 8086/8088" << 22 << " AX"
                          << " FL.CF";
    QTest::newRow("80386") << 0 << 1 << "设置EIP到光标行(&P)"
                           << "CPU: 80386/80486" << 24 << " EAX"
                           << " EFL.CF";
    QTest::newRow("8032") << 1 << 0 << "设置PC到光标行(&P)"
                          << "CPU: 8032(EA=0)" << 39 << " PC"
                          << " PSW.P";
    QTest::newRow("8952") << 1 << 1 << "设置PC到光标行(&P)"
                          << "CPU: 8952(EA=1)" << 39 << " PC"
                          << " PSW.P";
    QTest::newRow("80C196KB") << 2 << 0 << "设置PC到光标行(&P)"
                              << "CPU: 80C196KB" << 12 << " PC"
                              << " PSW.ST";
    QTest::newRow("80C196KC") << 2 << 1 << "设置PC到光标行(&P)"
                              << "CPU: 80C196KC" << 12 << " PC"
                              << " PSW.ST";
  }
  void cpuTypeSetsCaptionStatusAndRegisterRows() {
    QFETCH(int, series);
    QFETCH(int, type);
    QFETCH(QString, caption);
    QFETCH(QString, status);
    QFETCH(int, rows);
    QFETCH(QString, first);
    QFETCH(QString, last);
    Open();
    window_->SetCpuType(series, type);
    window_->ApplyCpuType();
    QAction* setIp = window_->Action("arSetIP");
    QCOMPARE(setIp->text(), caption);
    QCOMPARE(setIp->statusTip(), QString(caption).remove("(&P)"));
    QCOMPARE(Find<QLabel>("sCPUType")->text(), status);
    auto* grid = Find<QTableWidget>("sgRegs");
    QCOMPARE(grid->rowCount() + 1, rows);  // plus the header row
    QCOMPARE(grid->item(0, 0)->text(), first);
    QCOMPARE(grid->item(grid->rowCount() - 1, 0)->text(), last);

    // A series the workbench does not know leaves everything as it was.
    window_->SetCpuType(7, 0);
    window_->ApplyCpuType();
    QCOMPARE(setIp->text(), caption);
    QCOMPARE(grid->rowCount() + 1, rows);
  }

  void skinAndFontCommandsAreRadioItems() {
    Open();
    const QStringList skins{"assSystem", "assBlue", "assSilver"};
    const QStringList colours{"", "#a6caf0", "#c0c0c0"};
    for (int i = 0; i < skins.size(); ++i) {
      window_->Action(qPrintable(skins[i]))->trigger();
      for (const QString& other : skins) {
        QCOMPARE(window_->Action(qPrintable(other))->isChecked(), other == skins[i]);
      }
      if (!colours[i].isEmpty()) {
        QVERIFY(
            Find<QTableWidget>("sgWatch")->horizontalHeader()->styleSheet().contains(colours[i]));
      }
      // Every look keeps hints free of a pause.
      QCOMPARE(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 0);
    }
    window_->Action("asfFixedsys")->trigger();
    QVERIFY(!window_->Action("asfCourierNew")->isChecked());
    QCOMPARE(Find<QTableWidget>("sgRegs")->font(), EditorFont(TEditorFont::Fixedsys));
    window_->Action("asfCourierNew")->trigger();
    QVERIFY(!window_->Action("asfFixedsys")->isChecked());
    // The user screen takes the family at its own size.
    QCOMPARE(Find<QWidget>("mmINT21")->font().family(),
             EditorFont(TEditorFont::CourierNew).family());
    window_->Action("asfCourierNew")->trigger();  // choosing the checked one keeps it checked
    QVERIFY(window_->Action("asfCourierNew")->isChecked());
  }

  void settingsAreRestoredAndWrittenAtClose() {
    WriteSettings(
        "[Config]\r\nCPUSeries=0\r\nCPUType=1\r\nCommPort=/dev/ttyS3\r\nCommBaud=9600\r\n"
        "dasm=1\r\nWindowState=Normal\r\nSkin=Office 2007 Silver\r\nFont=Fixedsys\r\n"
        "[MRUList]\r\n1=/home/u/b.asm\r\n2=/home/u/a.asm\r\n");
    Open();
    QCOMPARE(window_->Action("arSetIP")->text(), QString("设置EIP到光标行(&P)"));
    QVERIFY(window_->Action("assSilver")->isChecked());
    QVERIFY(window_->Action("asfFixedsys")->isChecked());
    QVERIFY(!window_->isMaximized());
    QCOMPARE(window_->size(), QSize(1024, 738));
    auto* entry = window_->findChild<QAction*>("mfMRU1");
    QVERIFY(entry);
    QCOMPARE(entry->text(), QString("&1 b.asm"));
    QCOMPARE(entry->statusTip(), QString("/home/u/b.asm"));
    QVERIFY(window_->findChild<QAction*>("tbMRU2"));
    QVERIFY(!window_->findChild<QAction*>("mfMRU3"));
    QTreeWidgetItem* recent = Find<QTreeWidget>("tvFile")->topLevelItem(0);
    QCOMPARE(recent->text(0), QString("最近使用的文件"));
    QCOMPARE(recent->childCount(), 2);
    // The name first, then its folder; the entry opens the full path.
    QCOMPARE(recent->child(0)->text(0), QString("b.asm - /home/u"));
    QCOMPARE(recent->child(0)->data(0, Qt::UserRole).toString(), QString("/home/u/b.asm"));
    QVERIFY(recent->isExpanded());

    window_->Action("assBlue")->trigger();
    window_->Action("asfCourierNew")->trigger();
    QVERIFY(window_->close());
    window_.reset();

    TIniFile ini;
    QVERIFY(ini.Load(SettingsPath().toStdString()));
    QCOMPARE(ini.ReadString("Config", "Skin", "?"), std::string("Office 2007 Blue"));
    QCOMPARE(ini.ReadString("Config", "Font", "?"), std::string("Courier New"));
    QCOMPARE(ini.ReadString("Config", "WindowState", "?"), std::string("Normal"));
    QCOMPARE(ini.ReadInteger("Config", "CPUType", -1), 1);
    QCOMPARE(ini.ReadString("Config", "CommPort", "?"), std::string());  // closed offline
    QCOMPARE(ini.ReadInteger("Config", "CommBaud", -1), 9600);           // never written, kept
    QCOMPARE(ini.ReadString("Config", "dasm", "?"), std::string("1"));
    QCOMPARE(ini.ReadString("MRUList", "1", "?"), std::string("/home/u/b.asm"));
    QCOMPARE(ini.ReadString("MRUList", "2", "?"), std::string("/home/u/a.asm"));
    QCOMPARE(ini.ReadString("FileList", "1", "?"), std::string("?"));
  }

  void unknownSkinAndFontAreWrittenBackEmpty() {
    WriteSettings("[Config]\r\nSkin=Purple\r\nFont=Comic\r\nWindowState=\r\n");
    Open();
    for (const char* name : {"assSystem", "assBlue", "assSilver", "asfCourierNew", "asfFixedsys"}) {
      QVERIFY(!window_->Action(name)->isChecked());
    }
    QVERIFY(window_->isMaximized());
    QVERIFY(window_->close());
    window_.reset();
    TIniFile ini;
    QVERIFY(ini.Load(SettingsPath().toStdString()));
    QCOMPARE(ini.ReadString("Config", "Skin", "?"), std::string());
    QCOMPARE(ini.ReadString("Config", "Font", "?"), std::string());
    QCOMPARE(ini.ReadString("Config", "WindowState", "?"), std::string("Maximized"));
  }

  void closeWhileRunningAsksAndCancelKeepsTheWindow() {
    Open();
    window_->SetRunState(true);
    QVERIFY(window_->Action("arPause")->isEnabled());
    QVERIFY(!window_->Action("arRun")->isEnabled());
    prompts_.answers = {paCancel};
    QVERIFY(!window_->close());
    QVERIFY(window_->isVisible());
    QCOMPARE(window_->LastAnswer(), int(paCancel));
    QCOMPARE(prompts_.asked.size(), 1);
    QCOMPARE(prompts_.asked[0].caption, QString("正在运行"));
    QVERIFY(prompts_.asked[0].text.startsWith("程序正在运行，是否暂停后退出？\r\n\r\n　是："));
    QCOMPARE(prompts_.asked[0].buttons, unsigned(pbYes | pbNo | pbCancel));
    QCOMPARE(prompts_.asked[0].icon, TPromptIcon::Warning);
    QVERIFY(!QFile::exists(SettingsPath()));  // nothing written by a refused close

    prompts_.answers = {paNo};
    QVERIFY(window_->close());
    QVERIFY(QFile::exists(SettingsPath()));
    window_.reset();
  }

  void closeWhileIdleAsksNothing() {
    Open();
    QVERIFY(window_->close());
    QVERIFY(prompts_.asked.isEmpty());
    window_.reset();
  }

  void secondInstanceBringsTheWindowBack() {
    Open();
    window_->showMinimized();
    QTRY_VERIFY(window_->isMinimized());
    window_->ActivateExisting();
    QTRY_VERIFY(!window_->isMinimized());
    QVERIFY(window_->isVisible());
  }

  void optionsDialogAppliesTheCpuTypeOnOkOnly() {
    Open();
    for (const bool accept : {false, true}) {
      window_->SetCpuType(0, 1);  // chosen but not applied yet
      QTimer::singleShot(0, this, [accept] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        accept ? dialog->accept() : dialog->reject();
      });
      window_->Action("asOptions")->trigger();
      QCOMPARE(window_->Action("arSetIP")->text(),
               accept ? QString("设置EIP到光标行(&P)") : QString("设置IP到光标行(&P)"));
      window_->SetCpuType(0, 0);
      window_->ApplyCpuType();
    }
    QVERIFY(prompts_.asked.isEmpty());
  }

  void optionsAreRefusedWhileRunning() {
    Open();
    window_->SetRunState(true);
    window_->Action("asOptions")->trigger();
    QCOMPARE(prompts_.asked.size(), 1);
    QCOMPARE(prompts_.asked[0].text, QString("程序正在运行，请先暂停再执行此操作！"));
    QCOMPARE(prompts_.asked[0].caption, QString("正在运行"));
    QCOMPARE(prompts_.asked[0].icon, TPromptIcon::Warning);
  }

  void doubleClickOnTheLabelOpensAndListsTheFile() {
    Open();
    prompts_.files = {TFileDialogResult{true, "/work/x/hello.asm", 0}};
    auto* label = Find<QLabel>("lblCorvale");
    QTest::mouseDClick(label, Qt::LeftButton);
    QCOMPARE(prompts_.fileDialogs, 1);
    QCOMPARE(prompts_.lastRequest.filters.size(), 4);
    QVERIFY(prompts_.lastRequest.filters[0].startsWith("所有源程序 (*.ASM; *.INC; *.C; *.H) ("));
    QVERIFY(prompts_.lastRequest.filters[0].contains("*.hpp"));
    QVERIFY(prompts_.lastRequest.filters[3].startsWith("所有文件 (*.*)"));
    auto* entry = window_->findChild<QAction*>("mfMRU1");
    QVERIFY(entry);
    QCOMPARE(entry->text(), QString("&1 hello.asm"));
    QCOMPARE(entry->statusTip(), QString("/work/x/hello.asm"));
    auto* dropDown = Find<QMenu>("pmOpen");
    const QList<QAction*> items = dropDown->actions();
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[0]->text(), QString("&1 hello.asm"));
    QVERIFY(items[1]->isSeparator());
    QCOMPARE(items[2]->text(), MenuEntryText(*window_->Action("afOpen")));

    // A cancelled dialog leaves the lists alone.
    window_->Action("afOpen")->trigger();
    QCOMPARE(prompts_.fileDialogs, 2);
    QVERIFY(!window_->findChild<QAction*>("mfMRU2"));
  }

  void screenshot() {
    Open();
    window_->setWindowState(Qt::WindowNoState);
    window_->resize(1024, 640);
    window_->Action("avDisassembly")->trigger();
    auto* message = window_->Docks().Dock(TPage::Compile);
    auto* disassembly = Find<QDockWidget>("pnlDisassembly");
    // The disassembly panel docks right of the middle of the bottom dock, 68 px further.
    QTRY_VERIFY(std::abs(disassembly->x() - message->x() -
                         ((message->width() + disassembly->width()) / 2 + 68)) <= 8);
    const QString path = qEnvironmentVariable("CORVALE_SCREENSHOT");
    if (path.isEmpty()) QSKIP("set CORVALE_SCREENSHOT to a PNG path to save the look");
    QVERIFY(window_->grab().save(path));
    window_->Action("avIO")->trigger();
    QVERIFY(window_->grab().save(QString(path).replace(".png", "_io.png")));
  }

 private:
  QTemporaryDir dir_;
  TScriptedPrompts prompts_;
  std::unique_ptr<TfrmMainWin> window_;
};

QTEST_MAIN(TMainWindowTest)
#include "main_window_test.moc"
