#pragma once

#include "cuelink/connection_state.h"
#include "platform/signal.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace strata {

class CadenzoLink;
class LiveCoordinator;
class MidiService;

// The cue indicator: where the set's musical time comes from and whether that source is heard —
// Cadenzo and its host, or the MIDI clock with its state and tempo — and the time-source choice of
// the DAW menu, or Ableton Link with its peers and tempo. Main thread only.
class CueModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    Q_PROPERTY(bool connected READ connected NOTIFY connectionChanged)
    // With Cadenzo: "CUE · <host>" while connected, "CUE · OFFLINE" otherwise. With MIDI clock:
    // "CLOCK · 124 BPM" while it plays, "CLOCK · STOPPED" (and the tempo, when known) while it is
    // heard but stopped, "CLOCK · OFFLINE" when nothing came for two seconds. With Link:
    // "LINK · 3 peers · 120 BPM" while the session plays ("1 peer"), "LINK · 3 peers · STOPPED ·
    // 120 BPM" while it does not, "LINK · OFFLINE" when there is no session to join.
    Q_PROPERTY(QString caption READ caption NOTIFY connectionChanged)
    Q_PROPERTY(bool clockSource READ clockSource NOTIFY sourceChanged)
    Q_PROPERTY(bool linkSource READ linkSource NOTIFY sourceChanged)
    // The clock's device as stored; empty when none is chosen.
    Q_PROPERTY(QString clockDevice READ clockDevice NOTIFY sourceChanged)
    // The MIDI sources the clock may come from.
    Q_PROPERTY(QStringList clockDevices READ clockDevices NOTIFY sourceChanged)

public:
    // Without a coordinator (and the MIDI service) the set's time source is always Cadenzo.
    explicit CueModel(CadenzoLink& link, LiveCoordinator* live = nullptr,
                      MidiService* midi = nullptr, QObject* parent = nullptr);

    bool connected() const;
    QString caption() const;
    bool clockSource() const;
    bool linkSource() const;
    QString clockDevice() const;
    QStringList clockDevices() const;

    // "cadenzo", "midiClock" or "link"; anything else is ignored.
    Q_INVOKABLE void setTimeSource(const QString& rawSource);
    // A source's name; the set's clock follows that device from now on.
    Q_INVOKABLE void setClockDevice(const QString& name);

Q_SIGNALS:
    void connectionChanged();
    void sourceChanged();

private:
    void refreshSource();

    CadenzoLink& link_;
    LiveCoordinator* live_;
    MidiService* midi_;
    bool shownClock_ = false;
    bool shownLink_ = false;
    std::string shownDevice_;
    ConnectionState shown_;
    ConnectionBag connections_;
};

} // namespace strata
