#include "ui/ItemModel.h"

namespace kestrel::ui {

ItemModel::ItemModel(const std::vector<TColumns_ListView>& rows, const InterfaceTexts& texts,
                     QObject* parent)
    : QAbstractTableModel(parent), rows_(rows), texts_(texts) {}

void ItemModel::SetRowCount(size_t count) {
    beginResetModel();
    count_ = count;
    endResetModel();
}

void ItemModel::RowsRewritten() {
    if (count_ == 0) return;
    emit dataChanged(index(0, 0), index(static_cast<int>(count_) - 1, columnCount() - 1),
                     {Qt::DisplayRole});
}

int ItemModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(count_);
}

int ItemModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 5;
}

QString ItemModel::CellText(const TColumns_ListView& row, int column) {
    switch (column) {
    case 0:
        return QString::number(row.number);
    case 1:
        return QString::fromStdString(row.name);
    case 2:
        return QString::number(row.typeId) + QString::fromStdString(row.typeText);
    case 3:
        return QString::number(row.size);
    case 4:
        return QStringLiteral("0x") +
               QStringLiteral("%1").arg(row.offset, 8, 16, QLatin1Char('0')).toUpper();
    default:
        return {};
    }
}

QVariant ItemModel::data(const QModelIndex& index, int role) const {
    const auto row = static_cast<size_t>(index.row());
    // Rows beyond the records (while an archive is being opened) show nothing.
    if (!index.isValid() || row >= count_ || row >= rows_.size()) return {};
    // The tooltip repeats the text, for names and types wider than their column.
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return CellText(rows_[row], index.column());
    if (role == Qt::TextAlignmentRole && (index.column() == 0 || index.column() >= 3))
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant ItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    const std::string* captions[] = {&texts_.ColNumber, &texts_.ColName, &texts_.ColType,
                                     &texts_.ColSize, &texts_.ColOffset};
    if (section < 0 || section >= 5) return {};
    return QString::fromStdString(*captions[section]);
}

} // namespace kestrel::ui
