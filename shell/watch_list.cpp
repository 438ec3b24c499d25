#include "watch_list.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <algorithm>
#include <cctype>

#include "debugger_views.h"
#include "mem_image.h"
#include "prompts.h"
#include "qt_text.h"
#include "change_marks.h"
#include "view_grids.h"
#include "view_texts.h"

namespace {

constexpr int kFirstValueColumn = 3;
static_assert(int(TWatchSegment::DS) == int(TSegment::DS) &&
                  int(TWatchSegment::GS) == int(TSegment::GS),
              "a watch location's segment register is the memory grid's");
constexpr int kColumns = TWatchList::kDisplayColumn + 1;

// The display formats in the order of the watch box's choice.
const char* const kFormatNames[] = {"十六进制", "十进制", "有符号十进制", "字符"};

// One row's reading: where it lies, or why it cannot be read.
struct TReading {
  std::optional<TWatchLocation> location;
  QString error;
};

TReading Read(const TWatchEntry& entry, const TWatchContext& context, int previousSize) {
  if (entry.variable) {
    // A build's row keeps the size of the row before when its type names none.
    const std::optional<TWatchLocation> at =
        VariableLocation(*entry.variable, context, previousSize);
    return {at, at ? QString() : QString("地址写错了")};
  }
  TWatchResult result = EvaluateWatch(entry.expression.toStdString(), context);
  return {std::move(result.location), Text(result.error)};
}

QString DisplayText(const TMemImage& memory, const TWatchLocation& location, int count,
                    TWatchFormat format) {
  QStringList elements;
  const int shown = location.inMemory ? count : 1;
  for (int i = 0; i < shown; ++i) {
    const uint32_t value = ReadWatchElement(memory, location, i);
    elements << Text(WatchElementText(value, location.size, format));
  }
  return elements.join(' ');
}

}  // namespace

TWatchList::TWatchList(QTableWidget* grid, IPrompts& prompts, const TCPUState& cpu,
                       const TMemImage& memory, const TDebuggerHooks& hooks, QWidget* dialogParent)
    : QObject(grid),
      grid_(grid),
      prompts_(prompts),
      cpu_(cpu),
      memory_(memory),
      hooks_(hooks),
      dialogParent_(dialogParent) {
  AddDisplayColumn();
  grid_->installEventFilter(this);
  connect(grid_, &QTableWidget::cellDoubleClicked, this, [this] { EditWatch(); });
  BuildMenu();
}

void TWatchList::AddDisplayColumn() {
  // The window lays out the six columns of the build's rows; the display column follows.
  if (grid_->columnCount() >= kColumns) return;
  grid_->setColumnCount(kColumns);
  grid_->setHorizontalHeaderItem(kDisplayColumn, new QTableWidgetItem("显示"));
  grid_->setColumnWidth(kDisplayColumn, 160);
}

void TWatchList::BuildMenu() {
  menu_ = new QMenu(dialogParent_);
  menu_->setObjectName("pmWatch");
  const auto add = [this](const char* name, const QString& caption, const QString& hint,
                          const QKeySequence& key, void (TWatchList::*slot)()) {
    QAction* action = menu_->addAction(caption);
    action->setObjectName(name);
    action->setStatusTip(hint);
    action->setShortcut(key);
    action->setShortcutContext(Qt::WidgetShortcut);  // shown in the popup; the grid's keys act
    connect(action, &QAction::triggered, this, slot);
    return action;
  };
  add("apWatchAdd", "添加观察(&A)...", "添加一行观察：变量、寄存器或内存表达式",
      QKeySequence(Qt::Key_Insert), &TWatchList::AddWatch);
  // Return would also be the open popup's own key for its highlighted entry: not shown here.
  QAction* edit = add("apWatchEdit", "修改观察(&E)...", "修改选中的观察行（双击或回车）",
                      QKeySequence(), &TWatchList::EditWatch);
  QAction* remove = add("apWatchDelete", "删除观察(&D)", "删除选中的观察行",
                        QKeySequence(Qt::Key_Delete), &TWatchList::DeleteWatch);
  connect(menu_, &QMenu::aboutToShow, this, [this, edit, remove] {
    const bool selected = grid_->currentRow() >= 0;
    edit->setEnabled(selected);
    remove->setEnabled(selected);
  });
  grid_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(grid_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { menu_->popup(grid_->viewport()->mapToGlobal(at)); });
}

bool TWatchList::eventFilter(QObject* watched, QEvent* event) {
  if (watched == grid_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return false;
    switch (key->key()) {
      case Qt::Key_Insert: AddWatch(); return true;
      case Qt::Key_Delete: DeleteWatch(); return true;
      case Qt::Key_Return:
      case Qt::Key_Enter: EditWatch(); return true;
      default: break;
    }
  }
  return QObject::eventFilter(watched, event);
}

