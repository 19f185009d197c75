#include "live_view_model.h"

namespace strata {
namespace {
QString text(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

LiveViewModel::LiveViewModel(AppState& app, CadenzoLink& link, QObject* parent)
    : QObject(parent), app_(app), link_(link) {
    connections_ += app_.changed.connect([this] { Q_EMIT changed(); });
    connections_ +=
        link_.connection.changed.connect([this](const ConnectionState&) { Q_EMIT changed(); });
}

QString LiveViewModel::setName() const {
    return text(app_.setlist().name);
}

QString LiveViewModel::songName() const {
    const Song* song = app_.currentSong();
    return song ? text(song->name) : QString();
}

QString LiveViewModel::sectionName() const {
    const Section* section = app_.currentSection();
    return section ? text(section->name) : QString();
}

QString LiveViewModel::nextSectionName() const {
    const Section* next = app_.nextSection();
    return next ? text(next->name) : QStringLiteral("\u2014 END");
}

QString LiveViewModel::stepLabel() const {
    const Section* section = app_.currentSection();
    if (!pro() || !section || section->steps.size() < 2)
        return {};
    const SectionStep* step = app_.currentStep();
    const auto index = step ? step - section->steps.data() : 0;
    return QStringLiteral("STEP %1 / %2").arg(index + 1).arg(section->steps.size());
}

QStringList LiveViewModel::mutedLayers() const {
    QStringList out;
    const UuidSet& muted = app_.activeMutedIDs();
    for (const Layer& layer : app_.visibleLayers())
        if (muted.contains(layer.id))
            out << text(layer.name);
    return out;
}

QStringList LiveViewModel::layers() const {
    QStringList out;
    for (const Layer& layer : app_.visibleLayers())
        out << text(layer.name);
    return out;
}

QString LiveViewModel::cueLabel() const {
    const auto& host = link_.connection().host();
    return host ? QStringLiteral("CUE \u00B7 ") + text(*host)
                : QStringLiteral("CUE \u00B7 OFFLINE");
}

} // namespace strata
