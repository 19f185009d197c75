#pragma once

#include "song_list_model.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace strata {

class AppState;

// The setlist pane's and the import dialog's operations on the set: its name, its songs in order
// and the commands on them. Every edit goes through AppState (and so into the autosave and the undo
// history). The current song and the counts are AppStateModel's. Main thread only.
class SetlistModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    // Rows with the roles "name" and "sectionCount", in set order.
    Q_PROPERTY(QAbstractItemModel* songs READ songs CONSTANT)

public:
    explicit SetlistModel(AppState& state, QObject* parent = nullptr);

    QAbstractItemModel* songs() { return &songs_; }

    Q_INVOKABLE void renameSet(const QString& name);
    Q_INVOKABLE void renameSong(int index, const QString& name);
    // The song becomes current, at its first section.
    Q_INVOKABLE void selectSong(int index);
    Q_INVOKABLE void addSong();
    // One place up or down; the current song stays current wherever it ends up.
    Q_INVOKABLE void moveSongUp(int index);
    Q_INVOKABLE void moveSongDown(int index);
    Q_INVOKABLE void deleteSong(int index);

    // Whether IMPORT may be pressed: the text holds more than blanks and line breaks.
    Q_INVOKABLE bool canImport(const QString& text) const;
    // The number of songs built from the text (0: nothing found, nothing changed).
    Q_INVOKABLE int importSetlist(const QString& text, bool replace);
    Q_INVOKABLE void newSet();

private:
    AppState& state_;
    SongListModel songs_;
};

} // namespace strata
