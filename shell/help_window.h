// The built-in manual: its HTML chapters live in the resources under :/help, the window shows
// them in a text browser, and F1 opens it from any window of the application at the chapter
// that matches the window (or the panel) it was pressed in.
#pragma once

#include <QPointer>
#include <QString>
#include <QTextBrowser>
#include <QWidget>
#include <span>

class QAction;
class QListWidget;

struct TManualChapter {
  const char* file;   // under qrc:/help/
  const char* title;  // as the contents list shows it
};

// The chapters in reading order; the contents page links to each of them.
std::span<const TManualChapter> ManualChapters();

// The chapter (a file name, maybe with a "#section") for F1 pressed in `widget`: the first
// widget from it up through its parents that has a chapter of its own decides.
QString ManualChapterFor(const QWidget* widget);

// The keys chapter's table, made from the command table: every command with a shortcut or a
// menu entry, in menu order, with its key and hint.
QString CommandKeysTable();

// Reads the chapters from the resources and fills in what only the running program knows:
// the command keys and the examples folder.
class TManualBrowser : public QTextBrowser {
  Q_OBJECT
 public:
  explicit TManualBrowser(QWidget* parent = nullptr);
  QVariant loadResource(int type, const QUrl& name) override;
};

class THelpWindow : public QWidget {
  Q_OBJECT
 public:
  explicit THelpWindow(QWidget* parent = nullptr);

  // Shows `chapter` ("debug.html#breakpoints"); an unknown chapter shows the contents.
  void ShowChapter(const QString& chapter);
  // The chapter file now shown, without its section.
  QString CurrentChapter() const;
  TManualBrowser* Browser() const { return browser_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void SyncContents();

  QListWidget* contents_;
  TManualBrowser* browser_;
};

// Opens the manual (one window for the application) at the chapter for `from`, in front. A
// modal dialog in progress becomes the window's parent, so the manual is not blocked by it.
THelpWindow* ShowManual(QWidget* from);

// The help command shows the manual, and F1 anywhere in the application does too.
void InstallManual(QAction* helpCommand);
