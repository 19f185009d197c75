#pragma once

#include "platform/signal.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QHash>
#include <QString>
#include <vector>

namespace strata {

class AppState;

// The set's songs as list rows (roles "name", "sectionCount"), kept in step with AppState by
// inserting, removing, moving and updating rows rather than resetting: a song being renamed keeps
// its row (and the text field in it the keyboard) while the rest of the window follows each key.
// Main thread only.
class SongListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role { NameRole = Qt::UserRole + 1, SectionCountRole };

    explicit SongListModel(AppState& state, QObject* parent = nullptr);
    ~SongListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

private:
    struct Row;
    void sync();

    AppState& state_;
    std::vector<Row> rows_;
    ConnectionBag connections_;
};

} // namespace strata
