// The workbench online, against the trainer emulator on a pseudo-terminal: the start-up
// handshake, the download, a run that talks to the user screen and ends with the exit
// question, a run to a breakpoint, a single step, the I/O panel, breakpoints with conditions
// and pass counts, the run until return, and a silent trainer that leaves the workbench
// offline.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <set>

#include "comm_port.h"
#include "debugger_views.h"
#include "dlg_comm_box.h"
#include "dlg_osc_box.h"
#include "editor_memo.h"
#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "machine.h"
#include "oscilloscope.h"
#include "panel_docks.h"
#include "radio_group.h"
#include "scripted_prompts.h"
#include "session_program.h"
#include "trainer_emulator.h"
#include "trainer_session.h"
#include "user_screen.h"
#include "watch_list.h"

class TTrainerTest : public TTrainerWindowTest {
  Q_OBJECT

 private:
  void Type(const QString& keys) { TypeLater(Find<QPlainTextEdit>("mmINT21"), keys, 20); }
  void Build() {
    editor_ = window_->OpenEditor(Write("t.asm", kSessionProgram));
    QVERIFY(editor_);
    Trigger("apDebug");
    QCOMPARE(Line(), 7);
  }

 private slots:
  void initTestCase() { qputenv("CORVALE_NO_SPLASH", "1"); }
  void init() { prompts_ = TScriptedPrompts{}; }
  void cleanup() { CloseWindowAndTrainer(); }

  void programRunsOnTheTrainerAndTalksToTheUserScreen() {
    const QString port = StartTrainerEmulator(trainer_, {});
    QVERIFY(!port.isEmpty());
    QVERIFY(Open(port));
    QVERIFY(window_->IsOnline());
    QCOMPARE(Find<QLabel>("sConnect")->text(), QString("联机调试"));
    Build();

    // Run: the string, a key (echoed), a line (not echoed; its Backspace takes back the c),
    // then the end.
    Later(300, [&] { Type("x"); });
    Later(1200, [&] { Type("ac\bb\r"); });
    prompts_.answers = {paNo};
    Trigger("arRun");
    QVERIFY(window_->IsRunning());
    QTRY_COMPARE_WITH_TIMEOUT(window_->IsRunning(), false, 15000);
    QVERIFY(prompts_.asked.last().text.startsWith("程序已退出！是否立即复位？"));
    QCOMPARE(window_->UserScreen().Text(), QString("Hix"));
    QCOMPARE(window_->Machine().cpu.EAX & 0xFFFF, 0x4C00u);  // fetched from the trainer
    QCOMPARE(Line(), 17);
    // The line the program read lies in the trainer's memory; the memory view fetches the
    // rows it shows by the selected segment.
    const TMachine& machine = window_->Machine();
    const uint32_t buffer = machine.cpu.DS * 16u + 3;
    QCOMPARE(machine.memory.Byte(buffer + 1), uint8_t(0));  // as loaded, not yet fetched
    // A watch row fetches the bytes it shows, from where DS points on the trainer.
    prompts_.dialogHandler = [](QDialog& box) {
      FindChildOrDie<QLineEdit>(&box, "edWatchExpression")->setText("BUF+1");
      FindChildOrDie<QSpinBox>(&box, "seWatchCount")->setValue(3);
      FindChildOrDie<QComboBox>(&box, "cbWatchFormat")->setCurrentIndex(3);
      return int(QDialog::Accepted);
    };
    auto* watches = Find<QTableWidget>("sgWatch");
    window_->Docks().Raise(TPage::Watches);
    window_->Views().Watches().AddWatch();
    QCOMPARE(watches->item(watches->rowCount() - 1, 6)->text(), QString("02 'a' 'b'"));
    prompts_.dialogHandler = nullptr;
    window_->Machine().memory.SetByte(buffer + 1, 0);  // the memory view fetches it again
    window_->Docks().Raise(TPage::Memory);
    window_->Views().SelectSegment(TSegment::DS);
    window_->Views().RefreshMemoryViews();
    QCOMPARE(machine.memory.Byte(buffer + 1), uint8_t(2));
    QCOMPARE(machine.memory.Byte(buffer + 2), uint8_t('a'));
    QCOMPARE(machine.memory.Byte(buffer + 3), uint8_t('b'));

    // A breakpoint: the run stops there without the question.
    Trigger("arReset");
    editor_->Memo()->setCursorPosition(9, 0);
    Trigger("arToggleBreakpoint");
    QCOMPARE(window_->BreakpointCount(), 1);
    const int asked = prompts_.asked.size();
    Trigger("arRun");
    QTRY_COMPARE_WITH_TIMEOUT(window_->IsRunning(), false, 10000);
    QCOMPARE(Line(), 10);
    QCOMPARE(prompts_.asked.size(), asked);

    // One step on the trainer, into the procedure; then a step over the INT 21h whose
    // console request writes the string before the step ends.
    Trigger("arTrace");
    QTRY_COMPARE_WITH_TIMEOUT(Line(), 18, 10000);
    QVERIFY(!window_->IsRunning());
    // The stack view reads the return address from the trainer's stack, not the host's copy.
    const uint32_t top = TMemImage::Linear(machine.cpu.SS, uint16_t(machine.cpu.ESP));
    window_->Machine().memory.SetByte(top, 0);
    window_->Machine().memory.SetByte(top + 1, 0);
    window_->Docks().Raise(TPage::Stack);
    QCOMPARE(Find<QTableWidget>("sgStack")->item(0, 3)->text(), QString("← 返回到 第 11 行"));
    Trigger("arTrace");
    QTRY_COMPARE_WITH_TIMEOUT(Line(), 19, 10000);
    Trigger("arTrace");
    QTRY_COMPARE_WITH_TIMEOUT(Line(), 20, 10000);
    QCOMPARE(window_->UserScreen().Text(), QString("HixHi"));
    QVERIFY(!window_->IsRunning());

    // The I/O panel writes a port latch and reads it back.
    Find<QLineEdit>("edtIOAddr")->setText("8000");
    Find<QLineEdit>("edtWriteData")->setText("41");
    Find<QPushButton>("btnWrite")->click();
    Find<QPushButton>("btnRead")->click();
    auto* record = Find<QListWidget>("lbIORecord");
    QCOMPARE(record->item(1)->text(), QString("  2  端口地址：8000  读出8-bit数据：41"));
  }

