#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QList>
#include <QVariant>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>
#include <initializer_list>
#include <vector>

namespace strata {

// A list for QML of rows with a fixed set of named roles. The owner builds the whole list again
// after each change and hands it to `update`, which compares it with what the views hold: an
// unchanged row emits nothing, a changed row emits dataChanged with the roles that changed, and
// rows are added or taken away at the end. Nothing is reset, so a change of position that leaves
// the rows as they were gives the QML engine nothing to re-read and nothing to collect.
// Main thread only.
class RowListModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the view models")
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    // One value per role, in the order the roles were given.
    using Row = QVariantList;

    RowListModel(std::initializer_list<const char*> roles, QObject* parent = nullptr);

    void update(std::vector<Row> rows);

    int count() const { return static_cast<int>(rows_.size()); }
    // A row as a map from role name to value (empty when out of range).
    Q_INVOKABLE QVariantMap get(int row) const;
    // One value of a row by its role name (invalid when either is unknown).
    QVariant value(int row, const QByteArray& role) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    void countChanged();

private:
    std::vector<QByteArray> roles_;
    std::vector<Row> rows_;
};

} // namespace strata
