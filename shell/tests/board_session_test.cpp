// The lab board in the window, offline: the settings choose the description, a program
// built and run in the window drives its LEDs and reads its switches, a click from the panel
// reaches the next IN, the board leaves the port bus while the trainer serves the ports, and
// a description that does not load is said once while the window goes on without a board.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "board_panel.h"
#include "board_session.h"
#include "board_views.h"
#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "machine.h"
#include "run_control.h"
#include "scripted_prompts.h"

namespace {

// Line numbers in the comments: the tests trace to them.
const char* const kBoardProgram =
    "CODE    SEGMENT\r\n"         // 1
    "        ASSUME CS:CODE\r\n"  // 2
    "START:  MOV DX, 8010H\r\n"   // 3
    "        MOV AL, 5AH\r\n"     // 4
    "        OUT DX, AL\r\n"      // 5  the LEDs on the latch
    "        MOV DX, 8000H\r\n"   // 6
    "        MOV AL, 80H\r\n"     // 7
    "        OUT DX, AL\r\n"      // 8  the DAC
    "        MOV DX, 273H\r\n"    // 9
    "        MOV AL, 82H\r\n"     // 10 8255 mode 0: A and C out, B in
    "        OUT DX, AL\r\n"      // 11
    "        MOV DX, 271H\r\n"    // 12
    "        IN AL, DX\r\n"       // 13 the switches on port B
    "        MOV AX, 4C00H\r\n"   // 14
    "        INT 21H\r\n"         // 15
    "CODE    ENDS\r\n"            // 16
    "        END START\r\n";      // 17

// Lights the LEDs, then waits for ever: a run that only a pause ends.
const char* const kSpinProgram =
    "CODE    SEGMENT\r\n"
    "        ASSUME CS:CODE\r\n"
    "START:  MOV DX, 8010H\r\n"
    "        MOV AL, 0A5H\r\n"
    "        OUT DX, AL\r\n"
    "SPIN:   JMP SPIN\r\n"
    "CODE    ENDS\r\n"
    "        END START\r\n";

}  // namespace

class TBoardSessionTest : public QObject {
  Q_OBJECT

 private:
  QString Write(const QString& name, const char* text) {
    const QString path = dir_.filePath(name);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
    file.write(text);
    return path;
  }
  void Reopen(const char* settings) {
    if (window_) cleanup();
    prompts_ = TScriptedPrompts{};
    Write("Corvale.INI", settings);
    window_ = std::make_unique<TfrmMainWin>(prompts_, dir_.filePath("Corvale.INI").toStdString());
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }
  void Trigger(const char* command) { window_->Action(command)->trigger(); }
  void Build(const char* program) {
    QVERIFY(window_->OpenEditor(Write("board.asm", program)));
    Trigger("apDebug");
    QVERIFY2(Messages().last().startsWith("程序代码装载完毕"), qPrintable(Messages().join('|')));
  }
  // Traces until the current line is `line` (at most 40 steps).
  void TraceTo(int line) {
    for (int i = 0; i < 40 && window_->ActiveEditor()->Debugger().ExecutionLine != line; ++i)
      Trigger("arTrace");
    QCOMPARE(window_->ActiveEditor()->Debugger().ExecutionLine, line);
  }
  uint8_t AL() { return uint8_t(window_->Machine().cpu.EAX); }
  std::optional<uint32_t> Shown(TBoardEventKind kind) {
    return window_->Board().State().Value(kind);
  }
  QStringList Messages() {
    QStringList lines;
    auto* list = FindChildOrDie<QListWidget>(window_.get(), "lbMessage");
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
  }

 private slots:
  void initTestCase() { qputenv("CORVALE_NO_SPLASH", "1"); }
  void cleanup() {
    if (!window_) return;
    window_->close();
    window_.reset();
  }

  // The default board: the LEDs on the latch at 8010h, the DAC at 8000h, switches on the
  // 8255's port B at 271h.
  void programDrivesTheDefaultBoard() {
    Reopen("");
    QCOMPARE(window_->BoardChoice(), std::string("default.ini"));
    QVERIFY(window_->Board().Loaded());
    QVERIFY(window_->Board().OnBus());
    std::vector<uint8_t> dac;
    window_->Board().OnDacSample([&dac](uint8_t code) { dac.push_back(code); });
    Build(kBoardProgram);

    TraceTo(6);
    QCOMPARE(Shown(TBoardEventKind::Leds), 0x5Au);
    TraceTo(9);
    QCOMPARE(dac, std::vector<uint8_t>{0x80});

    // The panel draws it: LED 1 lit, LED 0 dark (5Ah).
    auto* leds = FindChildOrDie<TLedRow>(window_->BoardPanel(), "ledRow");
    const auto led = [leds](int i) {
      return leds->grab().toImage().pixel(QRectF(leds->Led(i)).center().toPoint());
    };
    QVERIFY(led(1) != led(0));
    QCOMPARE(led(1), led(3));

    // A click on the panel's switch 3 while the program stands still: the next IN sees it.
    auto* switches = FindChildOrDie<TSwitchRow>(window_->BoardPanel(), "switchRow");
    QTest::mouseClick(switches, Qt::LeftButton, {}, switches->Switch(3).center());
    QCOMPARE(Shown(TBoardEventKind::Switches), 0x08u);
    TraceTo(14);
    QCOMPARE(AL(), 0x08);

    // Stepping back undoes the CPU, not the board: the LEDs stay lit.
    Trigger("arStepBack");
    QCOMPARE(window_->ActiveEditor()->Debugger().ExecutionLine, 13);
    QCOMPARE(Shown(TBoardEventKind::Leds), 0x5Au);
    Trigger("arTrace");
    QCOMPARE(AL(), 0x08);

    // A reset is the board's power-on too; its clock starts again with the CPU's count.
    Trigger("arReset");
    QCOMPARE(Shown(TBoardEventKind::Leds), std::nullopt);
    QCOMPARE(window_->Machine().simulator.DeviceInstructions(), 0u);
    QVERIFY(window_->Board().OnBus());
    TraceTo(6);
    QCOMPARE(Shown(TBoardEventKind::Leds), 0x5Au);

    // Online the trainer serves the ports; back offline, the board again.
    window_->SetConnected(true);
    QVERIFY(!window_->Board().OnBus());
    QCOMPARE(window_->Machine().simulator.PortDevice(), nullptr);
    window_->SetConnected(false);
    QVERIFY(window_->Board().OnBus());
    QCOMPARE(Shown(TBoardEventKind::Leds), 0x5Au);
  }