  // The C example blinks the trainer's LEDs: downloaded and run there, every pattern it
  // writes reaches the LED latch, in order.
  void cExampleBlinksTheTrainersLeds() {
    QVERIFY(Online({"--leds"}));
    QVERIFY(window_->IsOnline());
    const QString source = dir_.filePath("leds.c");
    QFile::remove(source);
    QVERIFY(QFile::copy(QString(CORVALE_EXAMPLES_DIR) + "/course/leds.c", source));
    editor_ = window_->OpenEditor(source);
    Trigger("apDebug");
    QVERIFY2(Messages().last().startsWith("程序代码装载完毕"), qPrintable(Messages().join('|')));
    prompts_.answers = {paNo};
    Trigger("arRun");
    QTRY_COMPARE_WITH_TIMEOUT(window_->IsRunning(), false, 30000);
    QVERIFY(prompts_.asked.last().text.startsWith("程序已退出！是否立即复位？"));
    QCOMPARE(window_->UserScreen().Text(), QString("LEDs done\n"));
    QStringList patterns;
    for (const QString& line : QString::fromLocal8Bit(trainer_.readAllStandardError()).split('\n'))
      if (line.startsWith("LEDs ")) patterns << line.right(3).left(2);
    QCOMPARE(patterns, QStringList({"01", "02", "04", "08", "10", "20", "40", "80", "FF", "00",
                                    "FF", "00", "FF", "00"}));
  }

