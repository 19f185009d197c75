#pragma once

#include "platform/lifetime.h"
#include "platform/main_loop.h"
#include "platform/settings.h"
#include "platform/signal.h"
#include "platform/thread_check.h"
#include "remote/remote_protocol.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strata {

class AppState;
class CadenzoLink;
class LiveCoordinator;
class MidiService;

// How the band remote is set up; kept in the app's settings, never in the set file.
struct RemoteConfig {
    static constexpr int kDefaultWebPort = 8750;
    static constexpr int kDefaultOscPort = 8751;
    bool webEnabled = false;
    int webPort = kDefaultWebPort;
    bool oscEnabled = false;
    int oscPort = kDefaultOscPort;
    // Addresses whose OSC commands are obeyed (text, as the sheet lists them); none by default:
    // OSC carries no credentials.
    std::vector<std::string> oscAllowed;
    friend bool operator==(const RemoteConfig&, const RemoteConfig&) = default;
};

// A phone allowed to control: the name it gave and the key it presents.
struct RemotePairing {
    std::string id;
    std::string device;
    std::string key;
    friend bool operator==(const RemotePairing&, const RemotePairing&) = default;
};

// Equal texts, compared in a time that depends on the lengths only, never on where they differ.
bool sameSecret(std::string_view a, std::string_view b);

// What the band remote's servers need of the core: the state to show, the commands to run, and
// who may view and control. The servers run on a thread of their own; everything marked "any
// thread" is safe from there, the rest belongs to the main thread.
//
// Commands take the footswitch's way: NEXT and a section jump go to MidiService::remoteMove, which
// answers from the reflex snapshot at once when it can (the mutes never wait for the main thread)
// and otherwise hands the press to the main thread, exactly once either way; PREV, a song, and
// ALL ON are the main thread's, as they are for every other input.
class RemoteHub {
public:
    static constexpr std::string_view kConfigKey = "remoteConfig";
    static constexpr std::string_view kViewerTokenKey = "remoteViewerToken";
    static constexpr std::string_view kPairingsKey = "remotePairings";
    // Pairings kept at most; pairing again beyond that forgets the oldest.
    static constexpr std::size_t kMaxPairings = 16;
    // Wrong pairing codes in a row before the code is replaced by a new one.
    static constexpr int kMaxPairingAttempts = 5;

    // Random bytes for tokens and codes; the system's random source unless a test gives one.
    using RandomSource = std::function<std::uint32_t()>;

    RemoteHub(AppState& app, LiveCoordinator& live, MidiService& midi, CadenzoLink& link,
              MainLoop& loop, Settings& settings, RandomSource random = {});
    ~RemoteHub();
    RemoteHub(const RemoteHub&) = delete;
    RemoteHub& operator=(const RemoteHub&) = delete;

    // ---- Any thread ----------------------------------------------------------------------------
    std::shared_ptr<const RemoteState> state() const;
    // Runs a command once; returns at once.
    void command(const RemoteCommand& command);
    bool viewerTokenMatches(std::string_view token) const;
    // The key of a new pairing when `code` is the code shown now, else none (and after too many
    // wrong codes the code shown changes).
    std::optional<std::string> pair(std::string_view code, std::string_view device);
    bool controlKeyValid(std::string_view key) const;
    bool oscSenderAllowed(std::string_view address) const;
    RemoteConfig config() const;

    // ---- Main thread ---------------------------------------------------------------------------
    // Called after each change of state() (the servers limit how often they pass it on).
    void setStateObserver(std::function<void()> observer) { stateObserver_ = std::move(observer); }
    // The configuration, the pairings, the viewer token or the pairing code changed.
    Signal<> configChanged;
    void setConfig(RemoteConfig config);
    std::string viewerToken() const;
    std::string pairingCode() const;
    std::vector<RemotePairing> pairings() const;
    void revoke(std::string_view pairingID);
    // A new viewer token: every link handed out so far stops working.
    void renewViewerToken();
    // Builds the state now (the servers' start; changes do it by themselves).
    void refreshState();

private:
    void scheduleRefresh();
    void runOnMain(const RemoteCommand& command);
    void persistPairings();
    std::string randomHex(int bytes);
    std::string randomCode();

    AppState& app_;
    LiveCoordinator& live_;
    MidiService& midi_;
    CadenzoLink& link_;
    MainLoop& loop_;
    Settings& settings_;
    RandomSource random_;
    std::mutex randomLock_; // random_ is called from any thread

    mutable std::mutex lock_;
    // Guarded by lock_.
    std::shared_ptr<const RemoteState> state_;
    RemoteConfig config_;
    std::string viewerToken_;
    std::string pairingCode_;
    std::vector<RemotePairing> pairings_;
    int wrongCodes_ = 0;

    std::function<void()> stateObserver_;
    bool refreshPosted_ = false;
    ConnectionBag subscriptions_;
    ThreadCheck thread_;
    Lifetime<RemoteHub> lifetime_;
};

} // namespace strata
