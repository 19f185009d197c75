#pragma once

#include "setup_guide_content.h"

#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

namespace strata {

class MidiService;

// The MIDI setup guide's view state: which host and mode the instructions are for. The steps are
// built anew on every change, with the port names the running MIDI system shows the DAW. Choosing
// changes no setting. Main thread only.
class SetupGuideModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    Q_PROPERTY(QStringList hostLabels READ hostLabels CONSTANT)
    Q_PROPERTY(QStringList modeLabels READ modeLabels CONSTANT)
    // Index into hostLabels / modeLabels.
    Q_PROPERTY(int host READ host WRITE setHost NOTIFY choiceChanged)
    Q_PROPERTY(int mode READ mode WRITE setMode NOTIFY choiceChanged)
    Q_PROPERTY(QString hostLabel READ hostLabel NOTIFY choiceChanged)
    Q_PROPERTY(QString modeLabel READ modeLabel NOTIFY choiceChanged)
    Q_PROPERTY(QString modeDescription READ modeDescription NOTIFY choiceChanged)
    // {number, title, detail} per step, numbered from 1.
    Q_PROPERTY(QVariantList steps READ steps NOTIFY choiceChanged)
    Q_PROPERTY(QString closingLine READ closingLine NOTIFY choiceChanged)
    // How to make the host send MIDI clock (titles and details, unnumbered).
    Q_PROPERTY(QVariantList clockSteps READ clockSteps NOTIFY choiceChanged)
    // How to share time over Ableton Link (the same for every host).
    Q_PROPERTY(QVariantList linkSteps READ linkSteps CONSTANT)

public:
    explicit SetupGuideModel(MidiService& midi, QObject* parent = nullptr);

    QStringList hostLabels() const;
    QStringList modeLabels() const;
    int host() const { return static_cast<int>(host_); }
    int mode() const { return static_cast<int>(mode_); }
    void setHost(int index);
    void setMode(int index);
    QString hostLabel() const;
    QString modeLabel() const;
    QString modeDescription() const;
    QVariantList steps() const;
    QString closingLine() const;
    QVariantList clockSteps() const;
    QVariantList linkSteps() const;

    // Back to Logic Pro / CC Mute, as every opening starts.
    Q_INVOKABLE void reset();

    // The MIDI system is PipeWire's JACK (set once at start): the steps end with where the ports
    // appear there.
    void setPipeWire(bool pipeWire) { pipeWire_ = pipeWire; }

Q_SIGNALS:
    void choiceChanged();

private:
    MidiService& midi_;
    HostChoice host_ = HostChoice::logic;
    ModeChoice mode_ = ModeChoice::ccMute;
    bool pipeWire_ = false;
};

// The quick start's cards, for the sheet. The page being shown is the sheet's own state.
class QuickStartModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    // {icon, title, body} per card.
    Q_PROPERTY(QVariantList cards READ cards CONSTANT)

public:
    explicit QuickStartModel(QObject* parent = nullptr) : QObject(parent) {}
    QVariantList cards() const;
};

} // namespace strata
