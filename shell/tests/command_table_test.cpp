// The command set of the main window against the command tables: captions, hints,
// shortcuts and start states, the menus and the toolbar built from them.
#include <QAction>
#include <QFontDatabase>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <set>

#include "command_table.h"
#include "frm_main_win.h"
#include "prompts.h"
#include "scripted_prompts.h"

namespace {

// name|caption|hint|shortcut|start state ("focus": follows the focused text control).
const char* const kExpectedCommands = R"(afNew|新建(&N)|建立新文件|Ctrl+N|enabled
afOpen|打开(&O)...|打开已存在的文件|Ctrl+O|enabled
afSave|保存(&S)|保存当前文件|Ctrl+S|disabled
afSaveAs|另存为(&A)...|将当前文件以新文件名保存||disabled
afSaveAll|全部保存(&V)|保存所有已修改的文件||disabled
afClose|关闭(&C)|关闭当前文件||disabled
afCloseAll|全部关闭(&L)|关闭所有文件||disabled
afExit|退出(&X)|退出Corvale集成开发环境|Alt+F4|enabled
aeUndo|撤消(&U)|撤消上次的动作|Ctrl+Z|disabled
aeRedo|重复(&R)|重复上次撤消的动作|Ctrl+Shift+Z|disabled
aeCut|剪切(&T)|剪切选定区并放入剪贴板|Ctrl+X|focus
aeCopy|复制(&C)|复制选定区并放入剪贴板|Ctrl+C|focus
aePaste|粘贴(&P)|插入剪贴板内容|Ctrl+V|focus
aeDelete|清除(&E)|清除选定区内容|Ctrl+Del|focus
aeSelectAll|全选(&A)|选定整个编辑窗口内容|Ctrl+A|focus
aeFind|查找(&F)...|查找指定的字符串|Ctrl+F|disabled
aeFindNext|查找下一个(&N)|查找下一个出现的字符串|F3|disabled
aeReplace|替换(&R)...|以新的字符串替换原有的字符串|Ctrl+H|disabled
aeGoto|转到指定行(&G)...|转到指定行号|Ctrl+G|disabled
avFile|文件管理窗口(&F)|显示文件管理窗口||enabled
avRegisters|寄存器窗口(&R)|显示寄存器窗口||enabled
avDisassembly|反汇编窗口(&D)|显示反汇编窗口||enabled
avCompile|编译窗口(&C)|显示编译窗口||enabled
avMemory|内存窗口(&M)|显示内存窗口||enabled
avIO|I/O读写窗口(&I)|显示I/O读写窗口||enabled
avWatches|观察窗口(&W)|显示观察窗口||enabled
avBreakpoint|断点窗口(&B)|显示断点窗口||enabled
avUserScreen|用户窗口(&U)|用户程序的人机界面||enabled
avStack|堆栈窗口(&K)|显示堆栈窗口||enabled
avBoard|实验板(&B)|显示实验板||enabled
avOsc|示波器窗口(&O)...|打开示波器窗口||enabled
apDebug|编译并调试(&C)|编译、链接，并进入调试|Ctrl+F9|enabled
apTD|编译并启用DEBUG调试(&D)...|编译、链接，并启用DEBUG调试||enabled
apTDN|无加载启用DEBUG(&N)...|无加载启用DEBUG||enabled
arRun|全速运行(&R)|全速运行|F9|enabled
arRunIgnoreBreakpoint|忽略断点全速运行|忽略断点全速运行||enabled
arRunToCursor|全速运行到光标行(&U)|全速运行到光标行|F4|enabled
arSetIP|设置IP到光标行(&P)|设置IP到光标行|Shift+F4|enabled
arToggleBreakpoint|切换断点(&B)|切换断点|Ctrl+F8|disabled
arClearAllBreakpoint|清除所有断点(&C)|清除所有断点||enabled
arTrace|单步跟踪(&T)|单步跟踪，进入过程|F7|enabled
arStep|单步跨越(&S)|单步跨越，不进过程|F8|enabled
arStepOut|运行到返回(&O)|运行到当前过程返回调用者|Shift+F8|enabled
arStepBack|单步后退(&K)|撤销最近一步（运行之后每次退回一行）：寄存器、内存和用户屏幕回到这一步之前|Ctrl+F7|enabled
arPause|程序暂停(&S)|暂停正在运行的程序|Esc|disabled
arReset|程序复位(&E)|程序复位|Ctrl+F2|enabled
arReload|重新载入程序(&L)|恢复编译装载时的代码和数据并复位，不重新编译||enabled
asOptions|设置工作方式(&M)...|设置工作方式||enabled
asComm|设置通信端口(&C)...|设置通信端口||enabled
asConnect|重新联机(&R)|重新与实验系统联机||enabled
asfCourierNew|&Courier New|Delphi / C++ Builder 风格||enabled
asfFixedsys|&Fixedsys|Visual C++ 风格||enabled
assSystem|系统风格(&S)|使用 Windows 系统的风格||enabled
assBlue|天空蓝(&B)|使用“天空蓝”界面风格||enabled
assSilver|金属银(&G)|使用“金属银”界面风格||enabled
awCascade|层叠(&C)|重叠排列窗口||disabled
awHorizontal|水平平铺(&H)|水平排列窗口||disabled
awVertical|垂直平铺(&V)|垂直排列窗口||disabled
awMinimizeAll|全部最小化(&M)|最小化所有窗口||disabled
awArrange|排列图标(&A)|排列最小化的窗口||disabled
awDebugLayout|调试布局(&D)|寄存器、内存、观察、堆栈、断点和用户屏幕同时显示||enabled
awDefaultLayout|默认布局(&R)|各窗口回到默认的位置||enabled
ahHelp|查看帮助(&H)...|打开帮助文件|F1|enabled
ahAbout|关于Corvale(&A)...|显示版本信息||enabled
aRefreshIcon|||Ctrl+Alt+F12|enabled)";

