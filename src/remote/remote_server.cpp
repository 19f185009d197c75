#include "remote_server.h"

#include "remote/remote_hub.h"
#include "remote_worker.h"

#include <QThread>

namespace strata {

RemoteServer::RemoteServer(RemoteHub& hub, QHostAddress address)
    : hub_(hub), thread_(std::make_unique<QThread>()) {
    thread_->setObjectName(QStringLiteral("strata-remote"));
    worker_ = new RemoteWorker(hub_, std::move(address));
    worker_->moveToThread(thread_.get());
    thread_->start();
    hub_.setStateObserver([worker = worker_] {
        QMetaObject::invokeMethod(
            worker, [worker] { worker->stateChanged(); }, Qt::QueuedConnection);
    });
    connection_ = hub_.configChanged.connect([this] { applyConfig(); });
    applyConfig();
}

RemoteServer::~RemoteServer() {
    connection_.disconnect();
    hub_.setStateObserver({});
    // Everything the worker made is closed on its own thread, then the thread ends.
    QMetaObject::invokeMethod(
        worker_, [worker = worker_] { worker->stop(); }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    delete worker_;
}

void RemoteServer::applyConfig() {
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, config = hub_.config()] { worker->apply(config); },
        Qt::QueuedConnection);
}

quint16 RemoteServer::webPort() const {
    return worker_->webPort.load();
}

quint16 RemoteServer::oscPort() const {
    return worker_->oscPort.load();
}

} // namespace strata
