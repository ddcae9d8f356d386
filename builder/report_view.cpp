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

void CReportView::ApplyColumnWidths() {
    const int width = viewport()->width();
    for (size_t c = 0; c < columns_.size(); ++c)
        setColumnWidth(static_cast<int>(c), static_cast<int>(width * columns_[c].fraction));
}

}  // namespace morvane