  // Bridge mode: the program runs in the simulator, its IN reaches the trainer's port and the
  // trainer's interrupt request enters it through the vector table.
  void bridgedProgramUsesTheTrainersPortsAndInterrupts() {
    QVERIFY(Online({}, true));
    QVERIFY(window_->IsOnline());
    Find<QLineEdit>("edtIOAddr")->setText("8000");
    Find<QLineEdit>("edtWriteData")->setText("5A");
    Find<QPushButton>("btnWrite")->click();
    editor_ = window_->OpenEditor(Write("b.asm",
                                        "CODE    SEGMENT\r\n"
                                        "        ASSUME CS:CODE\r\n"
                                        "START:  MOV DX, 8000H\r\n"
                                        "        IN AL, DX\r\n"
                                        "        MOV BL, AL\r\n"
                                        "        XOR AX, AX\r\n"
                                        "        MOV ES, AX\r\n"
                                        "        MOV WORD PTR ES:[20H], OFFSET HANDLER\r\n"
                                        "        MOV WORD PTR ES:[22H], CS\r\n"
                                        "        STI\r\n"
                                        "WAIT1:  CMP CL, 1\r\n"
                                        "        JNE WAIT1\r\n"
                                        "        MOV AX, 4C00H\r\n"
                                        "        INT 21H\r\n"
                                        "HANDLER: MOV CL, 1\r\n"
                                        "        IRET\r\n"
                                        "CODE    ENDS\r\n"
                                        "        END START\r\n"));
    Trigger("apDebug");
    QCOMPARE(Line(), 3);
    Later(500, [&] { trainer_.write("irq 8\n"); });
    prompts_.answers = {paNo};
    Trigger("arRun");
    QVERIFY(prompts_.asked.last().text.startsWith("程序已退出！是否立即复位？"));
    const TCPUState& cpu = window_->Machine().cpu;
    QCOMPARE(cpu.EBX & 0xFF, 0x5Au);
    QCOMPARE(cpu.ECX & 0xFF, 1u);
  }

  // In bridge mode the memory view reads the trainer's data window only: DS rows from 2000h.
  void bridgedMemoryViewReadsOnlyTheDataWindow() {
    QVERIFY(Online({}, true));
    editor_ = window_->OpenEditor(Write("w.asm",
                                        "CODE    SEGMENT\r\n"
                                        "        ASSUME CS:CODE\r\n"
                                        "START:  MOV BYTE PTR DS:[2000H], 5AH\r\n"
                                        "        MOV AX, 4C00H\r\n"
                                        "        INT 21H\r\n"
                                        "CODE    ENDS\r\n"
                                        "        END START\r\n"));
    Trigger("apDebug");
    prompts_.answers = {paNo};
    Trigger("arRun");  // the write reaches the trainer's data window
    TMemImage& memory = window_->Machine().memory;
    const uint32_t window = window_->Machine().cpu.DS * 16u + 0x2000;
    memory.SetByte(window, 0x11);
    window_->Docks().Raise(TPage::Memory);
    window_->Views().SelectSegment(TSegment::DS);
    prompts_.inputs = {{true, "1FF0", 16}, {true, "2000", 16}};
    window_->Views().MemoryGoTo();
    window_->Views().RefreshMemoryViews();
    QCOMPARE(memory.Byte(window), uint8_t(0x11));  // the view starts below 2000h: not read
    window_->Views().MemoryGoTo();
    window_->Views().RefreshMemoryViews();
    QCOMPARE(memory.Byte(window), uint8_t(0x5A));  // read back from the trainer
  }

  void theTrainerSaysWhichProcessorItCarries() {
    QVERIFY(Online({"--cpu", "386"}));
    QVERIFY(window_->IsOnline());
    QCOMPARE(window_->CPUType(), 1);
    QCOMPARE(window_->Action("arSetIP")->text(), QString("设置EIP到光标行(&P)"));
  }

  // The pause ends a key wait of the trainer's program: no key goes out, the state is idle.
  void pauseDuringAKeyWaitOnTheTrainer() {
    QVERIFY(Online({}));
    Build();
    Later(800, [&] {
      QCOMPARE(Find<QLabel>("lblINT21")->text(),
               QString("人机交互窗口(单击此处清屏) -- 等待按键              "));
      Trigger("arPause");
    });
    Trigger("arRun");
    QTRY_COMPARE_WITH_TIMEOUT(window_->IsRunning(), false, 10000);
    QCOMPARE(window_->UserScreen().Text(), QString("Hi"));
    QCOMPARE(Find<QLabel>("lblINT21")->text(),
             QString("人机交互窗口(单击此处清屏)                          "));
    QVERIFY(prompts_.asked.isEmpty());
    QVERIFY(window_->IsOnline());
    // The trainer stopped on the INT 21h of the key wait.
    QCOMPARE(Line(), 12);
  }

