#include "shell_model.h"

#include <QPointer>

namespace strata {

ShellModel::ShellModel(Settings& settings, MainLoop& loop, std::function<void()> onAppear,
                       QObject* parent)
    : QObject(parent), settings_(settings), loop_(loop), onAppear_(std::move(onAppear)) {}

bool ShellModel::chooserAtStartup() const {
    return settings_.boolValue(kChooserAtStartupKey).value_or(true);
}

void ShellModel::setChooserAtStartup(bool on) {
    const bool before = chooserAtStartup();
    settings_.setBool(kChooserAtStartupKey, on);
    if (before != on)
        Q_EMIT chooserAtStartupChanged();
}

void ShellModel::setShowSetup(bool on) {
    if (showSetup_ == on)
        return;
    showSetup_ = on;
    Q_EMIT showSetupChanged();
}

void ShellModel::setShowModeChooser(bool on) {
    if (showModeChooser_ == on)
        return;
    showModeChooser_ = on;
    if (!on)
        chooserLeadsToSetup_ = false;
    Q_EMIT showModeChooserChanged();
}

void ShellModel::setShowQuickStart(bool on) {
    if (showQuickStart_ == on)
        return;
    showQuickStart_ = on;
    Q_EMIT showQuickStartChanged();
}

void ShellModel::mainViewAppeared() {
    if (appeared_)
        return;
    appeared_ = true;
    if (onAppear_)
        onAppear_();

    if (chooserAtStartup()) {
        setShowModeChooser(true);
        chooserLeadsToSetup_ = true;
        return;
    }
    if (settings_.boolValue(kSeenQuickStartKey).value_or(false))
        return;
    settings_.setBool(kSeenQuickStartKey, true);
    quickStartTimer_ = loop_.after(kQuickStartDelay, [this] {
        quickStartTimer_.reset();
        setShowQuickStart(true);
    });
}

void ShellModel::continueFromChooser() {
    if (chooserLeadsToSetup_) {
        QPointer<ShellModel> self(this);
        loop_.post([self] {
            if (self)
                self->setShowSetup(true);
        });
    }
    setShowModeChooser(false);
}

} // namespace strata
