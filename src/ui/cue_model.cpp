#include "cue_model.h"

#include "cuelink/cadenzo_link.h"
#include "live/live_coordinator.h"
#include "midi/device_identity.h"
#include "midi/midi_service.h"

namespace strata {

CueModel::CueModel(CadenzoLink& link, LiveCoordinator* live, MidiService* midi, QObject* parent)
    : QObject(parent), link_(link), live_(live), midi_(midi), shown_(link.connection()) {
    if (live_) {
        shownClock_ = live_->usesClock();
        shownLink_ = live_->usesLink();
        shownDevice_ = live_->clockDeviceName();
        connections_ +=
            live_->clockReading.changed.connect([this](const LiveCoordinator::ClockReading&) {
                if (live_->usesClock() || live_->usesLink())
                    Q_EMIT connectionChanged();
            });
        connections_ += live_->timeSourceChanged.connect([this] { refreshSource(); });
    }
    if (midi_)
        connections_ += midi_->sources.changed.connect(
            [this](const std::vector<std::string>&) { Q_EMIT sourceChanged(); });
    // The link notifies on every write, also of an unchanged state (every heartbeat); only real
    // changes reach the view.
    connections_ += link_.connection.changed.connect([this](const ConnectionState& state) {
        if (state == shown_)
            return;
        shown_ = state;
        Q_EMIT connectionChanged();
    });
}

void CueModel::refreshSource() {
    const bool clock = live_->usesClock();
    const bool link = live_->usesLink();
    std::string device = live_->clockDeviceName();
    if (clock == shownClock_ && link == shownLink_ && device == shownDevice_)
        return;
    shownClock_ = clock;
    shownLink_ = link;
    shownDevice_ = std::move(device);
    Q_EMIT sourceChanged();
    Q_EMIT connectionChanged();
}

bool CueModel::clockSource() const {
    return live_ && live_->usesClock();
}

bool CueModel::linkSource() const {
    return live_ && live_->usesLink();
}

QString CueModel::clockDevice() const {
    if (!live_)
        return QString();
    // The stored device is shown as the source that answers to it now, when one is listed.
    const std::string stored = live_->clockDeviceName();
    const auto listed = midi_ && !stored.empty() ? midi_->sourceOfDevice(stored) : std::nullopt;
    return QString::fromStdString(listed.value_or(stored));
}

QStringList CueModel::clockDevices() const {
    QStringList out;
    if (midi_)
        for (const std::string& name : midi_->sources())
            // Strata's own surfaces send no clock.
            if (name != kMainSurfacePort && name != kExtenderPort)
                out.push_back(QString::fromStdString(name));
    return out;
}

void CueModel::setTimeSource(const QString& rawSource) {
    if (!live_)
        return;
    if (const auto source = timeSourceFromRaw(rawSource.toStdString()))
        live_->setTimeSource(*source);
}

void CueModel::setClockDevice(const QString& name) {
    if (live_)
        live_->setClockDevice(midi_ ? midi_->deviceOfSource(name.toStdString())
                                    : stableDeviceName(name.toStdString()));
}

bool CueModel::connected() const {
    if (clockSource() || linkSource())
        return live_->clockReading().heard;
    return link_.connection().isConnected();
}

QString CueModel::caption() const {
    if (linkSource()) {
        const LiveCoordinator::ClockReading reading = live_->clockReading();
        QString text = QStringLiteral("LINK \u00B7 ");
        if (!reading.heard)
            return text + QStringLiteral("OFFLINE");
        const std::int64_t peers = reading.peers.value_or(0);
        text += QString::number(peers) +
                (peers == 1 ? QStringLiteral(" peer") : QStringLiteral(" peers"));
        if (!reading.playing)
            text += QStringLiteral(" \u00B7 STOPPED");
        if (reading.bpm)
            text +=
                QStringLiteral(" \u00B7 ") + QString::number(*reading.bpm) + QStringLiteral(" BPM");
        return text;
    }
    if (clockSource()) {
        const LiveCoordinator::ClockReading reading = live_->clockReading();
        QString text = QStringLiteral("CLOCK \u00B7 ");
        if (!reading.heard)
            return text + QStringLiteral("OFFLINE");
        if (!reading.playing)
            text += QStringLiteral("STOPPED");
        if (reading.bpm) {
            if (!reading.playing)
                text += QStringLiteral(" \u00B7 ");
            text += QString::number(*reading.bpm) + QStringLiteral(" BPM");
        } else if (reading.playing) {
            text += QStringLiteral("PLAYING");
        }
        return text;
    }
    const auto& host = link_.connection().host();
    return QStringLiteral("CUE \u00B7 ") +
           (host ? QString::fromStdString(*host) : QStringLiteral("OFFLINE"));
}

} // namespace strata
