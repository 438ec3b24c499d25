#include "file_drop.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace {

// Opening reads the file; a move proposed by the source would make it delete its copy.
void AcceptAsCopy(QDropEvent* event) {
  if (event->possibleActions() & Qt::CopyAction) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
  } else {
    event->acceptProposedAction();
  }
}

}  // namespace

TFileDropOpener::TFileDropOpener(QObject* parent, TOpen open)
    : QObject(parent), open_(std::move(open)) {
  setObjectName("fileDropOpener");
}

void TFileDropOpener::Watch(QWidget* target) {
  target->setAcceptDrops(true);
  target->installEventFilter(this);
}

QStringList TFileDropOpener::DroppedFiles(const QMimeData* data) {
  QStringList files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    const QString path = QFileInfo(url.toLocalFile()).absoluteFilePath();
    if (QFileInfo(path).isFile() && !files.contains(path)) files << path;
  }
  return files;
}

bool TFileDropOpener::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDropEvent*>(event);
      if (DroppedFiles(drag->mimeData()).isEmpty()) break;
      AcceptAsCopy(drag);
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const QStringList files = DroppedFiles(drop->mimeData());
      if (files.isEmpty()) break;
      AcceptAsCopy(drop);
      for (const QString& path : files) open_(path);
      return true;
    }
    default: break;
  }
  return QObject::eventFilter(watched, event);
}
