#pragma once

#include "cuelink/cadenzo_link.h"
#include "engine/app_state.h"
#include "platform/signal.h"

#include <QObject>
#include <QString>
#include <QStringList>

namespace strata {

// The little the interim live view shows: where the performer is and which layers are muted.
// Everything is read from AppState when asked; one notification covers all of it. Main thread.
class LiveViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString setName READ setName NOTIFY changed)
    Q_PROPERTY(QString songName READ songName NOTIFY changed)
    Q_PROPERTY(QString sectionName READ sectionName NOTIFY changed)
    Q_PROPERTY(QString nextSectionName READ nextSectionName NOTIFY changed)
    // "STEP 2 / 3"; empty in Essentials or for a section with one step.
    Q_PROPERTY(QString stepLabel READ stepLabel NOTIFY changed)
    // Names of the driven layers that are muted now, in stored order.
    Q_PROPERTY(QStringList mutedLayers READ mutedLayers NOTIFY changed)
    Q_PROPERTY(QStringList layers READ layers NOTIFY changed)
    Q_PROPERTY(bool stageMode READ stageMode NOTIFY changed)
    Q_PROPERTY(bool pro READ pro NOTIFY changed)
    Q_PROPERTY(bool momentActive READ momentActive NOTIFY changed)
    // "CUE · host" or "CUE · OFFLINE".
    Q_PROPERTY(QString cueLabel READ cueLabel NOTIFY changed)

public:
    LiveViewModel(AppState& app, CadenzoLink& link, QObject* parent = nullptr);

    QString setName() const;
    QString songName() const;
    QString sectionName() const;
    QString nextSectionName() const;
    QString stepLabel() const;
    QStringList mutedLayers() const;
    QStringList layers() const;
    bool stageMode() const { return app_.stageMode(); }
    bool pro() const { return app_.mode() == StrataMode::pro; }
    bool momentActive() const { return app_.activeMomentMutedIDs().has_value(); }
    QString cueLabel() const;

Q_SIGNALS:
    void changed();

private:
    AppState& app_;
    CadenzoLink& link_;
    ConnectionBag connections_;
};

} // namespace strata
