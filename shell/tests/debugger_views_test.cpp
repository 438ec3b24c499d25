// The debugger views in the main window: typing into the memory and register grids, the
// modify, go-to and import boxes, the segment choice, the watch values, the red marking and
// the quiet selection of an unfocused grid.
#include <QAction>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "debug_info.h"
#include "debugger_views.h"
#include "frm_main_win.h"
#include "machine.h"
#include "panel_docks.h"
#include "scripted_prompts.h"

class TDebuggerViewsTest : public QObject {
  Q_OBJECT

 private:
  template <typename T>
  T* Find(const char* name) {
    return FindChildOrDie<T>(window_.get(), name);
  }
  TDebuggerViews& Views() { return window_->Views(); }
  TCPUState& Cpu() { return window_->Machine().cpu; }
  TMemImage& Memory() { return window_->Machine().memory; }
  QTableView* MemoryGrid() { return Find<QTableView>("sgMemory"); }
  QTableWidget* Registers() { return Find<QTableWidget>("sgRegs"); }
  void Trigger(QMenu* menu, const char* name) {
    QAction* action = menu->findChild<QAction*>(name);
    QVERIFY2(action, name);
    action->trigger();
  }
  void ShowPage(TPage page) {
    window_->Docks().Raise(page);
    QTest::qWait(1);  // the page gets its size
  }
  void Answer(const QString& text, int base = 16) { prompts_.inputs.push_back({true, text, base}); }
  QString MemoryCell(int row, int column) {
    return MemoryGrid()->model()->index(row, column).data().toString();
  }
  void SelectMemory(int row, int column) {
    MemoryGrid()->setCurrentIndex(MemoryGrid()->model()->index(row, column));
  }

  TScriptedPrompts prompts_;
  QTemporaryDir dir_;
  std::unique_ptr<TfrmMainWin> window_;

 private slots:
  void initTestCase() { qputenv("CORVALE_NO_SPLASH", "1"); }
  void init() {
    prompts_ = TScriptedPrompts{};
    QFile::remove(dir_.filePath("Corvale.INI"));  // every test starts on the 8086
    window_ = std::make_unique<TfrmMainWin>(prompts_, dir_.filePath("Corvale.INI").toStdString());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    Cpu().CS = 0;  // the grid's offsets are then linear addresses
    Views().ShowRegisters();
    ShowPage(TPage::Memory);
  }
  void cleanup() {
    window_->close();
    window_.reset();
  }

