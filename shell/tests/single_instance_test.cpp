// The hand-off between two processes: this program starts a copy of itself as the
// "second instance" (argument --hand-off NAME), which exits 0 when it reached a running one.
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>

#include "single_instance.h"

namespace {

QString UniqueName() { return "corvale-test-" + QUuid::createUuid().toString(QUuid::Id128); }

int RunSecondInstance(const QString& name) {
  QProcess second;
  second.start(QCoreApplication::applicationFilePath(), {"--hand-off", name});
  if (!second.waitForFinished(10000)) return -1;
  return second.exitCode();
}

}  // namespace

class SingleInstanceTest : public QObject {
  Q_OBJECT
 private slots:
  void SecondStartWakesTheFirstAndEnds() {
    const QString name = UniqueName();
    TSingleInstance first(name);
    QVERIFY(first.Listen());
    QSignalSpy woken(&first, &TSingleInstance::ActivationRequested);
    // The child blocks on its own socket calls while this loop must accept it, so run it
    // asynchronously and spin here.
    QProcess second;
    second.start(QCoreApplication::applicationFilePath(), {"--hand-off", name});
    QVERIFY(second.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 10000);
    QCOMPARE(second.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(woken.count(), 1, 5000);
  }

  // A start with files hands them over, made absolute, for the running window to open.
  void SecondStartPassesItsFiles() {
    const QString name = UniqueName();
    TSingleInstance first(name);
    QVERIFY(first.Listen());
    QSignalSpy woken(&first, &TSingleInstance::ActivationRequested);
    QSignalSpy files(&first, &TSingleInstance::FilesRequested);
    QProcess second;
    second.start(QCoreApplication::applicationFilePath(),
                 {"--hand-off", name, "lab 1.asm", "/tmp/b.asm"});
    QVERIFY(second.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(files.count(), 1, 5000);
    QCOMPARE(woken.count(), 1);
    QCOMPARE(files.first().first().toStringList(),
             QStringList({QDir::current().absoluteFilePath("lab 1.asm"), "/tmp/b.asm"}));
  }

  void WithoutARunningInstanceTheStartGoesOn() { QCOMPARE(RunSecondInstance(UniqueName()), 1); }

  void TheNameIsFreeAgainAfterTheFirstEnds() {
    const QString name = UniqueName();
    {
      TSingleInstance first(name);
      QVERIFY(first.Listen());
    }
    TSingleInstance next(name);
    QVERIFY(next.Listen());
  }

  void UsersHaveTheirOwnName() {
    QVERIFY(TSingleInstance::DefaultName().startsWith(QString(kWindowClassName) + '-'));
  }
};

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  if (argc >= 3 && QByteArray(argv[1]) == "--hand-off") {
    TSingleInstance second(QString::fromLocal8Bit(argv[2]));
    const QStringList files = TSingleInstance::FileArguments(app.arguments().mid(2));
    return second.HandOffToRunning(3000, files) ? 0 : 1;
  }
  SingleInstanceTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "single_instance_test.moc"
