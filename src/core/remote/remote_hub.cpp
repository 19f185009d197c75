#include "remote/remote_hub.h"

#include "cuelink/cadenzo_link.h"
#include "engine/app_state.h"
#include "live/live_coordinator.h"
#include "midi/midi_service.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <random>

namespace strata {

bool sameSecret(std::string_view a, std::string_view b) {
    // Every byte of the longer text is looked at, whatever the outcome.
    const std::size_t n = std::max(a.size(), b.size());
    unsigned difference = a.size() == b.size() ? 0U : 1U;
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
        const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
        difference |= static_cast<unsigned>(x ^ y);
    }
    return difference == 0 && n > 0;
}

namespace {

int portOr(const nlohmann::json& object, const char* name, int fallback) {
    const auto it = object.find(name);
    if (it == object.end() || !it->is_number_integer())
        return fallback;
    const auto port = it->get<std::int64_t>();
    return port >= 1024 && port <= 65535 ? static_cast<int>(port) : fallback;
}

RemoteConfig readConfig(const Settings& settings) {
    RemoteConfig config;
    const auto text = settings.stringValue(RemoteHub::kConfigKey);
    if (!text)
        return config;
    const auto object = nlohmann::json::parse(*text, nullptr, false);
    if (!object.is_object())
        return config;
    config.webEnabled = object.value("web", false);
    config.oscEnabled = object.value("osc", false);
    config.webPort = portOr(object, "webPort", RemoteConfig::kDefaultWebPort);
    config.oscPort = portOr(object, "oscPort", RemoteConfig::kDefaultOscPort);
    if (const auto it = object.find("oscAllowed"); it != object.end() && it->is_array())
        for (const auto& entry : *it)
            if (entry.is_string())
                config.oscAllowed.push_back(entry.get<std::string>());
    return config;
}

std::string writeConfig(const RemoteConfig& config) {
    return nlohmann::json{{"web", config.webEnabled},
                          {"webPort", config.webPort},
                          {"osc", config.oscEnabled},
                          {"oscPort", config.oscPort},
                          {"oscAllowed", config.oscAllowed}}
        .dump();
}

std::vector<RemotePairing> readPairings(const Settings& settings) {
    std::vector<RemotePairing> pairings;
    const auto text = settings.stringValue(RemoteHub::kPairingsKey);
    if (!text)
        return pairings;
    const auto array = nlohmann::json::parse(*text, nullptr, false);
    if (!array.is_array())
        return pairings;
    for (const auto& entry : array) {
        if (!entry.is_object())
            continue;
        RemotePairing pairing{entry.value("id", std::string()),
                              entry.value("device", std::string()),
                              entry.value("key", std::string())};
        // A key too short to be one of ours is no key.
        if (pairing.key.size() >= 32 && !pairing.id.empty() &&
            pairings.size() < RemoteHub::kMaxPairings)
            pairings.push_back(std::move(pairing));
    }
    return pairings;
}

RemoteState buildState(const AppState& app, bool cue, bool midi, bool allOn) {
    RemoteState state;
    const Setlist& set = app.setlist();
    state.setName = set.name;
    for (const Song& song : set.songs)
        state.songs.push_back(song.name);
    state.cueConnected = cue;
    state.midiAvailable = midi;
    state.allOn = allOn;
    if (const Song* song = app.currentSong()) {
        state.currentSong = app.currentSongIndex();
        state.song = song->name;
        for (const Section& section : song->sections)
            state.sections.push_back(section.name);
    }
    if (const Section* section = app.currentSection()) {
        state.section = app.currentSectionIndex();
        state.now = section->name;
        // Essentials plays each section's first step only.
        const bool pro = app.mode() == StrataMode::pro;
        state.steps =
            pro ? static_cast<std::int64_t>(section->steps.size())
                : std::min<std::int64_t>(1, static_cast<std::int64_t>(section->steps.size()));
        state.step = state.steps == 0
                         ? 0
                         : std::clamp<std::int64_t>(app.currentStepIndex() + 1, 1, state.steps);
    }
    if (const Section* next = app.nextSection())
        state.next = next->name;
    return state;
}

} // namespace

RemoteHub::RemoteHub(AppState& app, LiveCoordinator& live, MidiService& midi, CadenzoLink& link,
                     MainLoop& loop, Settings& settings, RandomSource random)
    : app_(app), live_(live), midi_(midi), link_(link), loop_(loop), settings_(settings),
      random_(std::move(random)), lifetime_(this) {
    if (!random_) {
        auto device = std::make_shared<std::random_device>();
        random_ = [device] { return static_cast<std::uint32_t>((*device)()); };
    }
    config_ = readConfig(settings_);
    pairings_ = readPairings(settings_);
    viewerToken_ = settings_.stringValue(kViewerTokenKey).value_or("");
    if (viewerToken_.size() < 32)
        renewViewerToken();
    pairingCode_ = randomCode();
    state_ = std::make_shared<const RemoteState>(
        buildState(app_, link_.connection().isConnected(), midi_.midiAvailable(), live_.allOn()));

    subscriptions_ += app_.changed.connect([this] { scheduleRefresh(); });
    subscriptions_ += live_.allOn.changed.connect([this](const bool&) { scheduleRefresh(); });
    subscriptions_ +=
        midi_.midiAvailable.changed.connect([this](const bool&) { scheduleRefresh(); });
    subscriptions_ +=
        link_.connection.changed.connect([this](const ConnectionState&) { scheduleRefresh(); });
}

RemoteHub::~RemoteHub() = default;

std::shared_ptr<const RemoteState> RemoteHub::state() const {
    std::lock_guard lock(lock_);
    return state_;
}

