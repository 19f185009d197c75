#include "setlist_model.h"

#include "engine/app_state.h"

#include <algorithm>
#include <limits>
#include <string_view>

namespace strata {

SetlistModel::SetlistModel(AppState& state, QObject* parent)
    : QObject(parent), state_(state), songs_(state) {}

void SetlistModel::renameSet(const QString& name) {
    state_.renameSet(name.toStdString());
}

void SetlistModel::renameSong(int index, const QString& name) {
    state_.renameSong(index, name.toStdString());
}

void SetlistModel::selectSong(int index) {
    state_.selectSong(index);
}

void SetlistModel::addSong() {
    state_.addSong();
}

void SetlistModel::moveSongUp(int index) {
    // Insertion positions count before the removal: one up is before the song above.
    state_.moveSong(index, static_cast<std::int64_t>(index) - 1);
}

void SetlistModel::moveSongDown(int index) {
    // …and one down is before the song two below.
    state_.moveSong(index, static_cast<std::int64_t>(index) + 2);
}

void SetlistModel::deleteSong(int index) {
    state_.deleteSong(index);
}

bool SetlistModel::canImport(const QString& text) const {
    return !text.trimmed().isEmpty();
}

int SetlistModel::importSetlist(const QString& text, bool replace) {
    const QByteArray utf8 = text.toUtf8();
    const auto added =
        state_.importSetlist(std::string_view(utf8.constData(), utf8.size()), replace);
    return static_cast<int>(std::min<std::int64_t>(added, std::numeric_limits<int>::max()));
}

void SetlistModel::newSet() {
    state_.newSet();
}

} // namespace strata
