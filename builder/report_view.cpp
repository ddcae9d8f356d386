#include "builder/report_view.h"

#include <QHeaderView>
#include <QResizeEvent>

namespace morvane {

CReportView::CReportView(std::vector<Column> columns, QWidget* parent)
    : QTableWidget(parent), columns_(std::move(columns)) {
    setColumnCount(static_cast<int>(columns_.size()));
    QStringList titles;
    for (const Column& c : columns_) titles << c.title;
    setHorizontalHeaderLabels(titles);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setHighlightSections(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ApplyColumnWidths();
}

int CReportView::FirstSelectedRow() const {
    int first = -1;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        if (first < 0 || index.row() < first) first = index.row();
    return first;
}

void CReportView::SetRows(const std::vector<QStringList>& rows) {
    clearContents();
    setRowCount(static_cast<int>(rows.size()));
    for (size_t r = 0; r < rows.size(); ++r) SetRowTexts(static_cast<int>(r), rows[r]);
}

void CReportView::SetRowTexts(int row, const QStringList& texts) {
    for (int c = 0; c < columnCount(); ++c) {
        QString text = c < texts.size() ? texts[c] : QString();
        if (QTableWidgetItem* cell = item(row, c)) {
            cell->setText(text);
        } else {
            setItem(row, c, new QTableWidgetItem(text));
        }
    }
}

QString CReportView::CellText(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text() : QString();
}

void CReportView::resizeEvent(QResizeEvent* event) {
    QTableWidget::resizeEvent(event);
    ApplyColumnWidths();
}

int CReportView::MinimumColumnWidth(int column) const {
    return horizontalHeader()->sectionSizeHint(column);
}

void CReportView::ApplyColumnWidths() {
    const size_t n = columns_.size();
    std::vector<bool> atMinimum(n, false);
    // Each round fixes the columns whose share would cut their header; the
    // rest share what is left until no share cuts a header.
    std::vector<int> widths(n, 0);
    for (bool changed = true; changed;) {
        changed = false;
        double room = viewport()->width();
        double fractions = 0;
        for (size_t c = 0; c < n; ++c) {
            if (atMinimum[c]) {
                room -= MinimumColumnWidth(static_cast<int>(c));
            } else {
                fractions += columns_[c].fraction;
            }
        }
        for (size_t c = 0; c < n; ++c) {
            const int minimum = MinimumColumnWidth(static_cast<int>(c));
            if (atMinimum[c]) {
                widths[c] = minimum;
                continue;
            }
            widths[c] = fractions > 0 && room > 0
                            ? static_cast<int>(room * columns_[c].fraction / fractions)
                            : 0;
            if (widths[c] < minimum) {
                atMinimum[c] = true;
                changed = true;
            }
        }
    }
    for (size_t c = 0; c < n; ++c) setColumnWidth(static_cast<int>(c), widths[c]);
}

}  // namespace morvane
