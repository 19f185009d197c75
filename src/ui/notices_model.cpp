#include "notices_model.h"

#include "engine/app_state.h"
#include "live/live_coordinator.h"
#include "ui_text.h"

#include <QVariantMap>
#include <algorithm>

namespace strata {

namespace {

// Why a save fails, in the words of someone who has to do something about it.
QString saveReason(const SaveFailure& failure) {
    const std::error_code& code = failure.code;
    if (!code)
        return qtext(failure.detail);
    if (code == std::errc::no_space_on_device)
        return QStringLiteral("the disk is full");
    if (code == std::errc::read_only_file_system)
        return QStringLiteral("the disk is read-only");
    if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted)
        return QStringLiteral("Strata may not write to its folder");
    if (code == std::errc::not_a_directory || code == std::errc::no_such_file_or_directory)
        return QStringLiteral("its folder cannot be used");
    QString words = QString::fromStdString(code.message());
    if (!words.isEmpty())
        words[0] = words[0].toLower();
    return words;
}

QString quotedName(const std::string& name) {
    return QStringLiteral("\u201C") + qtext(name) + QStringLiteral("\u201D");
}

// "“A”", "“A” and “B”", "“A”, “B” and “C”".
QString nameList(const std::vector<Section>& sections) {
    QString out;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        if (i > 0)
            out += i + 1 == sections.size() ? QStringLiteral(" and ") : QStringLiteral(", ");
        out += quotedName(sections[i].name);
    }
    return out;
}

const Song* songWithID(const Setlist& set, const Uuid& id) {
    for (const Song& song : set.songs)
        if (song.id == id)
            return &song;
    return nullptr;
}

// How many of the dropped sections the song is missing; none when the song is gone.
std::optional<std::size_t> missingCount(const Setlist& set, const DroppedSections& dropped) {
    const Song* song = songWithID(set, dropped.songID);
    if (!song)
        return std::nullopt;
    std::size_t missing = 0;
    for (const Section& section : dropped.sections)
        if (std::none_of(song->sections.begin(), song->sections.end(),
                         [&](const Section& s) { return s.id == section.id; }))
            ++missing;
    return missing;
}

} // namespace

NoticesModel::NoticesModel(AppState& state, LiveCoordinator& live, QObject* parent)
    : QObject(parent), state_(state), live_(live) {
    if (const auto& problem = state_.loadProblem()) {
        Notice notice;
        notice.kind = Kind::keptAside;
        if (problem->keptAs) {
            notice.text = QStringLiteral("Your setlist file could not be read and was kept as ") +
                          qtext(problem->keptAs->filename().string()) + QStringLiteral(".");
            notice.detail =
                qtext(problem->keptAs->string()) + QStringLiteral(": ") + qtext(problem->reason);
        } else {
            notice.text = QStringLiteral("Your setlist file could not be read and could not be "
                                         "kept aside; Strata started with the default set.");
            notice.detail =
                qtext(problem->reason) + QStringLiteral("; ") + qtext(problem->keepError);
        }
        add(std::move(notice));
    }
    onSaveFailure();

    connections_ += state_.saveFailure.changed.connect(
        [this](const std::optional<SaveFailure>&) { onSaveFailure(); });
    connections_ += live_.sectionsDropped.connect(
        [this](const DroppedSections& dropped) { onDropped(dropped); });
    connections_ += state_.changed.connect([this] { dropResolved(); });
    connections_ += live_.allOn.changed.connect([this](bool) { Q_EMIT allOnChanged(); });
}

NoticesModel::~NoticesModel() = default;

QVariantList NoticesModel::notices() const {
    QVariantList list;
    for (const Notice& notice : notices_) {
        const char* kind = notice.kind == Kind::saveFailing ? "saveFailing"
                           : notice.kind == Kind::keptAside ? "keptAside"
                                                            : "sectionsDropped";
        list << QVariantMap{
            {"id", notice.id},         {"kind", QString::fromLatin1(kind)}, {"text", notice.text},
            {"detail", notice.detail}, {"canUndo", notice.canUndo},
        };
    }
    return list;
}

bool NoticesModel::saveFailing() const {
    return state_.saveFailure().has_value();
}

QString NoticesModel::saveFailureText() const {
    const auto& failure = state_.saveFailure();
    if (!failure)
        return {};
    return QStringLiteral("Changes are not being saved: ") + saveReason(*failure) +
           QStringLiteral(". Strata keeps retrying.");
}

bool NoticesModel::allOn() const {
    return live_.allOn();
}

void NoticesModel::dismiss(int id) {
    const auto erased = std::erase_if(notices_, [id](const Notice& n) { return n.id == id; });
    if (erased > 0)
        Q_EMIT noticesChanged();
}

void NoticesModel::undo(int id) {
    const auto it = std::find_if(notices_.begin(), notices_.end(),
                                 [id](const Notice& n) { return n.id == id; });
    if (it == notices_.end() || !it->dropped)
        return;
    // Held: restoring notifies, and the notice may be resolved (and erased) on the way.
    const std::shared_ptr<const DroppedSections> dropped = it->dropped;
    live_.restoreSections(*dropped);
    dismiss(id);
}

void NoticesModel::add(Notice notice) {
    notice.id = ++lastID_;
    notices_.push_back(std::move(notice));
    Q_EMIT noticesChanged();
}

void NoticesModel::removeKind(Kind kind) {
    if (std::erase_if(notices_, [kind](const Notice& n) { return n.kind == kind; }) > 0)
        Q_EMIT noticesChanged();
}

void NoticesModel::onSaveFailure() {
    if (!state_.saveFailure()) {
        // Resolved: the set is on the disk again.
        removeKind(Kind::saveFailing);
    } else {
        // A new episode: shown again even if the last one was dismissed.
        std::erase_if(notices_, [](const Notice& n) { return n.kind == Kind::saveFailing; });
        Notice notice;
        notice.kind = Kind::saveFailing;
        notice.text = saveFailureText();
        notice.detail = qtext(state_.saveFailure()->detail);
        add(std::move(notice));
    }
    Q_EMIT saveFailingChanged();
}

void NoticesModel::onDropped(const DroppedSections& dropped) {
    Notice notice;
    notice.kind = Kind::sectionsDropped;
    const bool one = dropped.sections.size() == 1;
    notice.text =
        QStringLiteral("Cadenzo removed ") +
        (one ? QStringLiteral("section ") : QStringLiteral("sections ")) +
        nameList(dropped.sections) + QStringLiteral(" from ") + quotedName(dropped.songName) +
        (one ? QStringLiteral(". Undo restores it.") : QStringLiteral(". Undo restores them."));
    notice.dropped = std::make_shared<const DroppedSections>(dropped);
    notice.canUndo = canRestore(dropped);
    add(std::move(notice));
}

void NoticesModel::dropResolved() {
    bool changed = false;
    const Setlist& set = state_.setlist();
    std::erase_if(notices_, [&](Notice& n) {
        if (!n.dropped)
            return false;
        const auto missing = missingCount(set, *n.dropped);
        if (missing == std::optional<std::size_t>(0)) {
            changed = true;
            return true;
        }
        // Once the song is gone there is nothing to put the sections back into.
        const bool canUndo = missing.has_value();
        changed = changed || canUndo != n.canUndo;
        n.canUndo = canUndo;
        return false;
    });
    if (changed)
        Q_EMIT noticesChanged();
}

bool NoticesModel::canRestore(const DroppedSections& dropped) const {
    const auto missing = missingCount(state_.setlist(), dropped);
    return missing && *missing > 0;
}

} // namespace strata
