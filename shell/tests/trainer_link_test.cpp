// The link to a trainer that is found by itself, misbehaves or goes away, against the
// trainer emulator on a pseudo-terminal: detection in the real modal dialog, the reasons a
// start-up handshake failed, a download and a bridged run that lose the box, and the box
// that restarted and lost the program.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "dlg_comm_box.h"
#include "frm_main_win.h"
#include "machine.h"
#include "radio_group.h"
#include "scripted_prompts.h"
#include "session_program.h"
#include "trainer_emulator.h"
#include "trainer_session.h"

class TTrainerLinkTest : public TTrainerWindowTest {
  Q_OBJECT

 private:
  // The emulator with these options, the window online with it, and this program open.
  void OnlineWithProgram(const QStringList& options, bool bridged, const QString& name,
                         const QByteArray& program) {
    const QString port = StartTrainerEmulator(trainer_, options);
    QVERIFY(!port.isEmpty());
    QVERIFY(Open(port, bridged));
    QVERIFY(window_->IsOnline());
    window_->OpenEditor(Write(name, program));
  }
  QString Status() { return FindChildOrDie<QLabel>(window_.get(), "sConnect")->text(); }

 private slots:
  void initTestCase() { qputenv("CORVALE_NO_SPLASH", "1"); }
  void init() { prompts_ = TScriptedPrompts{}; }
  void cleanup() { CloseWindowAndTrainer(); }

  // No saved port, automatic mode: the dialog comes up over the shown window, lists the
  // emulator's terminal, finds the box in one click while it stays up, and ends with OK.
  void detectionInTheModalDialogGoesOnline() {
    const QString port = StartTrainerEmulator(trainer_, {});
    QVERIFY(!port.isEmpty());
    bool overWindow = false, listed = false, stayedUp = true;
    QString found;
    int result = -1;
    qint64 longestGap = 0;  // between two polls: how long the window stood still
    prompts_.dialogHandler = [&](QDialog& dialog) {
      auto& box = static_cast<TdlgCommBox&>(dialog);
      overWindow = window_ && window_->isVisible() && window_->windowHandle()->isExposed();
      listed = TdlgCommBox::PortNames({}).contains(port);
      QTimer::singleShot(0, &box, [&] {
        box.findChild<TRadioGroup*>("rgAutoComm")->findChildren<QRadioButton*>().first()->click();
      });
      // Polled while the detection runs: the dialog never leaves the screen.
      QTimer poll;
      QElapsedTimer sincePoll;
      sincePoll.start();
      poll.callOnTimeout([&] {
        longestGap = std::max(longestGap, sincePoll.restart());
        stayedUp = stayedUp && box.isVisible();
        if (box.Detecting() || box.DetectionText() != "设备检测成功！") return;
        found = box.DetectionText();
        box.findChild<QPushButton*>("btnOk")->click();
      });
      poll.start(10);
      result = box.exec();
      return result;
    };
    QElapsedTimer clock;
    clock.start();
    QVERIFY(OpenWithSettings("AutoCommPort=1\r\nBridgUSB=0\r\n"));
    QVERIFY(listed);
    QVERIFY(overWindow);
    QVERIFY(stayedUp);
    QVERIFY2(longestGap < 300, qPrintable(QString("stood still %1 ms").arg(longestGap)));
    QCOMPARE(found, QString("设备检测成功！"));
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(window_->IsOnline());
    QVERIFY(window_->Trainer().Port().IsOpen());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    qInfo("online by detection after %lld ms, longest stand-still %lld ms", clock.elapsed(),
          longestGap);
  }

  // A start-up handshake that fails says why in the port dialog.
  void failedHandshakeSaysWhy() {
    const struct {
      QStringList options;
      QStringList reasons;
    } cases[] = {
        {{"--silent"}, {"训练机没有应答。"}},
        {{"--wrong-code"}, {"训练机应答的命令码不对。"}},
        {{"--short-replies"}, {"训练机的应答不完整，无法识别。"}},
        {{"--garbage"}, {"训练机的应答不完整，无法识别。", "训练机应答的命令码不对。"}},
    };
    for (const auto& c : cases) {
      const QString port = StartTrainerEmulator(trainer_, c.options);
      QVERIFY(!port.isEmpty());
      QString said;
      prompts_.dialogHandler = [&](QDialog& dialog) {
        said = static_cast<TdlgCommBox&>(dialog).FaultText();
        return int(QDialog::Rejected);
      };
      QVERIFY(Open(port, false));
      QVERIFY(!window_->IsOnline());
      QVERIFY2(said.startsWith("联机失败：") && c.reasons.contains(said.mid(5)), qPrintable(said));
      cleanup();
    }
  }

