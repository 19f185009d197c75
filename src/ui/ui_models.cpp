#include "ui_models.h"

#include "cuelink/cadenzo_link.h"

#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>

namespace strata {

UiModels::UiModels(AppState& state, MidiService& midiService, CadenzoLink& link,
                   LiveCoordinator& coordinator, MainLoop& loop, RemoteHub* remoteHub)
    : appState(state), midi(midiService, coordinator, loop), cue(link, &coordinator, &midiService),
      live(state, coordinator), shell(coordinator), guide(midiService), setlist(state),
      grid(state, midiService, coordinator), layerEditor(state, midiService),
      notices(state, coordinator), liveMoments(state, midiService, coordinator), remote(remoteHub) {
}

QVariantMap UiModels::properties() {
    return {
        {"appState", QVariant::fromValue(&appState)},
        {"midi", QVariant::fromValue(&midi)},
        {"cue", QVariant::fromValue(&cue)},
        {"live", QVariant::fromValue(&live)},
        {"shell", QVariant::fromValue(&shell)},
        {"guide", QVariant::fromValue(&guide)},
        {"quickStart", QVariant::fromValue(&quickStart)},
        {"setlist", QVariant::fromValue(&setlist)},
        {"grid", QVariant::fromValue(&grid)},
        {"layerEditor", QVariant::fromValue(&layerEditor)},
        {"notices", QVariant::fromValue(&notices)},
        {"liveMoments", QVariant::fromValue(&liveMoments)},
        {"remote", QVariant::fromValue(&remote)},
    };
}

void installAppearance() {
    const QString family = QStringLiteral("League Spartan");
    if (!QFontDatabase::families().contains(family))
        return;
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(14);
    QGuiApplication::setFont(font);
}

} // namespace strata
