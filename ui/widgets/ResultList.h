// The list of results a timing or power window shows: one row a run or
// pull, filled afresh whenever what it lists changes.
#pragma once

#include <QStringList>
#include <QTableWidget>

#include <vector>

// Fills the list with one row of cells per result. A recording's results
// are read from the top; live ones, from the newest at the bottom.
inline void FillResultList(QTableWidget& list, const std::vector<QStringList>& rows, bool fromTop) {
  list.clearSelection();
  list.setRowCount(static_cast<int>(rows.size()));
  for (size_t r = 0; r < rows.size(); ++r)
    for (int c = 0; c < rows[r].size(); ++c)
      list.setItem(static_cast<int>(r), c, new QTableWidgetItem(rows[r][c]));
  if (fromTop) {
    list.scrollToTop();
  } else if (!rows.empty()) {
    list.scrollToBottom();
  }
}

// The row chosen in the list, when it stands for one of count results;
// -1 otherwise.
inline int ChosenRow(const QTableWidget& list, size_t count) {
  const QList<QTableWidgetItem*> chosen = list.selectedItems();
  if (chosen.isEmpty()) return -1;
  const int row = chosen.front()->row();
  return row >= 0 && static_cast<size_t>(row) < count ? row : -1;
}