  void typingTwoDigitsEntersAByteAndAdvances() {
    Memory().SetByte(0x13, 0x3A);
    SelectMemory(1, 3);
    QTest::keyClick(MemoryGrid(), '1');
    QCOMPARE(Memory().Byte(0x13), 0xA1);
    QCOMPARE(MemoryCell(1, 3), QString("A1"));
    QCOMPARE(MemoryGrid()->currentIndex(), MemoryGrid()->model()->index(1, 3));
    QTest::keyClick(MemoryGrid(), '2');
    QCOMPARE(Memory().Byte(0x13), 0x12);
    QCOMPARE(MemoryGrid()->currentIndex(), MemoryGrid()->model()->index(1, 4));
    QVERIFY(!Views().SecondDigit());
    QTest::keyClick(MemoryGrid(), 'G');  // no hex digit: nothing
    QCOMPARE(Memory().Byte(0x14), 0xFF);

    // End and Ctrl+End reach the last byte cell; on the grid's last cell the selection stays.
    QTest::keyClick(MemoryGrid(), Qt::Key_End);
    QCOMPARE(MemoryGrid()->currentIndex().column(), 15);
    QTest::keyClick(MemoryGrid(), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(MemoryGrid(), "c4");
    QCOMPARE(Memory().Byte(0xFFFF), 0xC4);
    QCOMPARE(MemoryGrid()->currentIndex(), MemoryGrid()->model()->index(4095, 15));
    QCOMPARE(Views().MemoryCursor(), 0xFFFF);
    // Moving to another cell starts a new byte.
    QTest::keyClick(MemoryGrid(), '7');
    SelectMemory(0, 0);
    QTest::keyClick(MemoryGrid(), '5');
    QCOMPARE(Memory().Byte(0), 0xF5);
    QCOMPARE(MemoryGrid()->currentIndex().column(), 0);
  }

  void segmentsGoToAndModify() {
    Cpu().DS = 0x2000;
    Memory().SetByte(0x20013, 0x5C);
    Trigger(Views().MemoryMenu(), "ap8DS");
    QCOMPARE(Find<QLabel>("lblMemorySegment")->text(), QString("[DS]"));
    QCOMPARE(MemoryCell(1, 3), QString("5C"));
    QCOMPARE(MemoryCell(1, 16).mid(3, 1), QString("\\"));
    QVERIFY(!Views().MemoryMenu()->findChild<QAction*>("ap8FS")->isVisible());

    SelectMemory(1, 3);
    Answer("1FF");
    Trigger(Views().MemoryMenu(), "ap8Modify");
    QCOMPARE(prompts_.inputRequests.last().caption, QString("修改内存单元 [DS]:0013H"));
    QCOMPARE(prompts_.inputRequests.last().text, QString("5C"));
    QCOMPARE(Memory().Byte(0x20013), 0xFF);
    Answer("12", 2);  // not binary: nothing changes
    Trigger(Views().MemoryMenu(), "ap8Modify");
    QCOMPARE(Memory().Byte(0x20013), 0xFF);

    Answer("1234");
    Trigger(Views().MemoryMenu(), "ap8Goto");
    QCOMPARE(prompts_.inputRequests.last().text, QString("0013"));
    QCOMPARE(MemoryGrid()->currentIndex(), MemoryGrid()->model()->index(0x123, 4));
    QCOMPARE(MemoryGrid()->model()->headerData(4, Qt::Horizontal).toString(), QString("04"));
    QCOMPARE(MemoryGrid()->rowAt(0), 0x123);
    QCOMPARE(Views().MemoryTop(), 0x1230);
    Answer("10000");  // beyond the segment: nowhere
    Trigger(Views().MemoryMenu(), "ap8Goto");
    QCOMPARE(MemoryGrid()->currentIndex().row(), 0x123);

    // A new CPU type shows CS again; FS and GS are offered on the 80386 only.
    window_->SetCpuType(0, 1);
    window_->ApplyCpuType();
    QCOMPARE(Views().MemoryHeaderText(), QString("[CS]"));
    QVERIFY(Views().MemoryMenu()->findChild<QAction*>("ap8CS")->isChecked());
    QVERIFY(Views().MemoryMenu()->findChild<QAction*>("ap8GS")->isVisible());
  }

  void importCopiesTheFileToTheSelectedSegment() {
    const QString path = dir_.filePath("DATA.BIN");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (char b = 0; b < 16; ++b) file.putChar(b);
    file.close();
    Cpu().ES = 0x3000;
    Trigger(Views().MemoryMenu(), "ap8ES");
    SelectMemory(0x10, 0);
    prompts_.files.push_back({true, path, 0});
    Answer("0100");
    Trigger(Views().MemoryMenu(), "ap8Import");
    QCOMPARE(prompts_.inputRequests.last().caption, QString("导入到 [ES] 的地址"));
    QCOMPARE(prompts_.inputRequests.last().text, QString("0100"));
    QCOMPARE(prompts_.asked.size(), 1);
    QCOMPARE(prompts_.asked[0].text,
             "导入文件：" + path + "\r\n文件长度：16字节\r\n地址范围：0100h - 010Fh");
    QCOMPARE(prompts_.asked[0].icon, TPromptIcon::Information);
    for (uint32_t i = 0; i < 16; ++i) QCOMPARE(Memory().Byte(0x30100 + i), uint8_t(i));
    QCOMPARE(Memory().Byte(0x300FF), 0xFF);
    QCOMPARE(Memory().Byte(0x30110), 0xFF);

    // A missing file is reported; a cancelled box reports nothing.
    Answer("0");
    Views().ImportAccept(dir_.filePath("NONE.BIN"));
    QCOMPARE(prompts_.asked.size(), 2);
    QCOMPARE(prompts_.asked[1].icon, TPromptIcon::Error);
    Views().ImportAccept(path);
    QCOMPARE(prompts_.asked.size(), 2);
    QCOMPARE(Memory().Byte(0x30000), 0xFF);
  }

  // A row placed in its loaded segment reads there whatever DS holds; an unplaced row reads
  // at DS.
  void watchRowsShowTheValueInTheirSegmentOrAtDs() {
    Cpu().DS = 0x2000;
    const uint8_t bytes[] = {0x78, 0x56, 0x34, 0x12};
    for (uint32_t i = 0; i < 4; ++i) Memory().SetByte(0x20010 + i, bytes[i]);
    Memory().SetByte(0x10025, 0x5A);
    Views().SetWatchRows({{"TOTAL", "DWORD", "0000:0010", {}},
                          {"FLAG", "BYTE", "DATA:0013", {}},
                          {"ODD", "?", "DATA:0012", {}},
                          {"CODEB", "BYTE", "CODE:0005", 0x10020}});
    auto* watches = Find<QTableWidget>("sgWatch");
    ShowPage(TPage::Watches);
    QCOMPARE(watches->item(0, 3)->text(), QString("12345678"));
    QCOMPARE(watches->item(0, 4)->text(), QString("305419896"));
    QCOMPARE(watches->item(0, 5)->text(), QString("00010010001101000101011001111000"));
    QCOMPARE(watches->item(1, 3)->text(), QString("12"));
    QCOMPARE(watches->item(2, 5)->text(), QString("00110100"));  // keeps the byte size
    QCOMPARE(watches->item(3, 3)->text(), QString("5A"));
  }

  void registerEditsByTypingAndByBox() {
    int lines = 0;
    Views().hooks.showCurrentLine = [&lines] { ++lines; };
    Cpu().EAX = 0x1234;
    Views().ShowRegisters();
    Registers()->setCurrentCell(0, 1);
    QTest::keyClick(Registers(), 'a');
    QCOMPARE(Cpu().EAX, 0x234Au);
    QCOMPARE(Registers()->item(0, 1)->text(), QString(" 234A"));
    QCOMPARE(lines, 1);

    Answer("12345");
    Trigger(Views().RegisterMenu(), "apRegModify");
    QCOMPARE(prompts_.inputRequests.last().caption, QString("修改寄存器 AX"));
    QCOMPARE(prompts_.inputRequests.last().text, QString("234A"));
    QCOMPARE(Cpu().EAX, 0x12345u);
    QCOMPARE(Registers()->item(0, 1)->text(), QString(" 2345"));

    const int zf = 17;
    QCOMPARE(Registers()->item(zf, 0)->text(), QString(" FL.ZF"));
    Registers()->setCurrentCell(zf, 1);
    QTest::keyClick(Registers(), '5');
    QCOMPARE(Cpu().EFLAGS & flags::ZF, 0u);
    QTest::keyClick(Registers(), '1');
    QCOMPARE(Cpu().EFLAGS & flags::ZF, flags::ZF);
    QCOMPARE(Find<QLabel>("lblZF")->text(), QString("ZF=1"));
    Answer("0", 2);
    Trigger(Views().RegisterMenu(), "apRegModify");
    const TInputRequest flagBox = prompts_.inputRequests.last();
    QCOMPARE(flagBox.caption, QString("修改标志位 FL.ZF"));
    QVERIFY(flagBox.base == 2 && !flagBox.baseEnabled);
    QCOMPARE(Cpu().EFLAGS & flags::ZF, 0u);
    Trigger(Views().RegisterMenu(), "apRegModify");  // cancelled
    QCOMPARE(Cpu().EFLAGS & flags::ZF, 0u);
  }

  void changedValuesAreRedUntilTheNextSnapshot() {
    auto* zf = Find<QLabel>("lblZF");
    auto* cf = Find<QLabel>("lblCF");
    const auto isRed = [](const QVariant& colour) { return colour == QColor(Qt::red); };
    Views().SnapshotRegisters();
    Cpu().EAX = 0x55;
    Cpu().EFLAGS |= flags::ZF;
    Views().ShowRegisters();
    for (int row = 0; row < Registers()->rowCount(); ++row) {  // AX and FL.ZF
      QCOMPARE(isRed(Registers()->item(row, 1)->data(Qt::ForegroundRole)), row == 0 || row == 17);
    }
    QCOMPARE(zf->palette().color(QPalette::WindowText), QColor(Qt::red));
    QVERIFY(cf->palette().color(QPalette::WindowText) != QColor(Qt::red));
    Views().SnapshotRegisters();
    Views().ShowRegisters();
    QVERIFY(!isRed(Registers()->item(0, 1)->data(Qt::ForegroundRole)));
    QVERIFY(zf->palette().color(QPalette::WindowText) != QColor(Qt::red));
  }

  void unfocusedGridDrawsItsRowPlain() {
    ShowPage(TPage::Registers);
    Registers()->setCurrentCell(1, 0);
    const auto rowColour = [this](int row) {
      const QImage image = Registers()->viewport()->grab().toImage();
      return image.pixelColor(2, Registers()->rowViewportPosition(row) + 2);
    };
    window_->activateWindow();
    Registers()->setFocus();
    QTRY_VERIFY(Registers()->hasFocus());
    QVERIFY(rowColour(1) != rowColour(2));
    Find<QTableView>("sgMemory")->setFocus();
    QTRY_VERIFY(!Registers()->hasFocus());
    QCOMPARE(rowColour(1), rowColour(2));
  }
};

QTEST_MAIN(TDebuggerViewsTest)
#include "debugger_views_test.moc"
