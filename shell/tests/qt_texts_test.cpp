// Qt's own texts in the workbench's language: the standard buttons of every question and the
// file dialogs, with or without Qt's catalogue, and the file dialogs' filter labels.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "prompts.h"
#include "qt_translations.h"

namespace {

// Runs `look` on the next modal dialog once it shows, then closes it.
template <typename Dialog>
void WhenShown(std::function<void(Dialog&)> look) {
  QTimer::singleShot(0, [look] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    look(*dialog);
    dialog->reject();
  });
}

QStringList ButtonTexts(QMessageBox& box) {
  QStringList texts;
  for (QAbstractButton* button : box.buttons()) texts << button->text();
  texts.sort();
  return texts;
}

}  // namespace

class TQtTextsTest : public QObject {
  Q_OBJECT

 private slots:
  // Rows run in order: the built-in texts alone first, then Qt's catalogue above them.
  void questionButtonsAreChinese_data() {
    QTest::addColumn<bool>("catalogue");
    QTest::newRow("without Qt's catalogue") << false;
    QTest::newRow("with Qt's catalogue") << true;
  }
  void questionButtonsAreChinese() {
    QFETCH(bool, catalogue);
    QTemporaryDir empty;
    const QString system = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (catalogue && !QFile::exists(QDir(system).filePath("qtbase_zh_CN.qm")))
      QSKIP("Qt's Chinese catalogue is not installed");
    const QString loaded = InstallQtTranslations(
        *qApp, catalogue ? QStringList{empty.path(), system} : QStringList{empty.path()});
    QCOMPARE(loaded.isEmpty(), !catalogue);

    TMessagePrompts prompts;
    QStringList texts;
    WhenShown<QMessageBox>([&texts](QMessageBox& box) { texts = ButtonTexts(box); });
    prompts.Ask(nullptr, "?", "提示", pbYes | pbNo | pbCancel, TPromptIcon::Question);
    QCOMPARE(texts, (QStringList{"取消", "否(&N)", "是(&Y)"}));
    WhenShown<QMessageBox>([&texts](QMessageBox& box) { texts = ButtonTexts(box); });
    prompts.Ask(nullptr, "?", "提示", pbOk | pbRetry, TPromptIcon::Warning);
    QCOMPARE(texts, (QStringList{"确定", "重试"}));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Save"), QString("保存"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Discard"), QString("丢弃"));
  }

  // Each filter shows its label once; the patterns behind it stay hidden, and the dialog
  // opens in the folder asked for.
  void fileDialogShowsSingleLabelsInTheFolder() {
    QTemporaryDir dir;
    TMessagePrompts prompts;
    TFileDialogRequest request;
    request.caption = "打开";
    request.directory = dir.path();
    request.filters = {"汇编源程序 (*.ASM; *.INC) (*.ASM *.INC *.asm *.inc)", "所有文件 (*.*) (*)"};
    QStringList labels;
    QString folder;
    WhenShown<QFileDialog>([&](QFileDialog& dialog) {
      auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
      for (int i = 0; types && i < types->count(); ++i) labels << types->itemText(i);
      folder = dialog.directory().path();
    });
    prompts.OpenFile(nullptr, request);
    QCOMPARE(labels, (QStringList{"汇编源程序 (*.ASM; *.INC)", "所有文件 (*.*)"}));
    QCOMPARE(folder, dir.path());
  }
};

QTEST_MAIN(TQtTextsTest)
#include "qt_texts_test.moc"