// Entry names of a menu, "-" for a separator, submenus by their title.
QStringList EntryNames(const QMenu* menu) {
  QStringList names;
  for (const QAction* entry : menu->actions()) {
    if (entry->isSeparator()) names << "-";
    else if (entry->menu()) names << entry->menu()->title();
    else names << entry->objectName();
  }
  return names;
}

}  // namespace

class TCommandTableTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { qputenv("CORVALE_NO_SPLASH", "1"); }
  void init() {
    settings_ = QDir::temp().filePath("corvale_command_table_test.INI");
    QFile::remove(settings_);
    window_ = std::make_unique<TfrmMainWin>(prompts_, settings_.toStdString());
  }
  void cleanup() { window_.reset(); }

  void everyCommandHasItsTextsShortcutAndStartState() {
    const QStringList rows = QString::fromUtf8(kExpectedCommands).split('\n');
    QCOMPARE(Commands().size(), size_t(rows.size()));
    for (const QString& row : rows) {
      const QStringList c = row.split('|');
      QAction* action = window_->Action(c[0].toUtf8().constData());
      QVERIFY2(action, qPrintable(c[0]));
      // The font entries name a family this machine has, whatever the table calls them.
      if (c[0].startsWith("asf")) {
        QVERIFY2(QFontDatabase::hasFamily(action->text().remove('&')), qPrintable(action->text()));
      } else {
        QCOMPARE(action->text(), c[1]);
      }
      QCOMPARE(action->statusTip(), c[2]);
      QCOMPARE(action->shortcut().toString(QKeySequence::PortableText), c[3]);
      // No text control has the focus at start, so the focus-bound commands are off too.
      QCOMPARE(action->isEnabled(), c[4] == "enabled");
    }
  }

  // Two live actions with one key make it ambiguous and neither runs, so every key of the
  // window (menu entries and toolbar stand-ins included) belongs to exactly one action.
  void noKeyIsClaimedTwice() {
    std::set<QString> seen;
    for (const TCommandSpec& spec : Commands()) {
      const QString keys = window_->Action(spec.name.data())->shortcut().toString();
      if (keys.isEmpty()) continue;
      QVERIFY2(seen.insert(keys).second, qPrintable(keys));
    }
    QVERIFY(seen.size() > 20);
    std::set<QString> claimed;
    for (const QAction* action : window_->findChildren<QAction*>()) {
      // A popup entry's key only names what its grid does with that key; it is not a
      // window shortcut.
      if (action->shortcutContext() == Qt::WidgetShortcut) continue;
      for (const QKeySequence& keys : action->shortcuts()) {
        QVERIFY2(claimed.insert(keys.toString()).second,
                 qPrintable(action->objectName() + " " + keys.toString()));
      }
    }
    QCOMPARE(claimed, seen);
  }

  void radioCommandsAreCheckableAndOthersAreNot() {
    const QStringList radio{"asfCourierNew", "asfFixedsys", "assSystem", "assBlue", "assSilver"};
    for (const TCommandSpec& spec : Commands()) {
      const QString name = QString::fromUtf8(spec.name.data(), spec.name.size());
      QCOMPARE(window_->Action(spec.name.data())->isCheckable(), radio.contains(name));
    }
  }

  void menuBarHoldsTheEightMenusInOrder() {
    auto* bar = window_->findChild<QToolBar*>("tbMenuBar");
    QVERIFY(bar);
    QStringList captions;
    for (QToolButton* button : bar->findChildren<QToolButton*>()) {
      if (button->menu()) captions << button->text();
    }
    QCOMPARE(captions, (QStringList{"文件(&F)", "编辑(&E)", "视图(&V)", "编译(&C)", "运行(&R)",
                                    "设置(&S)", "窗口(&W)", "帮助(&H)"}));
  }

  void menusListTheirEntriesWithSeparators() {
    const auto menu = [this](const char* name) { return window_->findChild<QMenu*>(name); };
    QCOMPARE(EntryNames(menu("mnuFile")),
             (QStringList{"mfNew", "mfOpen", "mfSave", "mfSaveAs", "mfSaveAll", "-", "mfClose",
                          "mfCloseAll", "-", "-", "mfExit"}));
    QCOMPARE(EntryNames(menu("mnuEdit")),
             (QStringList{"meUndo", "meRedo", "-", "meCut", "meCopy", "mePaste", "meDelete",
                          "meSelectAll", "-", "meFind", "meFindNext", "meReplace", "-", "meGoto"}));
    QCOMPARE(EntryNames(menu("mnuView")),
             (QStringList{"mvFile", "mvRegisters", "-", "mvDisassembly", "-", "mvCompile",
                          "mvMemory", "mvIO", "mvWatches", "mvBreakpoint", "mvUserScreen",
                          "mvStack", "mvBoard", "-", "mvOsc"}));
    QCOMPARE(EntryNames(menu("mnuCompile")), (QStringList{"mpDebug", "-", "mpTD", "mpTDN"}));
    QCOMPARE(EntryNames(menu("mnuRun")),
             (QStringList{"mrRun", "mrRunIgnoreBreakpoint", "mrRunToCursor", "mrSetIP", "-",
                          "mrToggleBreakpoint", "mrClearAllBreakpoint", "-", "mrTrace", "mrStep",
                          "mrStepOut", "mrStepBack", "-", "mrPause", "mrReset", "mrReload"}));
    QCOMPARE(EntryNames(menu("mnuSetup")),
             (QStringList{"msOptions", "-", "msComm", "msConnect", "-", "设置编辑器字体(&F)",
                          "设置主界面风格(&S)"}));
    QCOMPARE(EntryNames(menu("mnuEditorFont")), (QStringList{"msfCourierNew", "msfFixedsys"}));
    QCOMPARE(EntryNames(menu("mnuSkin")), (QStringList{"mssSystem", "mssBlue", "mssSilver"}));
    QCOMPARE(EntryNames(menu("mnuWindow")),
             (QStringList{"mwCascade", "mwHorizontal", "mwVertical", "mwMinimizeAll", "mwArrange",
                          "-", "mwDebugLayout", "mwDefaultLayout", "-"}));
    QCOMPARE(EntryNames(menu("mnuHelp")), (QStringList{"mhHelp", "-", "mhAbout"}));
    QCOMPARE(menu("mnuEditorFont")->menuAction()->statusTip(), QString("设置编辑器字体"));
    QCOMPARE(menu("mnuSkin")->menuAction()->statusTip(), QString("设置主界面风格"));
  }

  void menuEntriesFollowAndTriggerTheirCommand() {
    auto* entry = window_->findChild<QAction*>("mfSave");
    QAction* command = window_->Action("afSave");
    // The keys are shown after a tab, the way a menu draws a shortcut it does not own.
    QCOMPARE(entry->text(), command->text() + "\tCtrl+S");
    QVERIFY(entry->shortcut().isEmpty());
    QCOMPARE(entry->statusTip(), command->statusTip());
    QVERIFY(!entry->isEnabled());
    command->setEnabled(true);
    QVERIFY(entry->isEnabled());
    QSignalSpy triggered(command, &QAction::triggered);
    entry->trigger();
    QCOMPARE(triggered.count(), 1);

    // A caption that changes at run time reaches the menu entry.
    command = window_->Action("arSetIP");
    command->setText("设置EIP到光标行(&P)");
    QCOMPARE(window_->findChild<QAction*>("mrSetIP")->text(),
             QString("设置EIP到光标行(&P)\tShift+F4"));
  }

  void toolbarShowsCommandsInOrder() {
    auto* bar = window_->findChild<QToolBar*>("tbToolbar");
    QStringList names;
    for (const QAction* entry : bar->actions())
      names << (entry->isSeparator() ? "-" : entry->objectName());
    QCOMPARE(names, (QStringList{"afNew",
                                 "afOpen",
                                 "afSave",
                                 "-",
                                 "aeUndo",
                                 "aeRedo",
                                 "-",
                                 "aeCut",
                                 "aeCopy",
                                 "aePaste",
                                 "-",
                                 "tbaeFind",
                                 "aeFindNext",
                                 "aeReplace",
                                 "-",
                                 "tbapDebug",
                                 "-",
                                 "arReset",
                                 "arPause",
                                 "arRun",
                                 "arRunIgnoreBreakpoint",
                                 "arTrace",
                                 "arStep",
                                 "arStepOut",
                                 "arStepBack",
                                 "arToggleBreakpoint",
                                 "arClearAllBreakpoint",
                                 "arRunToCursor",
                                 "arSetIP",
                                 "-",
                                 "tbavOsc",
                                 "-",
                                 "tbasConnect",
                                 "-",
                                 "awCascade",
                                 "awHorizontal",
                                 "awVertical",
                                 "awMinimizeAll",
                                 "awArrange",
                                 "-",
                                 "tbafExit"}));
  }

  void captionedToolbarButtonsShowTheirText() {
    auto* bar = window_->findChild<QToolBar*>("tbToolbar");
    const QList<QPair<QString, QString>> captioned = {{"tbaeFind", "查找"},
                                                      {"tbapDebug", "编译"},
                                                      {"tbavOsc", "示波器"},
                                                      {"tbasConnect", "联机"},
                                                      {"tbafExit", "退出"}};
    for (const auto& [name, text] : captioned) {
      auto* entry = bar->findChild<QAction*>(name);
      QVERIFY2(entry, qPrintable(name));
      auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(entry));
      QCOMPARE(button->text(), text);
      QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
    }
    // The stand-in keeps its own caption while following the command's state.
    QAction* find = window_->Action("aeFind");
    find->setEnabled(true);
    auto* findButton =
        qobject_cast<QToolButton*>(bar->widgetForAction(bar->findChild<QAction*>("tbaeFind")));
    QVERIFY(findButton->isEnabled());
    QCOMPARE(findButton->text(), QString("查找"));
    QCOMPARE(findButton->toolTip(), QString("查找指定的字符串 (Ctrl+F)"));

    auto* run = qobject_cast<QToolButton*>(bar->widgetForAction(window_->Action("arRun")));
    QCOMPARE(run->toolButtonStyle(), Qt::ToolButtonIconOnly);
    QVERIFY(!run->icon().isNull());
  }

  // Every toolbar button names the key that runs its command, also after the CPU type
  // renamed the set-IP command; a command without a key shows its hint alone.
  void toolbarTipsNameTheirKeys() {
    auto* bar = window_->findChild<QToolBar*>("tbToolbar");
    // Captioned buttons are stand-ins owned by the bar; the others show the command itself.
    const auto tip = [this, bar](const char* name) {
      QAction* entry = bar->findChild<QAction*>(name);
      return bar->widgetForAction(entry ? entry : window_->Action(name))->toolTip();
    };
    window_->SetCpuType(0, 1);
    window_->ApplyCpuType();
    const QList<QPair<const char*, QString>> cases = {
        {"arRun", "全速运行 (F9)"},
        {"arTrace", "单步跟踪，进入过程 (F7)"},
        {"arStep", "单步跨越，不进过程 (F8)"},
        {"arStepOut", "运行到当前过程返回调用者 (Shift+F8)"},
        {"arRunToCursor", "全速运行到光标行 (F4)"},
        {"arSetIP", "设置EIP到光标行 (Shift+F4)"},
        {"arPause", "暂停正在运行的程序 (Esc)"},
        {"tbapDebug", "编译、链接，并进入调试 (Ctrl+F9)"},
        {"tbaeFind", "查找指定的字符串 (Ctrl+F)"},
        {"arClearAllBreakpoint", "清除所有断点"},
        {"tbavOsc", "打开示波器窗口"},
    };
    for (const auto& [name, expected] : cases) QCOMPARE(tip(name), expected);
    // Whatever the table says: every button with a key shows it.
    for (const TToolbarEntry& entry : ToolbarLayout()) {
      if (entry.name == kSeparator) continue;
      QAction* command = window_->Action(entry.name.data());
      const QString keys = command->shortcut().toString(QKeySequence::NativeText);
      QCOMPARE(command->toolTip().endsWith(" (" + keys + ")"), !keys.isEmpty());
    }
  }

  void openButtonDropsDownToItself() {
    auto* bar = window_->findChild<QToolBar*>("tbToolbar");
    auto* open = qobject_cast<QToolButton*>(bar->widgetForAction(window_->Action("afOpen")));
    QCOMPARE(open->popupMode(), QToolButton::MenuButtonPopup);
    const QList<QAction*> entries = open->menu()->actions();
    QVERIFY(entries.size() >= 2);
    QVERIFY(entries[entries.size() - 2]->isSeparator());
    QSignalSpy triggered(window_->Action("afOpen"), &QAction::triggered);
    entries.last()->trigger();
    QCOMPARE(triggered.count(), 1);
  }

 private:
  TScriptedPrompts prompts_;  // answers nothing
  QString settings_;
  std::unique_ptr<TfrmMainWin> window_;
};

QTEST_MAIN(TCommandTableTest)
#include "command_table_test.moc"
