// Files dragged from a file manager onto the workbench open as editor windows. The drop
// arrives as a list of URLs; only local files count, so text dragged into an editor is
// still inserted as text.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

class QMimeData;
class QWidget;

class TFileDropOpener : public QObject {
  Q_OBJECT

 public:
  using TOpen = std::function<void(const QString& path)>;
  TFileDropOpener(QObject* parent, TOpen open);

  // `target` takes drops of files from now on.
  void Watch(QWidget* target);

  // The local files among dropped data, in order; folders and remote URLs are left out.
  static QStringList DroppedFiles(const QMimeData* data);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TOpen open_;
};