  // The port dialog's detection tries every listed port until one answers as a trainer.
  void detectionFindsTheTrainerOnTheThirdPort() {
    QProcess silent;
    const QString quiet = StartTrainerEmulator(silent, {"--silent"});
    const QString port = StartTrainerEmulator(trainer_, {});
    QVERIFY(!quiet.isEmpty() && !port.isEmpty());
    QString shown;
    prompts_.dialogHandler = [&](QDialog& dialog) {
      auto& box = static_cast<TdlgCommBox&>(dialog);
      box.SetPortNames({dir_.filePath("no-such-port"), quiet, port});
      // Choosing the hardware item starts the detection.
      box.findChild<TRadioGroup*>("rgAutoComm")->findChildren<QRadioButton*>().first()->click();
      shown = box.DetectionText();
      box.accept();
      return int(QDialog::Accepted);
    };
    Write("Corvale.INI", "[Config]\r\nAutoCommPort=1\r\nBridgUSB=0\r\n");
    window_ = std::make_unique<TfrmMainWin>(prompts_, dir_.filePath("Corvale.INI").toStdString());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    silent.kill();
    silent.waitForFinished();
    QCOMPARE(shown, QString("设备检测成功！"));
    QVERIFY(window_->IsOnline());
    QCOMPARE(QString::fromStdString(window_->CommPortName()), port);
    QVERIFY(window_->Trainer().Port().IsOpen());

    // With nothing listed the detection gives up at once and the software item leads offline.
    prompts_.dialogHandler = [&](QDialog& dialog) {
      auto& box = static_cast<TdlgCommBox&>(dialog);
      box.SetPortNames({});
      box.findChild<TRadioGroup*>("rgAutoComm")->findChildren<QRadioButton*>().first()->click();
      shown = box.DetectionText();
      box.accept();
      return int(QDialog::Accepted);
    };
    Trigger("asComm");
    QCOMPARE(shown, QString("无法找到设备！"));
    QVERIFY(!window_->IsOnline());
  }

  // The manual page: the saved port selected in the list; OK opens the chosen port whatever
  // the mode, and a port that does not open is reported while the chosen mode still applies.
  void manualPortPage() {
    const QString port = StartTrainerEmulator(trainer_, {});
    QVERIFY(!port.isEmpty());
    Write("Corvale.INI", "[Config]\r\nAutoCommPort=0\r\nCommType=1\r\nCommPort=/dev/null\r\n");
    QString selected;
    const auto choose = [&](const QString& name, int item) {
      prompts_.dialogHandler = [&, name, item](QDialog& dialog) {
        auto& box = static_cast<TdlgCommBox&>(dialog);
        box.SetPortNames({dir_.filePath("a"), port, dir_.filePath("c")});
        auto* list = box.findChild<QComboBox*>("cbSerialPort");
        selected = list->currentText();
        list->setCurrentText(name);
        box.findChild<TRadioGroup*>("rgSelectComm")->SetItemIndex(item);
        box.accept();
        return int(QDialog::Accepted);
      };
    };
    choose(port, 1);  // "脱机演示": the port opens, the workbench stays offline
    window_ = std::make_unique<TfrmMainWin>(prompts_, dir_.filePath("Corvale.INI").toStdString());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QVERIFY(!window_->IsOnline());
    QVERIFY(window_->Trainer().Port().IsOpen());
    QCOMPARE(QString::fromStdString(window_->CommPortName()), port);

    choose(dir_.filePath("c"), 0);  // "联机调试" on a port that does not open
    prompts_.answers = {paCancel};
    Trigger("asComm");
    QCOMPARE(selected, port);  // the saved port came up selected
    QCOMPARE(prompts_.asked.first().text, QString("通信端口初始化失败！"));
    QCOMPARE(prompts_.asked.first().caption, QString("提示"));
    // Online as chosen; the reset's first command then fails into the retry prompt, and its
    // Cancel goes offline.
    QCOMPARE(prompts_.asked.last().caption, QString("错误"));
    QVERIFY(!window_->IsOnline());
  }

