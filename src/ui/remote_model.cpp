#include "remote_model.h"

#include "remote/remote_hub.h"

#include <QNetworkInterface>
#include <QRegularExpression>
#include <qrencode.h>

namespace strata {

RemoteModel::RemoteModel(RemoteHub* hub, QObject* parent) : QObject(parent), hub_(hub) {
    if (!hub_)
        return;
    connections_ += hub_->configChanged.connect([this] {
        rebuildQr();
        Q_EMIT changed();
    });
    rebuildQr();
}

bool RemoteModel::webEnabled() const {
    return hub_ && hub_->config().webEnabled;
}
int RemoteModel::webPort() const {
    return hub_ ? hub_->config().webPort : RemoteConfig::kDefaultWebPort;
}
bool RemoteModel::oscEnabled() const {
    return hub_ && hub_->config().oscEnabled;
}
int RemoteModel::oscPort() const {
    return hub_ ? hub_->config().oscPort : RemoteConfig::kDefaultOscPort;
}

QString RemoteModel::oscAllowed() const {
    QStringList list;
    if (hub_)
        for (const std::string& address : hub_->config().oscAllowed)
            list << QString::fromStdString(address);
    return list.join(QStringLiteral(", "));
}

QString RemoteModel::viewerLink() const {
    if (!hub_)
        return {};
    return QStringLiteral("http://%1:%2/?t=%3")
        .arg(hostAddress())
        .arg(hub_->config().webPort)
        .arg(QString::fromStdString(hub_->viewerToken()));
}

QString RemoteModel::pairingCode() const {
    return hub_ ? QString::fromStdString(hub_->pairingCode()) : QString();
}

QVariantList RemoteModel::pairings() const {
    QVariantList list;
    if (hub_)
        for (const RemotePairing& p : hub_->pairings())
            list.append(QVariantMap{{"id", QString::fromStdString(p.id)},
                                    {"device", QString::fromStdString(p.device)}});
    return list;
}

namespace {
template <typename Edit>
void edit(RemoteHub* hub, Edit change) {
    if (!hub)
        return;
    RemoteConfig config = hub->config();
    change(config);
    hub->setConfig(std::move(config));
}
// Ports below 1024 need privileges a musician's computer does not grant.
int usablePort(int port) {
    return std::clamp(port, 1024, 65535);
}
} // namespace

void RemoteModel::setWebEnabled(bool on) {
    edit(hub_, [on](RemoteConfig& c) { c.webEnabled = on; });
}
void RemoteModel::setWebPort(int port) {
    edit(hub_, [port](RemoteConfig& c) { c.webPort = usablePort(port); });
}
void RemoteModel::setOscEnabled(bool on) {
    edit(hub_, [on](RemoteConfig& c) { c.oscEnabled = on; });
}
void RemoteModel::setOscPort(int port) {
    edit(hub_, [port](RemoteConfig& c) { c.oscPort = usablePort(port); });
}

void RemoteModel::setOscAllowed(const QString& text) {
    std::vector<std::string> addresses;
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    for (const QString& part : text.split(separators, Qt::SkipEmptyParts)) {
        // Only addresses: a host name would need a lookup the stage network may not answer.
        QHostAddress address;
        if (address.setAddress(part))
            addresses.push_back(address.toString().toStdString());
    }
    edit(hub_, [&](RemoteConfig& c) { c.oscAllowed = addresses; });
}

void RemoteModel::revoke(const QString& id) {
    if (hub_)
        hub_->revoke(id.toStdString());
}

void RemoteModel::renewLink() {
    if (hub_)
        hub_->renewViewerToken();
}

QString RemoteModel::hostAddress() {
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries())
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                return entry.ip().toString();
    }
    return QStringLiteral("127.0.0.1");
}

void RemoteModel::rebuildQr() {
    const QString text = viewerLink();
    if (text == qrText_)
        return;
    qrText_ = text;
    qrModules_.clear();
    qrSize_ = 0;
    QRcode* code = QRcode_encodeString(text.toUtf8().constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (!code)
        return;
    qrSize_ = code->width;
    qrModules_.reserve(code->width * code->width);
    for (int i = 0; i < code->width * code->width; ++i)
        qrModules_.append((code->data[i] & 1) != 0); // bit 0: a dark module
    QRcode_free(code);
}

} // namespace strata
