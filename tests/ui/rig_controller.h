#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <memory>

namespace strata::testing {

class UiRig;

// A UiRig for QML tests: the view models to hand to the views, and the outside world (time, the
// DAW, Cadenzo, a controller, the preferences) to play against them.
class RigController : public QObject {
    Q_OBJECT

public:
    explicit RigController(QObject* parent = nullptr);
    ~RigController() override;

    UiRig& rig() { return *rig_; }

    // A new launch with fresh preferences, whose setlist file holds `storedFile` when it is a text.
    // Views made over the old models must be gone by then.
    Q_INVOKABLE void restart(const QVariant& storedFile = {});
    // The required properties of ContentView and Main.qml.
    Q_INVOKABLE QVariantMap models() const;

    Q_INVOKABLE void settle();
    Q_INVOKABLE void advance(int milliseconds);

    // What the DAW heard on the main surface, one array of bytes per packet.
    Q_INVOKABLE QVariantList heard() const;
    Q_INVOKABLE void clearHeard();

    Q_INVOKABLE void pressNote(const QString& device, int note);
    // A MIDI device plugged in that takes input (a synth).
    Q_INVOKABLE void plugDestination(const QString& name);
    Q_INVOKABLE void unplug(const QString& device);
    // A hand-fired Moment in the current section (see UiRig); no trigger when `device` is empty.
    Q_INVOKABLE void addHandFiredMoment(const QString& name, const QString& device = {},
                                        int note = 0);
    Q_INVOKABLE void stampTransmit();
    Q_INVOKABLE void setMidiAvailable(bool available);

    // The demo set, as if read at launch (nothing to undo).
    Q_INVOKABLE void loadDemoSet();
    // Fires a Moment that mutes the first layer.
    Q_INVOKABLE void fireMoment();
    // Every save of the set fails until unblocked.
    Q_INVOKABLE void blockSaving(bool blocked);
    Q_INVOKABLE void cueDatagram(const QString& json);

    Q_INVOKABLE void setSetting(const QString& key, const QVariant& value);
    // A stored Boolean, or undefined when absent or not a Boolean.
    Q_INVOKABLE QVariant boolSetting(const QString& key) const;
    // Whether a NEXT trigger is in the preferences (for the next launch).
    Q_INVOKABLE bool nextTriggerStored() const;

    // The value at a JSON pointer ("/layers/0/portName") of the set as the file would hold it;
    // undefined where the file would have no such key.
    Q_INVOKABLE QVariant stored(const QString& pointer) const;
    // Routes every layer's CC mute to `port` (the DAW listens on "Strata").
    Q_INVOKABLE void routeLayersTo(const QString& port);
    // A file in the rig's temporary folder, as a local file URL, and a file's text ("" if none).
    Q_INVOKABLE QUrl tempFileUrl(const QString& name) const;
    Q_INVOKABLE QString fileText(const QUrl& file) const;
    Q_INVOKABLE void setStoredTrackOffset(int offset);

private:
    std::unique_ptr<UiRig> rig_;
};

} // namespace strata::testing