  // The box goes away in the middle of a download: the download stops at once, says so,
  // is not reported as loaded onto the trainer, and the workbench goes on offline.
  void downloadThatLosesTheBoxStops() {
    OnlineWithProgram({"--drop-after", "12"}, false, "big.asm",
                      "DATA SEGMENT\r\nBUF DB 8000 DUP(1)\r\nDATA ENDS\r\n"
                      "CODE SEGMENT\r\n ASSUME CS:CODE, DS:DATA\r\n"
                      "START: MOV AX, 4C00H\r\n INT 21H\r\nCODE ENDS\r\n END START\r\n");
    if (QTest::currentTestFailed()) return;
    prompts_.answers = {paRetry, paCancel};
    QElapsedTimer clock;
    clock.start();
    Trigger("apDebug");
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(prompts_.asked.size(), 2);  // Retry reopens a line that is gone, and asks again
    QVERIFY(!window_->IsOnline());
    const QStringList messages = Messages();
    QVERIFY(messages.contains("程序下载中断：与训练机的连接已断开。"));
    QCOMPARE(messages.last(),
             QString("程序没有完整下载到训练机，训练机上没有这个程序；现在在脱机模拟中调试。"));
  }

  // Bridge mode: the simulator's port read meets a box that is gone; after the retry rule
  // the status is offline and the run stops.
  void bridgedRunNoticesALostBox() {
    OnlineWithProgram({}, true, "loop.asm",
                      "CODE SEGMENT\r\n ASSUME CS:CODE\r\n"
                      "START: MOV DX, 8000H\r\nAGAIN: IN AL, DX\r\n JMP AGAIN\r\n"
                      "CODE ENDS\r\n END START\r\n");
    if (QTest::currentTestFailed()) return;
    Trigger("apDebug");
    trainer_.kill();
    trainer_.waitForFinished();
    prompts_.answers = {paCancel};
    QElapsedTimer clock;
    clock.start();
    Trigger("arRun");
    QTRY_VERIFY_WITH_TIMEOUT(!window_->IsRunning(), 5000);
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(prompts_.asked.size(), 1);
    QCOMPARE(prompts_.asked.first().caption, QString("错误"));
    QCOMPARE(Status(), QString("脱机模拟"));
  }

  // Replies that come cut short in the middle of a session: the step fails under the retry
  // rule instead of showing FFFF in the registers, and the window never stays "正在运行".
  void shortReplyMidSessionNeverSticks() {
    OnlineWithProgram({"--short-replies", "--misbehave-after", "60"}, false, "spin.asm",
                      "CODE SEGMENT\r\n ASSUME CS:CODE\r\n"
                      "START: INC AX\r\n JMP START\r\nCODE ENDS\r\n"
                      " END START\r\n");
    if (QTest::currentTestFailed()) return;
    Trigger("apDebug");
    QVERIFY(prompts_.asked.isEmpty());  // the box still behaves while it takes the program
    int steps = 0;
    for (; steps < 60 && prompts_.asked.isEmpty(); ++steps) {
      prompts_.answers = {paCancel};
      Trigger("arTrace");
      QTRY_VERIFY_WITH_TIMEOUT(!window_->IsRunning(), 3000);
    }
    QVERIFY(!prompts_.asked.isEmpty());
    qInfo("the replies came short at step %d", steps);
    QCOMPARE(FindChildOrDie<QLabel>(window_.get(), "sStatus")->text(), QString("待命"));
    QCOMPARE(Status(), QString("脱机模拟"));
    QVERIFY((window_->Machine().cpu.EIP & 0xFFFF) < 3);  // inside the loop, not FFFF
  }

  // The box restarted (a new emulator on the same name): going online again says that the
  // program is gone from it and downloads it again when asked.
  void restartedBoxOffersTheDownloadAgain() {
    const QString link = dir_.filePath("box");
    QVERIFY(!StartTrainerEmulator(trainer_, {"--link", link}).isEmpty());
    QVERIFY(Open(link, false));
    QVERIFY(window_->IsOnline());
    window_->OpenEditor(Write("t.asm", kSessionProgram));
    Trigger("apDebug");
    trainer_.kill();
    trainer_.waitForFinished();
    prompts_.answers = {paCancel};
    Trigger("arReset");
    QVERIFY(!window_->IsOnline());
    QVERIFY(!StartTrainerEmulator(trainer_, {"--link", link}).isEmpty());
    prompts_.asked.clear();
    prompts_.answers = {paYes};
    Trigger("asConnect");
    QVERIFY(window_->IsOnline());
    QCOMPARE(prompts_.asked.size(), 1);
    QVERIFY(prompts_.asked.first().text.startsWith("训练机上已经没有调试中的程序"));
    // Downloaded again: reconnecting now finds the program there and asks nothing.
    Trigger("asConnect");
    QCOMPARE(prompts_.asked.size(), 1);
  }

 private:
};

QTEST_MAIN(TTrainerLinkTest)
#include "trainer_link_test.moc"
