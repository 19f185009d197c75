#pragma once

#include <string>
#include <vector>

namespace strata {

// What the backend knows of one sequencer port when it lists the system's ports.
struct AlsaPortInfo {
    int client = 0;
    int port = 0;
    std::string clientName;
    std::string portName;
    unsigned capability = 0; // SND_SEQ_PORT_CAP_*
    unsigned type = 0;       // SND_SEQ_PORT_TYPE_*

    // "client name:port name", the sequencer's counterpart of a full JACK port name.
    std::string fullName() const { return clientName + ":" + portName; }
};

// Sources are ports others may subscribe to for reading, destinations ports others may
// subscribe to for writing; the system client (timer, announcements), ports that ask not to be
// routed, and our own client are left out.
bool isListedSource(const AlsaPortInfo& port, int ownClient);
bool isListedDestination(const AlsaPortInfo& port, int ownClient);

// A port whose subscribers are only our feedback ports (and our own input, which we subscribed
// ourselves) is a DAW's control-surface output: its traffic is feedback, not a controller.
struct AlsaAddress {
    int client = 0;
    int port = 0;
    bool operator==(const AlsaAddress&) const = default;
};
bool isSurfaceOutput(const std::vector<AlsaAddress>& subscribers,
                     const std::vector<AlsaAddress>& feedbackPorts, const AlsaAddress& inputPort);

} // namespace strata