  // Edits in the register and memory views go to the trainer and come back from it.
  void editsAndReloadReachTheTrainer() {
    QVERIFY(Online({}));
    Build();
    TMachine& machine = window_->Machine();
    window_->Views().WriteRegisterRow(0, 0x1234);  // AX
    machine.cpu.EAX = 0;
    window_->RunControl().RefreshViews(1);  // fetched from the trainer
    QCOMPARE(machine.cpu.EAX & 0xFFFF, 0x1234u);

    window_->Docks().Raise(TPage::Memory);
    window_->Views().SelectSegment(TSegment::DS);
    prompts_.inputs = {{true, "0", 16}, {true, "77", 16}};
    window_->Views().MemoryGoTo();
    window_->Views().MemoryModify();
    const uint32_t first = machine.cpu.DS * 16u;
    QCOMPARE(machine.memory.Byte(first), uint8_t(0x77));
    machine.memory.SetByte(first, 0);
    window_->Views().RefreshMemoryViews();
    QCOMPARE(machine.memory.Byte(first), uint8_t(0x77));
    // 重新载入程序 puts the data back on the trainer as the build loaded it.
    Trigger("arReload");
    machine.memory.SetByte(first, 0);
    window_->Views().RefreshMemoryViews();
    QCOMPARE(machine.memory.Byte(first), uint8_t('H'));
  }

  // A program without a data part that brings its own stack gets it on the trainer too.
  void ownStackReachesTheTrainer() {
    QVERIFY(Online({}));
    editor_ = window_->OpenEditor(Write("s.asm",
                                        "CODE    SEGMENT\r\n"
                                        "        ASSUME CS:CODE\r\n"
                                        "START:  MOV AX, 4C00H\r\n"
                                        "        INT 21H\r\n"
                                        "CODE    ENDS\r\n"
                                        "SSTACK  SEGMENT STACK\r\n"
                                        "        DW 32 DUP(?)\r\n"
                                        "SSTACK  ENDS\r\n"
                                        "        END START\r\n"));
    Trigger("apDebug");
    const TLoadInfo& info = window_->Machine().build.LoadInfo;
    QVERIFY(info.DataLength == 0 && info.HasInitialStack);
    TCPUState& cpu = window_->Machine().cpu;
    cpu.SS = 0;
    cpu.ESP = 0;
    window_->RunControl().RefreshViews(1);  // as the trainer has them
    QCOMPARE(cpu.SS, info.StackSegment);
    QCOMPARE(cpu.ESP & 0xFFFF, uint32_t(info.StackPointer));
  }

  // At exit a bridged workbench leaves bridge mode on the trainer before closing the port.
  void farewellLeavesBridgeMode() {
    QVERIFY(Online({"--log"}, true));
    QVERIFY(window_->IsOnline());
    window_->close();
    window_.reset();
    QByteArray log;
    QTRY_VERIFY((log += trainer_.readAllStandardError()).contains("<- 2A 00 2A"));
  }

  // A download that fails asks to retry; after Cancel the loading goes on offline.
  void failedDownloadGoesOnOffline() {
    QVERIFY(Online({}));
    editor_ = window_->OpenEditor(Write("t.asm", kSessionProgram));
    trainer_.kill();
    trainer_.waitForFinished();
    prompts_.answers = {paCancel};
    Trigger("apDebug");
    QCOMPARE(prompts_.asked.first().caption, QString("错误"));
    QVERIFY(!window_->IsOnline());
    QVERIFY(Messages().last().startsWith("程序代码装载完毕"));
    QCOMPARE(Line(), 7);
  }

