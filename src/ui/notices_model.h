#pragma once

#include "platform/signal.h"

#include <QObject>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>
#include <memory>
#include <vector>

namespace strata {

class AppState;
class LiveCoordinator;
struct DroppedSections;

// What went wrong, said where the performer looks: the notices under the toolbar (the setlist
// cannot be saved, the stored file was unreadable and kept aside, Cadenzo removed sections), the
// stage view's mark while saving fails, and the ALL ON state the grid and the stage show. A notice
// goes when it is dismissed or when what it reports is resolved (a save works again, the removed
// sections are back). Main thread only.
class NoticesModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    // Oldest first: {id, kind ("saveFailing", "keptAside", "sectionsDropped"), text, detail (the
    // technical account, for hover help), canUndo}.
    Q_PROPERTY(QVariantList notices READ notices NOTIFY noticesChanged)
    // Whether the set is not reaching the disk now, dismissed or not.
    Q_PROPERTY(bool saveFailing READ saveFailing NOTIFY saveFailingChanged)
    // "Changes are not being saved: …" while saving fails; empty otherwise.
    Q_PROPERTY(QString saveFailureText READ saveFailureText NOTIFY saveFailingChanged)
    // From ALL ON until the section's own mix is sent again.
    Q_PROPERTY(bool allOn READ allOn NOTIFY allOnChanged)

public:
    NoticesModel(AppState& state, LiveCoordinator& live, QObject* parent = nullptr);
    ~NoticesModel() override;

    QVariantList notices() const;
    bool saveFailing() const;
    QString saveFailureText() const;
    bool allOn() const;

    Q_INVOKABLE void dismiss(int id);
    // The notice's way back (removed sections: put them back), then the notice goes.
    Q_INVOKABLE void undo(int id);

Q_SIGNALS:
    void noticesChanged();
    void saveFailingChanged();
    void allOnChanged();

private:
    enum class Kind { saveFailing, keptAside, sectionsDropped };
    struct Notice {
        int id = 0;
        Kind kind = Kind::saveFailing;
        QString text;
        QString detail;
        std::shared_ptr<const DroppedSections> dropped;
        bool canUndo = false;
    };

    void add(Notice notice);
    void removeKind(Kind kind);
    void onSaveFailure();
    void onDropped(const DroppedSections& dropped);
    // Drops the notices of sections that are back in their song.
    void dropResolved();
    bool canRestore(const DroppedSections& dropped) const;

    AppState& state_;
    LiveCoordinator& live_;
    std::vector<Notice> notices_;
    int lastID_ = 0;
    ConnectionBag connections_;
};

} // namespace strata
