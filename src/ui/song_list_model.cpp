#include "song_list_model.h"

#include "engine/app_state.h"

#include <algorithm>

namespace strata {

// A song's row. Rows are matched to songs by id and, should a file hold the same id twice, by
// which occurrence of it they are.
struct SongListModel::Row {
    Uuid id;
    int occurrence = 0;
    QString name;
    int sectionCount = 0;

    bool sameSong(const Row& other) const {
        return id == other.id && occurrence == other.occurrence;
    }
};

SongListModel::SongListModel(AppState& state, QObject* parent)
    : QAbstractListModel(parent), state_(state) {
    sync();
    connections_ += state_.changed.connect([this] { sync(); });
}

SongListModel::~SongListModel() = default;

int SongListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant SongListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount())
        return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case NameRole:
        return row.name;
    case SectionCountRole:
        return row.sectionCount;
    default:
        return {};
    }
}

QHash<int, QByteArray> SongListModel::roleNames() const {
    return {{NameRole, "name"}, {SectionCountRole, "sectionCount"}};
}

void SongListModel::sync() {
    std::vector<Row> next;
    const auto& songs = state_.setlist().songs;
    next.reserve(songs.size());
    for (const Song& song : songs) {
        const int occurrence = static_cast<int>(
            std::count_if(next.begin(), next.end(), [&](const Row& r) { return r.id == song.id; }));
        next.push_back(Row{song.id, occurrence, QString::fromStdString(song.name),
                           static_cast<int>(song.sections.size())});
    }
    const auto contains = [](const std::vector<Row>& list, const Row& row) {
        return std::any_of(list.begin(), list.end(), [&](const Row& r) { return r.sameSong(row); });
    };

    // Rows of songs that are gone, from the bottom up so the indices above stay valid.
    for (int i = static_cast<int>(rows_.size()) - 1; i >= 0; --i) {
        if (contains(next, rows_[static_cast<std::size_t>(i)]))
            continue;
        beginRemoveRows(QModelIndex(), i, i);
        rows_.erase(rows_.begin() + i);
        endRemoveRows();
    }
    // Then top down: each position gets its song, moved up from below or newly inserted.
    for (std::size_t i = 0; i < next.size(); ++i) {
        const int at = static_cast<int>(i);
        if (i < rows_.size() && rows_[i].sameSong(next[i])) {
            const Row& row = rows_[i];
            if (row.name != next[i].name || row.sectionCount != next[i].sectionCount) {
                rows_[i] = next[i];
                Q_EMIT dataChanged(index(at), index(at), {NameRole, SectionCountRole});
            }
            continue;
        }
        const auto found = std::find_if(rows_.begin() + static_cast<std::ptrdiff_t>(i), rows_.end(),
                                        [&](const Row& r) { return r.sameSong(next[i]); });
        if (found != rows_.end()) {
            const int from = static_cast<int>(found - rows_.begin());
            beginMoveRows(QModelIndex(), from, from, QModelIndex(), at);
            Row moved = std::move(*found);
            rows_.erase(found);
            rows_.insert(rows_.begin() + at, std::move(moved));
            endMoveRows();
            if (rows_[i].name != next[i].name || rows_[i].sectionCount != next[i].sectionCount) {
                rows_[i] = next[i];
                Q_EMIT dataChanged(index(at), index(at), {NameRole, SectionCountRole});
            }
        } else {
            beginInsertRows(QModelIndex(), at, at);
            rows_.insert(rows_.begin() + at, next[i]);
            endInsertRows();
        }
    }
}

} // namespace strata
