// The board page online: the trainer emulator carries a lab board, and the workbench's
// 实验板 page shows it and sends it the student's clicks, whether the program stands still,
// runs bridged or runs on the trainer itself.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "board_panel.h"
#include "board_session.h"
#include "board_views.h"
#include "comm_port.h"
#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "scripted_prompts.h"
#include "trainer_emulator.h"
#include "trainer_session.h"

class TTrainerBoardTest : public TTrainerWindowTest {
  Q_OBJECT

 private slots:
  void initTestCase() { qputenv("CORVALE_NO_SPLASH", "1"); }
  void cleanup() { CloseWindowAndTrainer(); }

  // Online, the board page shows the trainer emulator's own board and sends it the clicks:
  // a port written through the I/O page lights its LEDs, a switch clicked on the panel is
  // what the trainer's 8255 then reads.
  void boardPanelShowsTheTrainersBoard() {
    const QString board = QCoreApplication::applicationDirPath() + "/boards/default.ini";
    QVERIFY(Online({"--board", board}, true));
    QVERIFY(window_->IsOnline() && window_->Board().Loaded() && !window_->Board().OnBus());
    Trigger("avBoard");
    Find<QLineEdit>("edtIOAddr")->setText("8010");
    Find<QLineEdit>("edtWriteData")->setText("5A");
    Find<QPushButton>("btnWrite")->click();
    const auto shown = [&](TBoardEventKind kind) {
      return window_->TrainerBoard().Value(kind).value_or(0xFFFF);
    };
    QTRY_COMPARE_WITH_TIMEOUT(shown(TBoardEventKind::Leds), 0x5Au, 5000);
    auto* switches = FindChildOrDie<TSwitchRow>(window_->BoardPanel(), "switchRow");
    QTest::mouseClick(switches, Qt::LeftButton, {}, switches->Switch(3).center());
    QTRY_COMPARE_WITH_TIMEOUT(shown(TBoardEventKind::Switches), 0x08u, 5000);
    Find<QLineEdit>("edtIOAddr")->setText("273");
    Find<QLineEdit>("edtWriteData")->setText("82");  // mode 0, port B an input
    Find<QPushButton>("btnWrite")->click();
    Find<QLineEdit>("edtIOAddr")->setText("271");
    Find<QPushButton>("btnRead")->click();
    auto* record = Find<QListWidget>("lbIORecord");
    QVERIFY2(record->item(record->count() - 1)->text().endsWith("0271  读出8-bit数据：08"),
             qPrintable(record->item(record->count() - 1)->text()));
  }

  // While a program runs on the trainer itself, the board page still follows its board:
  // a switch clicked there reaches the running program, which copies the switches to the
  // LEDs, and the LEDs come back into the page before the run ends.
  void boardPanelFollowsARunOnTheTrainer() {
    const QString board = QCoreApplication::applicationDirPath() + "/boards/default.ini";
    QVERIFY(Online({"--board", board}));
    editor_ = window_->OpenEditor(Write("copy.asm",
                                        "CODE    SEGMENT\r\n"
                                        "        ASSUME CS:CODE\r\n"
                                        "START:  MOV DX, 273H\r\n"
                                        "        MOV AL, 82H\r\n"
                                        "        OUT DX, AL\r\n"
                                        "AGAIN:  MOV DX, 271H\r\n"
                                        "        IN AL, DX\r\n"
                                        "        MOV DX, 8010H\r\n"
                                        "        OUT DX, AL\r\n"
                                        "        JMP AGAIN\r\n"
                                        "CODE    ENDS\r\n"
                                        "        END START\r\n"));
    Trigger("apDebug");
    QCOMPARE(Line(), 3);
    Trigger("avBoard");  // the build left 编译 in front
    // The first exchange, while stopped, finds the trainer's board.
    QTRY_VERIFY_WITH_TIMEOUT(window_->Trainer().Port().BoardPresent(), 5000);
    bool seen = false;
    Later(100, [&] {
      QVERIFY(window_->IsRunning());
      auto* switches = FindChildOrDie<TSwitchRow>(window_->BoardPanel(), "switchRow");
      QTest::mouseClick(switches, Qt::LeftButton, {}, switches->Switch(3).center());
      QTRY_COMPARE_WITH_TIMEOUT(window_->TrainerBoard().Value(TBoardEventKind::Leds).value_or(0),
                                0x08u, 5000);
      seen = window_->IsRunning();
      Trigger("arPause");
    });
    Trigger("arRun");
    QTRY_VERIFY_WITH_TIMEOUT(!window_->IsRunning(), 10000);
    QVERIFY(seen);
  }

 private:
};

QTEST_MAIN(TTrainerBoardTest)
#include "trainer_board_test.moc"