  // The oscilloscope offline: the flat centre line, the read-out, zoom limits, saving the
  // exact picture; start does nothing. While a program with INT 21h runs it is refused.
  void oscilloscopeDrawsZoomsAndSaves() {
    QVERIFY(Open(""));
    QVERIFY(!window_->IsOnline());
    QTemporaryDir sources;  // the picture is saved beside the source by default
    const QString source = sources.filePath("scope.asm");
    QFile(source).open(QIODevice::WriteOnly);
    window_->OpenEditor(source);
    bool checked = false;
    prompts_.dialogHandler = [&](QDialog& dialog) {
      auto& osc = static_cast<TdlgOscBox&>(dialog);
      const QImage& picture = osc.Picture();
      if (picture.size() != QSize(385, 321)) return 0;
      if (picture.pixelColor(100, 160) != QColor(0, 255, 0)) return 0;
      if (osc.ReadoutText() != "2.51V") return 0;
      osc.findChild<QPushButton*>("btnStart")->click();
      if (osc.Sampling()) return 0;  // offline: nothing to sample
      osc.Feed(std::vector<uint8_t>(TOscilloscope::kHistory, 255));
      if (osc.ReadoutText() != "5.00V" || picture.pixelColor(100, 96) != QColor(0, 255, 0))
        return 0;
      auto* inX = osc.findChild<QPushButton*>("btnZoomInX");
      inX->click();
      if (inX->isEnabled() || osc.Scope().XStep() != 1) return 0;
      auto* outY = osc.findChild<QPushButton*>("btnZoomOutY");
      outY->click();
      outY->click();
      if (outY->isEnabled() || osc.Scope().YScale() != 3.0) return 0;
      prompts_.files.push_back({true, dir_.filePath("wave.bmp"), 0});
      osc.findChild<QPushButton*>("btnSave")->click();
      const QImage saved(dir_.filePath("wave.bmp"));
      checked = saved.convertToFormat(QImage::Format_RGB32) == picture &&
                prompts_.lastRequest.directory == sources.path();
      return 0;
    };
    Trigger("avOsc");
    QVERIFY(checked);

    TMachine& machine = window_->Machine();
    machine.build.LoadInfo.CodeLength = 4;
    for (uint32_t i = 0; i < 4; ++i) machine.memory.SetByte(0x10000 + i, "\x90\xCD\x21\x90"[i]);
    window_->SetRunState(true);
    checked = false;
    prompts_.dialogHandler = [&](QDialog&) {
      checked = true;
      return 0;
    };
    Trigger("avOsc");
    window_->SetRunState(false);
    QVERIFY(!checked);
    QCOMPARE(prompts_.asked.last().text,
             QString("运行的程序已设置断点或使用了INT 21h指令，不支持虚拟示波器。"));
  }

  // Online the dialog samples the trainer's stream and stops cleanly while samples still come.
  void oscilloscopeSamplesTheTrainer() {
    QVERIFY(Online({"--wave", "square"}));
    QVERIFY(window_->IsOnline());
    QString before, after;
    bool stopped = false;
    prompts_.dialogHandler = [&](QDialog& dialog) {
      auto& osc = static_cast<TdlgOscBox&>(dialog);
      before = osc.ReadoutText();
      osc.findChild<QPushButton*>("btnStart")->click();
      if (!osc.Sampling() || osc.findChild<QPushButton*>("btnClose")->isEnabled()) return 0;
      QElapsedTimer clock;
      clock.start();
      std::set<uint8_t> seen;
      while (clock.elapsed() < 5000 && seen.size() < 2) {
        QTest::qWait(50);
        seen.clear();
        for (uint8_t sample : osc.Scope().History()) seen.insert(sample);
        seen.erase(TOscilloscope::kIdleSample);
      }
      after = osc.ReadoutText();
      osc.findChild<QPushButton*>("btnStop")->click();
      stopped = !osc.Sampling() && osc.findChild<QPushButton*>("btnClose")->isEnabled() &&
                seen.size() >= 2;
      return 0;
    };
    Trigger("avOsc");
    QCOMPARE(before, QString("2.51V"));
    QVERIFY(stopped);
    // The line is the workbench's again: a command after the stream is answered.
    Trigger("arReset");
    QVERIFY(window_->IsOnline());
    QVERIFY(prompts_.asked.isEmpty());
  }

  // A trainer that sends no samples: the read-out says the stream ended; Stop still works.
  // A running program with breakpoints cannot share the line with the oscilloscope.
  void oscilloscopeWithoutAStream() {
    QVERIFY(Online({}));
    QString ended;
    bool closes = true;
    prompts_.dialogHandler = [&](QDialog& dialog) {
      auto& osc = static_cast<TdlgOscBox&>(dialog);
      osc.findChild<QPushButton*>("btnStart")->click();
      osc.setResult(QDialog::Accepted);
      osc.reject();  // the window's own Close is refused while sampling
      closes = osc.result() == QDialog::Rejected;
      // The trainer stops streaming behind the dialog's back.
      window_->Trainer().Port().StopSampling();
      QElapsedTimer clock;
      clock.start();
      while (osc.ReadoutText() != "无信号" && clock.elapsed() < 8000) QTest::qWait(50);
      ended = osc.ReadoutText();
      osc.findChild<QPushButton*>("btnStop")->click();
      return 0;
    };
    Trigger("avOsc");
    QCOMPARE(ended, QString("无信号"));
    QVERIFY(!closes);

    Build();
    editor_->Memo()->setCursorPosition(9, 0);
    Trigger("arToggleBreakpoint");
    window_->SetRunState(true);
    bool opened = false;
    prompts_.dialogHandler = [&](QDialog&) {
      opened = true;
      return 0;
    };
    Trigger("avOsc");
    window_->SetRunState(false);
    QVERIFY(!opened);
    QVERIFY(prompts_.asked.last().text.startsWith("运行的程序已设置断点"));
  }

