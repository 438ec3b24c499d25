// TWatchList: the rows of the watch grid. A build fills it with the program's variables; the
// student adds, changes and removes rows (Insert, a double click, Delete, or the grid's
// popup), each an expression with an element count and a display format. Every refresh
// reads the rows through the watch expressions, and a value that changed since the last
// snapshot is drawn in the changed-value colour. The same reading gives the editor's hover
// text of a register or variable.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>
#include <vector>

#include "debug_info.h"
#include "watch_expr.h"

class IPrompts;
class QMenu;
class QTableWidget;
class TMemImage;
struct TCPUState;
struct TDebuggerHooks;

// What a row reads: a build's variable as the build listed it, or an expression of the
// student's (a build row the student changed becomes one).
struct TWatchEntry {
  int id = 0;
  std::optional<TWatchRow> variable;
  QString expression;
  int count = 1;  // elements, 1..256
  TWatchFormat format = TWatchFormat::Hex;
};

class TWatchList : public QObject {
  Q_OBJECT

 public:
  static constexpr int kMaxCount = 256;
  static constexpr int kDisplayColumn = 6;  // "显示": the value(s) in the row's format

  TWatchList(QTableWidget* grid, IPrompts& prompts, const TCPUState& cpu, const TMemImage& memory,
             const TDebuggerHooks& hooks, QWidget* dialogParent);

  // A new build's variables: its rows replace the previous build's unchanged ones at the
  // top; the student's rows follow, kept and read again.
  void SetBuildRows(const std::vector<TWatchRow>& rows);
  // Reads every row (online, fetched from the trainer first) and marks changed values.
  void Refresh();
  // The value texts as they are now become the base of the marking.
  void Snapshot();
  // The hover text of a register or variable name; empty for any other word.
  QString HoverText(const QString& word);

  const std::vector<TWatchEntry>& Entries() const { return entries_; }
  QMenu* Menu() const { return menu_; }

  // The popup commands; add and change ask through the watch box.
  void AddWatch();
  void EditWatch();
  void DeleteWatch();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void AddDisplayColumn();
  void BuildMenu();
  // The watch box over `entry`; false on Cancel.
  bool AskEntry(TWatchEntry& entry, const QString& caption);
  void RefreshUnlessRunning();
  TWatchContext Context() const;
  bool RunsOnTrainer() const;
  // Online, asks the trainer for the bytes a location covers.
  void Fetch(const TWatchLocation& location, int count) const;
  void ShowRow(int row, int previousSize);
  // The value cells (3..6) of a row and their marking.
  void SetValues(int row, const QStringList& texts, const QString& tip = {});

  QTableWidget* grid_;
  IPrompts& prompts_;
  const TCPUState& cpu_;
  const TMemImage& memory_;
  const TDebuggerHooks& hooks_;
  QWidget* dialogParent_;
  QMenu* menu_ = nullptr;
  std::vector<TWatchRow> variables_;  // the last build's, for names in expressions
  std::vector<TWatchEntry> entries_;  // one a grid row
  std::map<int, QStringList> snapshot_;
  int nextId_ = 1;
};
