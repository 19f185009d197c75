#include "ui_models.h"

#include "cuelink/cadenzo_link.h"

#include <QFont>
#include <QGuiApplication>

namespace strata {

UiModels::UiModels(AppState& state, MIDIService& midiService, CadenzoLink& link, Settings& settings,
                   MainLoop& loop, CoordinatorHooks hooks, std::function<void()> onAppear)
    : appState(state), midi(midiService, state, loop), cue(link),
      live(state, midiService, std::move(hooks)), shell(settings, loop, std::move(onAppear)),
      guide(midiService) {}

QVariantMap UiModels::properties() {
    return {
        {"appState", QVariant::fromValue(&appState)},
        {"midi", QVariant::fromValue(&midi)},
        {"cue", QVariant::fromValue(&cue)},
        {"live", QVariant::fromValue(&live)},
        {"shell", QVariant::fromValue(&shell)},
        {"guide", QVariant::fromValue(&guide)},
        {"quickStart", QVariant::fromValue(&quickStart)},
    };
}

void installAppearance() {
    QFont font(QStringLiteral("League Spartan"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(14);
    QGuiApplication::setFont(font);
}

} // namespace strata
