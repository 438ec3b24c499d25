// Notices when the file of an editor window is changed on disk by another program (the
// DOS tools write their files beside the source, an outside editor saves over it) and
// offers to load it again. The workbench's own saves and loads tell the watch what the
// file holds, so they never count as a change; a change the user declined is not asked
// about again, only a further one.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

class TfrmEditWin;
class TfrmMainWin;

class TEditorDiskWatch : public QObject {
  Q_OBJECT

 public:
  // The one watch of a main window, made on first use.
  static TEditorDiskWatch& Of(TfrmMainWin& mainWin);

  // The editor holds `bytes`, the file's contents at `path` as it just read or wrote them.
  void Track(TfrmEditWin* editor, const QString& path, const QByteArray& bytes);
  void Forget(TfrmEditWin* editor);

  // Looks at the tracked files at once and asks about those that changed, when no other
  // dialog is open (otherwise again shortly).
  void CheckNow();

  // Text of the question for a changed file: plain for an unchanged editor, a warning that
  // the edits would be lost for a modified one.
  static QString Question(const QString& path, bool modified);

 private:
  explicit TEditorDiskWatch(TfrmMainWin& mainWin);

  struct TEntry {
    QString path;
    QByteArray known;  // digest of what the editor holds (loaded or saved)
    QByteArray asked;  // digest of a change already asked about
    QByteArray seen;   // digest found on disk and not yet asked about
    qint64 size = -1;  // size and time of the file when last looked at
    QDateTime modified;
  };

  void Rewatch();
  void Scan();
  void AskPending();
  bool CanAsk() const;

  TfrmMainWin& mainWin_;
  QFileSystemWatcher watcher_;
  QTimer settle_;  // a writer's burst of changes is looked at once it is over
  QHash<TfrmEditWin*, TEntry> entries_;
  bool asking_ = false;
};
