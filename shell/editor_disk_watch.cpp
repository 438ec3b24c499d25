#include "editor_disk_watch.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMdiArea>
#include <QPointer>
#include <QSet>

#include "frm_edit_win.h"
#include "frm_main_win.h"
#include "prompts.h"

namespace {

constexpr int kSettleMs = 300;

const char* const kChanged = "文件 %1 已被其他程序修改。\r\n\r\n要重新载入吗？";
const char* const kChangedModified =
    "文件 %1 已被其他程序修改。\r\n\r\n重新载入将丢失在这里所做的修改，仍要重新载入吗？";

QByteArray Digest(const QByteArray& bytes) {
  return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

}  // namespace

TEditorDiskWatch& TEditorDiskWatch::Of(TfrmMainWin& mainWin) {
  if (auto* watch = mainWin.findChild<TEditorDiskWatch*>(QString(), Qt::FindDirectChildrenOnly)) {
    return *watch;
  }
  return *new TEditorDiskWatch(mainWin);
}

TEditorDiskWatch::TEditorDiskWatch(TfrmMainWin& mainWin) : QObject(&mainWin), mainWin_(mainWin) {
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, &TEditorDiskWatch::CheckNow);
  connect(&watcher_, &QFileSystemWatcher::fileChanged, &settle_, qOverload<>(&QTimer::start));
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, &settle_, qOverload<>(&QTimer::start));
  // A file changed while the user was in another program is asked about on coming back.
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
    if (s == Qt::ApplicationActive) settle_.start();
  });
}

QString TEditorDiskWatch::Question(const QString& path, bool modified) {
  return QString(modified ? kChangedModified : kChanged).arg(path);
}

void TEditorDiskWatch::Track(TfrmEditWin* editor, const QString& path, const QByteArray& bytes) {
  if (!entries_.contains(editor)) {
    connect(editor, &QObject::destroyed, this, [this, editor] { Forget(editor); });
  }
  TEntry& entry = entries_[editor];
  entry = TEntry{};
  entry.path = path;
  entry.known = Digest(bytes);
  const QFileInfo info(path);
  if (info.exists()) {
    entry.size = info.size();
    entry.modified = info.lastModified();
  }
  Rewatch();
}

void TEditorDiskWatch::Forget(TfrmEditWin* editor) {
  if (entries_.remove(editor)) Rewatch();
}

void TEditorDiskWatch::Rewatch() {
  // The file itself for writes in place, its folder for files replaced by a rename or
  // deleted and made again; both are dropped once no editor needs them.
  QSet<QString> wanted;
  for (const TEntry& entry : std::as_const(entries_)) {
    const QFileInfo info(entry.path);
    if (info.exists()) wanted.insert(info.filePath());
    if (info.dir().exists()) wanted.insert(info.absolutePath());
  }
  QStringList stale;
  for (const QStringList& list : {watcher_.files(), watcher_.directories()}) {
    for (const QString& path : list) {
      if (!wanted.remove(path)) stale << path;
    }
  }
  if (!stale.isEmpty()) watcher_.removePaths(stale);
  if (!wanted.isEmpty()) watcher_.addPaths(QStringList(wanted.begin(), wanted.end()));
}

void TEditorDiskWatch::Scan() {
  for (TEntry& entry : entries_) {
    const QFileInfo info(entry.path);
    // A vanished file has nothing to load; when it comes back it is looked at again.
    if (!info.isFile()) continue;
    if (info.size() == entry.size && info.lastModified() == entry.modified) continue;
    QFile file(entry.path);
    if (!file.open(QIODevice::ReadOnly)) continue;  // still being written: the next event
    const QByteArray digest = Digest(file.readAll());
    entry.size = info.size();
    entry.modified = info.lastModified();
    // Back to what the editor holds (a touch, our own save): nothing to ask.
    if (digest == entry.known) {
      entry.seen.clear();
    } else if (digest != entry.asked) {
      entry.seen = digest;
    }
  }
  Rewatch();
}

bool TEditorDiskWatch::CanAsk() const {
  // Never over another dialog or an open menu, and not while the user is elsewhere.
  return !asking_ && !QApplication::activeModalWidget() && !QApplication::activePopupWidget() &&
         QGuiApplication::applicationState() == Qt::ApplicationActive;
}

void TEditorDiskWatch::CheckNow() {
  Scan();
  AskPending();
}

void TEditorDiskWatch::AskPending() {
  QList<QPointer<TfrmEditWin>> pending;
  for (auto it = entries_.cbegin(); it != entries_.cend(); ++it) {
    if (!it->seen.isEmpty()) pending << it.key();
  }
  if (pending.isEmpty()) return;
  if (!CanAsk()) {
    if (!asking_) settle_.start();  // look again shortly
    return;
  }
  asking_ = true;
  for (const QPointer<TfrmEditWin>& editor : pending) {
    if (!editor || !entries_.contains(editor)) continue;  // closed meanwhile
    TEntry& entry = entries_[editor];
    if (entry.seen.isEmpty()) continue;
    // Asked once per change: a declined change stays declined until the file changes again.
    entry.asked = entry.seen;
    entry.seen.clear();
    const QString path = entry.path;
    if (QMdiArea* area = editor->mdiArea()) area->setActiveSubWindow(editor);
    const bool modified = editor->Modified();
    const int answer =
        mainWin_.Prompts().Ask(&mainWin_, Question(path, modified), "提示",
                               modified ? pbYes | pbNo | pbDefaultNo : pbYes | pbNo,
                               modified ? TPromptIcon::Warning : TPromptIcon::Question);
    if (answer == paYes && editor) editor->ReloadFromDisk();
  }
  asking_ = false;
  // Changes noticed while the question was open get their turn.
  for (const TEntry& entry : std::as_const(entries_)) {
    if (!entry.seen.isEmpty()) settle_.start();
  }
}
