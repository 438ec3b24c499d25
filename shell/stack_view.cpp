#include "stack_view.h"

#include <QHeaderView>
#include <QTableWidget>
#include <algorithm>

#include "change_marks.h"
#include "mem_image.h"
#include "stack_frames.h"
#include "view_grids.h"

namespace {

constexpr int kMinimumWords = 16;

void SetCell(QTableWidget* grid, int row, int column, const std::string& text,
             const QVariant& foreground = {}) {
  SetCell(grid, row, column, QString::fromStdString(text));
  grid->item(row, column)->setData(Qt::ForegroundRole, foreground);
}

}  // namespace

TStackView::TStackView(QTableWidget* grid, const TCPUState& cpu, const TMemImage& memory,
                       const TMemorySnapshot& before)
    : grid_(grid), cpu_(cpu), memory_(memory), before_(before) {
  grid_->setColumnCount(scColumnCount);
  grid_->setHorizontalHeaderLabels({"", "地址", "数据", "说明"});
  const int widths[scColumnCount] = {64, 90, 50, 160};
  for (int c = 0; c < scColumnCount; ++c) grid_->setColumnWidth(c, widths[c]);
  grid_->horizontalHeader()->setStretchLastSection(true);
  grid_->verticalHeader()->hide();
}

int TStackView::WordCount() const {
  const int rowHeight = std::max(1, grid_->verticalHeader()->defaultSectionSize());
  return std::max(kMinimumWords, grid_->viewport()->height() / rowHeight + 1);
}

void TStackView::Show(const TLineTable* lines) {
  static const TLineTable kNoLines;
  const std::vector<TStackWord> words =
      StackWords(cpu_, memory_, lines ? *lines : kNoLines, WordCount());
  grid_->setRowCount(int(words.size()));
  for (int row = 0; row < int(words.size()); ++row) {
    const TStackWord& word = words[size_t(row)];
    const TStackRowTexts texts = StackRowTexts(cpu_.SS, word);
    const bool changed = before_.Changed(memory_, TMemImage::Linear(cpu_.SS, word.offset), 2);
    SetCell(grid_, row, scMarker, texts.marker);
    SetCell(grid_, row, scAddress, texts.address);
    SetCell(grid_, row, scData, texts.data, ChangeForeground(changed));
    SetCell(grid_, row, scNote, texts.note);
    grid_->item(row, scNote)->setToolTip(QString::fromStdString(word.module));
  }
}
