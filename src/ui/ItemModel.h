#pragma once
#include "assets/AssetsTypes.h"
#include "common/Localization.h"

#include <QAbstractTableModel>
#include <QString>

#include <vector>

namespace kestrel::ui {

// The item list: holds only a row count and answers each row on demand from the list-row
// records, so that any number of rows appears at once.
class ItemModel : public QAbstractTableModel {
public:
    ItemModel(const std::vector<TColumns_ListView>& rows, const InterfaceTexts& texts,
              QObject* parent = nullptr);

    void SetRowCount(size_t count);
    size_t RowCount() const { return count_; }
    // Tells the view that every row's text may have changed (after a sort or an import).
    void RowsRewritten();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The text of one cell: number, name, type ID with its text, size, offset in hexadecimal.
    static QString CellText(const TColumns_ListView& row, int column);

private:
    const std::vector<TColumns_ListView>& rows_;
    const InterfaceTexts& texts_;
    size_t count_ = 0;
};

} // namespace kestrel::ui
