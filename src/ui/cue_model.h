#pragma once

#include "cuelink/connection_state.h"
#include "platform/signal.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace strata {

class CadenzoLink;

// The cue indicator: whether Cadenzo is heard, and from which host. Main thread only.
class CueModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    Q_PROPERTY(bool connected READ connected NOTIFY connectionChanged)
    // "CUE · <host>" while connected, "CUE · OFFLINE" otherwise.
    Q_PROPERTY(QString caption READ caption NOTIFY connectionChanged)

public:
    explicit CueModel(CadenzoLink& link, QObject* parent = nullptr);

    bool connected() const;
    QString caption() const;

Q_SIGNALS:
    void connectionChanged();

private:
    CadenzoLink& link_;
    ConnectionState shown_;
    ConnectionBag connections_;
};

} // namespace strata