  // A program on the trainer writes a ramp to its DAC port; the oscilloscope, opened while it
  // runs, shows the ramp, and the program can still be paused afterwards.
  void oscilloscopeShowsAProgramsRamp() {
    QVERIFY(Online({}));
    editor_ = window_->OpenEditor(Write("r.asm",
                                        "CODE    SEGMENT\r\n"
                                        "        ASSUME CS:CODE\r\n"
                                        "START:  MOV DX, 8000H\r\n"
                                        "        XOR AL, AL\r\n"
                                        "AGAIN:  OUT DX, AL\r\n"
                                        "        INC AL\r\n"
                                        "        JMP AGAIN\r\n"
                                        "CODE    ENDS\r\n"
                                        "        END START\r\n"));
    Trigger("apDebug");
    Trigger("arRun");
    QVERIFY(window_->IsRunning());
    size_t levels = 0;
    prompts_.dialogHandler = [&](QDialog& dialog) {
      auto& osc = static_cast<TdlgOscBox&>(dialog);
      osc.findChild<QPushButton*>("btnStart")->click();
      QElapsedTimer clock;
      clock.start();
      std::set<uint8_t> seen;
      while (clock.elapsed() < 5000 && seen.size() < 32) {
        QTest::qWait(50);
        seen = std::set<uint8_t>(osc.Scope().History().begin(), osc.Scope().History().end());
      }
      levels = seen.size();
      osc.findChild<QPushButton*>("btnStop")->click();
      return 0;
    };
    Trigger("avOsc");
    QVERIFY2(levels >= 32, qPrintable(QString::number(levels)));
    Trigger("arPause");
    QTRY_VERIFY(!window_->IsRunning());
    QVERIFY(window_->IsOnline());
  }

  // A trainer that misbehaves never hangs the workbench: it ends offline, at most after the
  // line's time-outs.
  void misbehavingTrainerEndsOffline_data() {
    QTest::addColumn<QStringList>("options");
    QTest::newRow("garbage") << QStringList{"--garbage"};
    QTest::newRow("short replies") << QStringList{"--short-replies"};
    QTest::newRow("wrong code") << QStringList{"--wrong-code"};
    QTest::newRow("drop after the handshake") << QStringList{"--drop-after", "1"};
  }
  void misbehavingTrainerEndsOffline() {
    QFETCH(QStringList, options);
    const QString port = StartTrainerEmulator(trainer_, options);
    QVERIFY(!port.isEmpty());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(Open(port));
    QVERIFY(!window_->IsOnline());
    QCOMPARE(Find<QLabel>("sConnect")->text(), QString("脱机模拟"));
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
  }

  // Function 9 turns the first lone CR into a line break; function 6 does not wait.
  void consoleOutputAndDirectInputOnTheTrainer() {
    QVERIFY(Online({}));
    editor_ = window_->OpenEditor(Write("c.asm",
                                        "DATA    SEGMENT\r\n"
                                        "MSG     DB 'AB', 0DH, 'CD$'\r\n"
                                        "DATA    ENDS\r\n"
                                        "CODE    SEGMENT\r\n"
                                        "        ASSUME CS:CODE, DS:DATA\r\n"
                                        "START:  MOV AX, DATA\r\n"
                                        "        MOV DS, AX\r\n"
                                        "        MOV DX, OFFSET MSG\r\n"
                                        "        MOV AH, 09H\r\n"
                                        "        INT 21H\r\n"
                                        "        MOV DL, 0FFH\r\n"
                                        "        MOV AH, 06H\r\n"
                                        "        INT 21H\r\n"
                                        "        MOV AX, 4C00H\r\n"
                                        "        INT 21H\r\n"
                                        "CODE    ENDS\r\n"
                                        "        END START\r\n"));
    Trigger("apDebug");
    prompts_.answers = {paNo};
    Trigger("arRun");
    QTRY_COMPARE_WITH_TIMEOUT(window_->IsRunning(), false, 10000);
    QCOMPARE(window_->UserScreen().Text(), QString("AB\nD"));
    QVERIFY(prompts_.asked.last().text.startsWith("程序已退出！是否立即复位？"));
  }

