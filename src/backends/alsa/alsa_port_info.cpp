#include "alsa/alsa_port_info.h"

#include <algorithm>
#include <alsa/asoundlib.h>

namespace strata {
namespace {

bool routable(const AlsaPortInfo& port, int ownClient) {
    return port.client != ownClient && port.client != SND_SEQ_CLIENT_SYSTEM &&
           (port.capability & SND_SEQ_PORT_CAP_NO_EXPORT) == 0;
}

} // namespace

bool isListedSource(const AlsaPortInfo& port, int ownClient) {
    const unsigned wanted = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    return routable(port, ownClient) && (port.capability & wanted) == wanted;
}

bool isListedDestination(const AlsaPortInfo& port, int ownClient) {
    const unsigned wanted = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    return routable(port, ownClient) && (port.capability & wanted) == wanted;
}

bool isSurfaceOutput(const std::vector<AlsaAddress>& subscribers,
                     const std::vector<AlsaAddress>& feedbackPorts, const AlsaAddress& inputPort) {
    bool intoFeedback = false;
    for (const AlsaAddress& s : subscribers) {
        if (std::find(feedbackPorts.begin(), feedbackPorts.end(), s) != feedbackPorts.end())
            intoFeedback = true;
        else if (!(s == inputPort))
            return false;
    }
    return intoFeedback;
}

} // namespace strata