void RemoteHub::command(const RemoteCommand& command) {
    using Kind = RemoteCommand::Kind;
    switch (command.kind) {
    case Kind::next:
        midi_.remoteMove(ReflexTrigger::next, 0);
        return;
    case Kind::section:
        midi_.remoteMove(ReflexTrigger::jump, command.index);
        return;
    case Kind::prev:
    case Kind::song:
    case Kind::allOn:
        loop_.post([watch = lifetime_.watch(), command] {
            if (RemoteHub* self = watch.get())
                self->runOnMain(command);
        });
        return;
    }
}

void RemoteHub::runOnMain(const RemoteCommand& command) {
    switch (command.kind) {
    case RemoteCommand::Kind::prev:
        app_.retreat();
        break;
    case RemoteCommand::Kind::song:
        if (command.index >= 0 &&
            command.index < static_cast<std::int64_t>(app_.setlist().songs.size()))
            app_.selectSong(command.index);
        break;
    case RemoteCommand::Kind::allOn:
        live_.panic();
        break;
    default:
        break;
    }
}

bool RemoteHub::viewerTokenMatches(std::string_view token) const {
    std::lock_guard lock(lock_);
    return sameSecret(token, viewerToken_);
}

std::optional<std::string> RemoteHub::pair(std::string_view code, std::string_view device) {
    std::optional<std::string> key;
    {
        std::lock_guard lock(lock_);
        if (!sameSecret(code, pairingCode_)) {
            if (++wrongCodes_ >= kMaxPairingAttempts) {
                wrongCodes_ = 0;
                pairingCode_ = randomCode();
            } else {
                return std::nullopt;
            }
        } else {
            wrongCodes_ = 0;
            key = randomHex(16);
            if (pairings_.size() >= kMaxPairings)
                pairings_.erase(pairings_.begin());
            pairings_.push_back(
                RemotePairing{randomHex(4), device.empty() ? "Phone" : std::string(device), *key});
        }
    }
    loop_.post([watch = lifetime_.watch()] {
        if (RemoteHub* self = watch.get()) {
            self->persistPairings();
            self->configChanged.notify();
        }
    });
    return key;
}

bool RemoteHub::controlKeyValid(std::string_view key) const {
    std::lock_guard lock(lock_);
    bool valid = false;
    for (const RemotePairing& pairing : pairings_)
        valid = sameSecret(key, pairing.key) || valid; // no early exit
    return valid;
}

bool RemoteHub::oscSenderAllowed(std::string_view address) const {
    std::lock_guard lock(lock_);
    return std::find(config_.oscAllowed.begin(), config_.oscAllowed.end(), address) !=
           config_.oscAllowed.end();
}

RemoteConfig RemoteHub::config() const {
    std::lock_guard lock(lock_);
    return config_;
}

void RemoteHub::setConfig(RemoteConfig config) {
    {
        std::lock_guard lock(lock_);
        if (config == config_)
            return;
        // A new start of the web server shows a new pairing code.
        if (config.webEnabled && !config_.webEnabled) {
            pairingCode_ = randomCode();
            wrongCodes_ = 0;
        }
        config_ = config;
    }
    settings_.setString(kConfigKey, writeConfig(config));
    configChanged.notify();
}

std::string RemoteHub::viewerToken() const {
    std::lock_guard lock(lock_);
    return viewerToken_;
}

std::string RemoteHub::pairingCode() const {
    std::lock_guard lock(lock_);
    return pairingCode_;
}

std::vector<RemotePairing> RemoteHub::pairings() const {
    std::lock_guard lock(lock_);
    return pairings_;
}

void RemoteHub::revoke(std::string_view pairingID) {
    {
        std::lock_guard lock(lock_);
        std::erase_if(pairings_, [&](const RemotePairing& p) { return p.id == pairingID; });
    }
    persistPairings();
    configChanged.notify();
}

void RemoteHub::renewViewerToken() {
    std::string token = randomHex(16);
    {
        std::lock_guard lock(lock_);
        viewerToken_ = token;
    }
    settings_.setString(kViewerTokenKey, token);
    configChanged.notify();
}

void RemoteHub::persistPairings() {
    nlohmann::json array = nlohmann::json::array();
    for (const RemotePairing& pairing : pairings())
        array.push_back({{"id", pairing.id}, {"device", pairing.device}, {"key", pairing.key}});
    settings_.setString(kPairingsKey,
                        array.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void RemoteHub::scheduleRefresh() {
    if (refreshPosted_)
        return;
    refreshPosted_ = true;
    loop_.post([watch = lifetime_.watch()] {
        if (RemoteHub* self = watch.get()) {
            self->refreshPosted_ = false;
            self->refreshState();
        }
    });
}

void RemoteHub::refreshState() {
    auto next = std::make_shared<const RemoteState>(
        buildState(app_, link_.connection().isConnected(), midi_.midiAvailable(), live_.allOn()));
    {
        std::lock_guard lock(lock_);
        if (*next == *state_)
            return;
        state_ = std::move(next);
    }
    if (stateObserver_)
        stateObserver_();
}

std::string RemoteHub::randomHex(int bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::lock_guard lock(randomLock_);
    std::string text;
    for (int i = 0; i < bytes; ++i) {
        const auto byte = random_() & 0xFFU;
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xFU];
    }
    return text;
}

std::string RemoteHub::randomCode() {
    std::lock_guard lock(randomLock_);
    std::string code;
    for (int i = 0; i < 6; ++i)
        code += static_cast<char>('0' + random_() % 10);
    return code;
}

} // namespace strata
