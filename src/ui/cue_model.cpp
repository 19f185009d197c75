#include "cue_model.h"

#include "cuelink/cadenzo_link.h"

namespace strata {

CueModel::CueModel(CadenzoLink& link, QObject* parent)
    : QObject(parent), link_(link), shown_(link.connection()) {
    // The link notifies on every write, also of an unchanged state (every heartbeat); only real
    // changes reach the view.
    connections_ += link_.connection.changed.connect([this](const ConnectionState& state) {
        if (state == shown_)
            return;
        shown_ = state;
        Q_EMIT connectionChanged();
    });
}

bool CueModel::connected() const {
    return link_.connection().isConnected();
}

QString CueModel::caption() const {
    const auto& host = link_.connection().host();
    return QStringLiteral("CUE \u00B7 ") +
           (host ? QString::fromStdString(*host) : QStringLiteral("OFFLINE"));
}

} // namespace strata