  // A trainer that stops answering: Retry asks again, Cancel closes the port and goes offline.
  void cancelInTheRetryPromptGoesOffline() {
    QVERIFY(Online({}));
    QVERIFY(window_->IsOnline());
    trainer_.kill();
    trainer_.waitForFinished();
    prompts_.answers = {paRetry, paCancel};
    Trigger("arReset");
    QCOMPARE(prompts_.asked.size(), 2);
    QCOMPARE(prompts_.asked.last().text,
             QString("通信错误，请检查连接是否正确。\r\n\r\n是否重试？"));
    QCOMPARE(prompts_.asked.last().caption, QString("错误"));
    QVERIFY(!window_->IsOnline());
    QVERIFY(!window_->Trainer().Port().IsOpen());
    QCOMPARE(Find<QLabel>("sConnect")->text(), QString("脱机模拟"));
    QVERIFY(window_->Action("asConnect")->isEnabled());
    QCOMPARE(window_->LastAnswer(), int(paCancel));
  }

  // On the trainer a breakpoint whose condition reads a variable stops on the first hit
  // where it holds, one with a pass count on that hit, and the run until return comes back
  // to the caller past the return of a nested call; no stop in between shows.
  void trainerWeighsBreakpointsAndRunsUntilReturn() {
    QVERIFY(Online({}));
    editor_ = window_->OpenEditor(Write("c.asm",
                                        "DATA SEGMENT\r\nCNT DW 0\r\nDATA ENDS\r\n"
                                        "CODE SEGMENT\r\n ASSUME CS:CODE, DS:DATA\r\n"
                                        "START: MOV AX, DATA\r\n MOV DS, AX\r\n MOV CX, 5\r\n"
                                        "AGAIN: CALL ADDUP\r\n LOOP AGAIN\r\n"      // 9, 10
                                        " MOV AX, 4C00H\r\n INT 21H\r\n"            // 11, 12
                                        "ADDUP: INC CNT\r\n CALL INNER\r\n"         // 13, 14
                                        " ADD BX, CX\r\n RET\r\nINNER: INC DX\r\n"  // 15-17
                                        " RET\r\nCODE ENDS\r\n END START\r\n"));
    Trigger("apDebug");
    editor_->Memo()->setCursorPosition(13, 0);
    Trigger("arToggleBreakpoint");
    auto* grid = Find<QTableWidget>("sgBreakpoint");
    const struct {
      const char *condition, *pass, *command;
      int line;
      uint32_t cx, bx, dx;
    } cases[] = {
        {"CNT == 3", "", "arRun", 14, 3, 9, 2},        // CNT is 1 and 2 on the first hits
        {"", "2", "arRun", 14, 4, 5, 1},               // the second hit
        {nullptr, nullptr, "arStepOut", 10, 4, 9, 2},  // from there, INNER's RET passed
    };
    const int asked = prompts_.asked.size();
    for (const auto& c : cases) {
      if (c.condition) {
        grid->item(0, 5)->setText(c.condition);
        grid->item(0, 6)->setText(c.pass);
        Trigger("arReload");
      }
      Trigger(c.command);
      QVERIFY(window_->IsRunning());
      QTRY_COMPARE_WITH_TIMEOUT(window_->IsRunning(), false, 10000);
      const TCPUState& cpu = window_->Machine().cpu;
      QCOMPARE(Line(), c.line);
      QCOMPARE(cpu.ECX & 0xFFFF, c.cx);
      QCOMPARE(cpu.EBX & 0xFFFF, c.bx);
      QCOMPARE(cpu.EDX & 0xFFFF, c.dx);
    }
    QCOMPARE(prompts_.asked.size(), asked);
  }

  void silentTrainerLeavesTheWorkbenchOffline() {
    QVERIFY(Online({"--silent"}));
    QVERIFY(!window_->IsOnline());
    QCOMPARE(Find<QLabel>("sConnect")->text(), QString("脱机模拟"));
    QVERIFY(window_->Action("asConnect")->isEnabled());
  }

 private:
};

QTEST_MAIN(TTrainerTest)
#include "trainer_test.moc"
