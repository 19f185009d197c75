#include "row_list_model.h"

#include <algorithm>

namespace strata {

RowListModel::RowListModel(std::initializer_list<const char*> roles, QObject* parent)
    : QAbstractListModel(parent) {
    for (const char* role : roles)
        roles_.emplace_back(role);
}

void RowListModel::update(std::vector<Row> rows) {
    const std::size_t columns = roles_.size();
    for (Row& row : rows)
        row.resize(static_cast<qsizetype>(columns));

    const std::size_t kept = std::min(rows_.size(), rows.size());
    for (std::size_t i = 0; i < kept; ++i) {
        QList<int> changed;
        for (std::size_t c = 0; c < columns; ++c) {
            const auto at = static_cast<qsizetype>(c);
            if (rows_[i][at] != rows[i][at]) {
                rows_[i][at] = std::move(rows[i][at]);
                changed << Qt::UserRole + 1 + static_cast<int>(c);
            }
        }
        if (!changed.isEmpty()) {
            const QModelIndex at = index(static_cast<int>(i));
            Q_EMIT dataChanged(at, at, changed);
        }
    }
    if (rows.size() > rows_.size()) {
        beginInsertRows(QModelIndex(), static_cast<int>(rows_.size()),
                        static_cast<int>(rows.size()) - 1);
        rows_.insert(rows_.end(),
                     std::make_move_iterator(rows.begin() + static_cast<std::ptrdiff_t>(kept)),
                     std::make_move_iterator(rows.end()));
        endInsertRows();
        Q_EMIT countChanged();
    } else if (rows.size() < rows_.size()) {
        beginRemoveRows(QModelIndex(), static_cast<int>(rows.size()),
                        static_cast<int>(rows_.size()) - 1);
        rows_.resize(rows.size());
        endRemoveRows();
        Q_EMIT countChanged();
    }
}

QVariantMap RowListModel::get(int row) const {
    QVariantMap map;
    if (row < 0 || row >= count())
        return map;
    for (std::size_t c = 0; c < roles_.size(); ++c)
        map.insert(QString::fromLatin1(roles_[c]),
                   rows_[static_cast<std::size_t>(row)][static_cast<qsizetype>(c)]);
    return map;
}

QVariant RowListModel::value(int row, const QByteArray& role) const {
    const auto found = std::find(roles_.begin(), roles_.end(), role);
    if (row < 0 || row >= count() || found == roles_.end())
        return {};
    return rows_[static_cast<std::size_t>(row)][found - roles_.begin()];
}

int RowListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant RowListModel::data(const QModelIndex& index, int role) const {
    const int column = role - (Qt::UserRole + 1);
    if (!index.isValid() || index.row() < 0 || index.row() >= count() || column < 0 ||
        column >= static_cast<int>(roles_.size()))
        return {};
    return rows_[static_cast<std::size_t>(index.row())][column];
}

QHash<int, QByteArray> RowListModel::roleNames() const {
    QHash<int, QByteArray> names;
    for (std::size_t c = 0; c < roles_.size(); ++c)
        names.insert(Qt::UserRole + 1 + static_cast<int>(c), roles_[c]);
    return names;
}

} // namespace strata