bool TWatchList::AskEntry(TWatchEntry& entry, const QString& caption) {
  QDialog box(dialogParent_);
  box.setObjectName("dlgWatch");
  box.setWindowTitle(caption);
  auto* expression = new QLineEdit(entry.expression);
  expression->setObjectName("edWatchExpression");
  expression->setPlaceholderText("例如 BUF、ARR+2、BYTE [SI]、WORD ES:[DI]、CX");
  auto* count = new QSpinBox;
  count->setObjectName("seWatchCount");
  count->setRange(1, kMaxCount);
  count->setValue(entry.count);
  auto* format = new QComboBox;
  format->setObjectName("cbWatchFormat");
  for (const char* name : kFormatNames) format->addItem(name);
  format->setCurrentIndex(int(entry.format));
  auto* preview = new QLabel;
  preview->setObjectName("lblWatchPreview");
  preview->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText("确定");
  buttons->button(QDialogButtonBox::Cancel)->setText("取消");
  auto* form = new QFormLayout(&box);
  form->addRow("表达式(&X):", expression);
  form->addRow("元素个数(&N):", count);
  form->addRow("显示格式(&F):", format);
  form->addRow(preview);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
  // What the row would show, or why it cannot be read: a typo is seen before OK.
  const auto update = [&] {
    const QString text = expression->text().trimmed();
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!text.isEmpty());
    const TWatchResult result = EvaluateWatch(text.toStdString(), Context());
    if (text.isEmpty() || !result.location) {
      preview->setText(text.isEmpty() ? QString() : Text(result.error));
      preview->setStyleSheet("color: red");
      return;
    }
    preview->setText("= " + DisplayText(memory_, *result.location, count->value(),
                                        TWatchFormat(format->currentIndex())));
    preview->setStyleSheet({});
  };
  connect(expression, &QLineEdit::textChanged, &box, update);
  connect(count, &QSpinBox::valueChanged, &box, update);
  connect(format, &QComboBox::currentIndexChanged, &box, update);
  update();
  if (prompts_.Exec(box) != QDialog::Accepted) return false;
  const QString text = expression->text().trimmed();
  if (text.isEmpty()) return false;
  entry.expression = text;
  entry.count = std::clamp(count->value(), 1, kMaxCount);
  entry.format = TWatchFormat(std::clamp(format->currentIndex(), 0, 3));
  return true;
}

void TWatchList::AddWatch() {
  TWatchEntry entry;
  if (!AskEntry(entry, "添加观察")) return;
  entry.id = nextId_++;
  entries_.push_back(entry);
  grid_->setRowCount(int(entries_.size()));
  grid_->setCurrentCell(int(entries_.size()) - 1, 0);
  RefreshUnlessRunning();
}

void TWatchList::EditWatch() {
  const int row = grid_->currentRow();
  if (row < 0 || row >= int(entries_.size())) return;
  const TWatchEntry& current = entries_[size_t(row)];
  // A build's row becomes the student's: its expression is the variable's name.
  TWatchEntry entry{current.id, std::nullopt,
                    current.variable ? Text(current.variable->name) : current.expression,
                    current.count, current.format};
  if (!AskEntry(entry, "修改观察")) return;
  // Another expression's values are no change of the program's.
  snapshot_.erase(entry.id);
  entries_[size_t(row)] = entry;
  RefreshUnlessRunning();
}

void TWatchList::DeleteWatch() {
  const int row = grid_->currentRow();
  if (row < 0 || row >= int(entries_.size())) return;
  snapshot_.erase(entries_[size_t(row)].id);
  entries_.erase(entries_.begin() + row);
  grid_->removeRow(row);
}

void TWatchList::SetBuildRows(const std::vector<TWatchRow>& rows) {
  variables_ = rows;
  std::erase_if(entries_, [](const TWatchEntry& entry) { return entry.variable.has_value(); });
  std::vector<TWatchEntry> built;
  for (const TWatchRow& row : rows) {
    TWatchEntry entry;
    entry.id = nextId_++;
    entry.variable = row;
    built.push_back(std::move(entry));
  }
  entries_.insert(entries_.begin(), built.begin(), built.end());
  AddDisplayColumn();
  grid_->clearSpans();
  grid_->clearContents();
  grid_->setRowCount(int(entries_.size()));
  snapshot_.clear();  // another program: nothing is marked until the next snapshot
  for (int row = 0; row < int(entries_.size()); ++row) {
    const TWatchEntry& entry = entries_[size_t(row)];
    if (!entry.variable) continue;
    // Columns 0-2 of a build's row as the build listed them; the values follow with the
    // next refresh.
    SetCell(grid_, row, 0, Text(entry.variable->name));
    SetCell(grid_, row, 1, Text(entry.variable->type));
    SetCell(grid_, row, 2, Text(entry.variable->address));
  }
  // The student's rows name the new build's variables now.
  for (int row = int(built.size()); row < int(entries_.size()); ++row)
    SetCell(grid_, row, 0, entries_[size_t(row)].expression);
}

