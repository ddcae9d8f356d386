// CReportView: a report-style list view with grid lines and full-row
// selection whose columns keep fixed fractions of its client width. No
// column is narrower than its header text: a column whose fraction would
// cut its header gets the header's width, and the other columns share what
// is left in their proportions.
#pragma once

#include <QStringList>
#include <QTableWidget>

#include <vector>

namespace morvane {

class CReportView : public QTableWidget {
    Q_OBJECT

  public:
    struct Column {
        QString title;
        double fraction;  // of the client width, truncated to whole pixels
    };

    explicit CReportView(std::vector<Column> columns, QWidget* parent = nullptr);

    // The first selected row, or -1.
    int FirstSelectedRow() const;
    // Empties the view and shows one row per entry.
    void SetRows(const std::vector<QStringList>& rows);
    // Overwrites the cells of row (which must exist).
    void SetRowTexts(int row, const QStringList& texts);
    // The cell text, or an empty text for a cell that does not exist.
    QString CellText(int row, int column) const;
    // The narrowest width of a column: its header shown whole.
    int MinimumColumnWidth(int column) const;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void ApplyColumnWidths();

    std::vector<Column> columns_;
};

}  // namespace morvane
