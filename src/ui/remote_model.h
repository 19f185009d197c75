#pragma once

#include "platform/signal.h"

#include <QObject>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

namespace strata {

class RemoteHub;

// The "Band Remote" sheet: the web page and OSC on or off and their ports, the viewer link with
// its QR code, the pairing code, the pairings (each can be revoked) and the OSC senders allowed.
// Without a hub (tests of other views) everything reads as off and nothing changes. Main thread.
class RemoteModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the application")

    Q_PROPERTY(bool available READ available CONSTANT)
    Q_PROPERTY(bool webEnabled READ webEnabled WRITE setWebEnabled NOTIFY changed)
    Q_PROPERTY(int webPort READ webPort WRITE setWebPort NOTIFY changed)
    Q_PROPERTY(bool oscEnabled READ oscEnabled WRITE setOscEnabled NOTIFY changed)
    Q_PROPERTY(int oscPort READ oscPort WRITE setOscPort NOTIFY changed)
    // Addresses, separated by commas or spaces.
    Q_PROPERTY(QString oscAllowed READ oscAllowed WRITE setOscAllowed NOTIFY changed)
    Q_PROPERTY(QString viewerLink READ viewerLink NOTIFY changed)
    Q_PROPERTY(QString pairingCode READ pairingCode NOTIFY changed)
    // {id, device} per pairing.
    Q_PROPERTY(QVariantList pairings READ pairings NOTIFY changed)
    // The viewer link's QR code: qrSize × qrSize modules, row by row, true for dark.
    Q_PROPERTY(int qrSize READ qrSize NOTIFY changed)
    Q_PROPERTY(QVariantList qrModules READ qrModules NOTIFY changed)

public:
    explicit RemoteModel(RemoteHub* hub, QObject* parent = nullptr);

    bool available() const { return hub_ != nullptr; }
    bool webEnabled() const;
    int webPort() const;
    bool oscEnabled() const;
    int oscPort() const;
    QString oscAllowed() const;
    QString viewerLink() const;
    QString pairingCode() const;
    QVariantList pairings() const;
    int qrSize() const { return qrSize_; }
    QVariantList qrModules() const { return qrModules_; }

    void setWebEnabled(bool on);
    void setWebPort(int port);
    void setOscEnabled(bool on);
    void setOscPort(int port);
    void setOscAllowed(const QString& text);

    Q_INVOKABLE void revoke(const QString& id);
    // A new link: the old one stops working for everyone.
    Q_INVOKABLE void renewLink();

    // The address phones reach this computer at: its first IPv4 address off the loopback
    // interface, else loopback.
    static QString hostAddress();

Q_SIGNALS:
    void changed();

private:
    void rebuildQr();

    RemoteHub* hub_;
    int qrSize_ = 0;
    QVariantList qrModules_;
    QString qrText_;
    ConnectionBag connections_;
};

} // namespace strata