TWatchContext TWatchList::Context() const { return {cpu_, variables_, RunsOnTrainer()}; }

bool TWatchList::RunsOnTrainer() const { return hooks_.runsOnTrainer && hooks_.runsOnTrainer(); }

void TWatchList::Fetch(const TWatchLocation& location, int count) const {
  if (!location.inMemory || !RunsOnTrainer() || !hooks_.fetchMemory) return;
  const uint32_t bytes = std::min<uint32_t>(uint32_t(location.size) * uint32_t(count), 0xFFFF);
  hooks_.fetchMemory(TSegment(location.segment), uint16_t(location.offset), uint16_t(bytes));
}

void TWatchList::RefreshUnlessRunning() {
  // A program at full speed is not asked for its memory; the next stop reads the row.
  if (hooks_.programRunning && hooks_.programRunning()) {
    const int row = grid_->currentRow();
    if (row >= 0) SetCell(grid_, row, 0, entries_[size_t(row)].expression);
    return;
  }
  Refresh();
}

void TWatchList::Refresh() {
  AddDisplayColumn();
  int size = 1;
  for (int row = 0; row < int(entries_.size()); ++row) {
    ShowRow(row, size);
    const TWatchEntry& entry = entries_[size_t(row)];
    if (entry.variable) size = WatchSize(entry.variable->type, size);
  }
}

void TWatchList::ShowRow(int row, int previousSize) {
  const TWatchEntry& entry = entries_[size_t(row)];
  const TReading reading = Read(entry, Context(), previousSize);
  if (!entry.variable) {
    SetCell(grid_, row, 0, entry.expression);
    grid_->item(row, 0)->setToolTip(entry.expression);  // whole, however narrow the column
    const std::optional<TWatchLocation>& at = reading.location;
    SetCell(grid_, row, 1, at ? Text(std::string(SizeTypeName(at->size))) : QString());
    SetCell(grid_, row, 2, at ? Text(at->address) : QString());
  }
  if (!reading.location) {
    SetValues(row, {reading.error, {}, {}, {}}, reading.error);
    return;
  }
  const TWatchLocation& location = *reading.location;
  Fetch(location, entry.count);
  const TWatchTexts first = WatchTexts(ReadWatchElement(memory_, location, 0), location.size);
  SetValues(row, {Text(first.hex), Text(first.decimal), Text(first.binary),
                  DisplayText(memory_, location, entry.count, entry.format)});
}

void TWatchList::SetValues(int row, const QStringList& texts, const QString& tip) {
  // A reason why a row cannot be read spans the value columns, to be read whole.
  const int span = tip.isEmpty() ? 1 : kColumns - kFirstValueColumn;
  if (grid_->columnSpan(row, kFirstValueColumn) != span)
    grid_->setSpan(row, kFirstValueColumn, 1, span);
  const auto before = snapshot_.find(entries_[size_t(row)].id);
  for (int i = 0; i < texts.size(); ++i) {
    const int column = kFirstValueColumn + i;
    SetCell(grid_, row, column, texts[i]);
    QTableWidgetItem* item = grid_->item(row, column);
    if (!item) continue;
    item->setToolTip(tip);
    // A cell never shown before the snapshot has nothing to differ from.
    const bool changed = before != snapshot_.end() && i < before->second.size() &&
                         !before->second[i].isEmpty() && before->second[i] != texts[i];
    item->setData(Qt::ForegroundRole, changed ? QVariant(ChangedValueColor()) : QVariant());
  }
}

void TWatchList::Snapshot() {
  snapshot_.clear();
  for (int row = 0; row < int(entries_.size()); ++row) {
    QStringList texts;
    for (int column = kFirstValueColumn; column < kColumns; ++column)
      texts << CellText(grid_, row, column);
    snapshot_[entries_[size_t(row)].id] = texts;
    // Nothing is marked until the next refresh compares.
    for (int column = kFirstValueColumn; column < kColumns; ++column) {
      if (QTableWidgetItem* item = grid_->item(row, column))
        item->setData(Qt::ForegroundRole, QVariant());
    }
  }
}

QString TWatchList::HoverText(const QString& word) {
  const std::string name = word.toStdString();
  if (name.empty() || !(std::isalpha(uint8_t(name[0])) || name[0] == '_' || name[0] == '?' ||
                        name[0] == '@' || name[0] == '$'))
    return {};
  const TWatchResult result = EvaluateWatch(name, Context());
  // Only a register or a variable by itself: a word that is no name gives an error here.
  if (!result.location) return {};
  const TWatchLocation& location = *result.location;
  Fetch(location, 1);
  const uint32_t value = ReadWatchElement(memory_, location, 0);
  std::string shown = name;
  for (const TWatchRow& row : variables_) {
    if (QString::fromStdString(row.name).compare(word, Qt::CaseInsensitive) == 0) shown = row.name;
  }
  if (!location.inMemory) shown = word.toUpper().toStdString();
  return Text(WatchHoverText(shown, location, value));
}