  // At each look at the window during a full-speed run, the board shows what the program did.
  void fullSpeedRunKeepsTheBoardCurrent() {
    Reopen("[Config]\r\nBoard=default.ini\r\n");
    Build(kSpinProgram);
    std::optional<uint32_t> seen;
    int refreshes = 0;
    connect(window_.get(), &TfrmMainWin::boardRefreshed, this, [&] { ++refreshes; });
    QTimer::singleShot(50, window_.get(), [&] {
      seen = Shown(TBoardEventKind::Leds);
      QVERIFY(window_->IsRunning());
      Trigger("arPause");
    });
    Trigger("arRun");
    QCOMPARE(seen, 0xA5u);
    QVERIFY(refreshes > 0);
  }

  // "none" leaves the ports as they were before there were boards: IN reads 0.
  void noBoardReadsZero() {
    Reopen("[Config]\r\nBoard=none\r\n");
    QVERIFY(!window_->Board().Loaded());
    QCOMPARE(window_->Machine().simulator.PortDevice(), nullptr);
    Build(kBoardProgram);
    TraceTo(14);
    QCOMPARE(AL(), 0);
  }

  // A description with a mistake, a missing one, a name that climbs out of the folder: each
  // said once in the message list, and the window works on without a board.
  void badDescriptionsAreSaidOnce_data() {
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("said");
    QTest::newRow("mistake") << QByteArray("[Config]\r\nBoard=bad.ini\r\n") << "第 3 行";
    QTest::newRow("missing") << QByteArray("[Config]\r\nBoard=gone.ini\r\n")
                             << "无法读取实验板描述文件";
    QTest::newRow("outside") << QByteArray("[Config]\r\nBoard=../Corvale.INI\r\n")
                             << "不在 boards 文件夹中";
  }
  void badDescriptionsAreSaidOnce() {
    QFETCH(QByteArray, settings);
    QFETCH(QString, said);
    Write("boards/bad.ini", "[CPU]\nClock=4770000\n[8256]\nBase=200h\n");
    Reopen(settings.constData());
    QVERIFY(!window_->Board().Loaded());
    const QStringList messages = Messages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith("实验板描述文件") || messages[0].startsWith("无法读取"),
             qPrintable(messages[0]));
    QVERIFY2(messages[0].contains(said), qPrintable(messages[0]));
    Build(kBoardProgram);
    TraceTo(14);
    QCOMPARE(AL(), 0);

    // Choosing a good board afterwards loads it.
    window_->ChooseBoard("default.ini");
    QVERIFY(window_->Board().OnBus());
  }

  // 设置工作方式 loads the board chosen there, tries a board that failed again (its file may
  // have been put right), and "无" takes the board away; the choice is kept at close.
  void optionsDialogChoosesTheBoard() {
    Write("boards/lab.ini", "[LATCH\n");
    Reopen("[Config]\r\nBoard=lab.ini\r\n");
    QVERIFY(!window_->Board().Loaded());
    Write("boards/lab.ini", "; Lab\n[LATCH]\nBase=300h\n[LEDS]\nPort=LATCH\n");
    const auto choose = [this](const QString& item) {
      QTimer::singleShot(0, this, [item] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        auto* combo = FindChildOrDie<QComboBox>(dialog, "cbBoard");
        combo->setCurrentIndex(combo->findText(item));
        dialog->accept();
      });
      Trigger("asOptions");
    };
    choose("lab.ini");
    QVERIFY(window_->Board().OnBus());
    QCOMPARE(window_->Board().Path().filename().string(), std::string("lab.ini"));
    choose("无");
    QVERIFY(!window_->Board().Loaded());
    QCOMPARE(window_->Machine().simulator.PortDevice(), nullptr);
    window_->close();
    QFile ini(dir_.filePath("Corvale.INI"));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QVERIFY(ini.readAll().contains("Board=none"));
  }

 private:
  QTemporaryDir dir_;
  TScriptedPrompts prompts_;
  std::unique_ptr<TfrmMainWin> window_;
};

QTEST_MAIN(TBoardSessionTest)
#include "board_session_test.moc"
