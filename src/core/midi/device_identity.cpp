#include "midi/device_identity.h"

#include <algorithm>

namespace strata {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits from `at`; returns where they end (`at` when there are none).
std::size_t skipDigits(const std::string& s, std::size_t at) {
    while (at < s.size() && isDigit(s[at]))
        ++at;
    return at;
}

// Erases [begin, end) together with one blank that separated it from the rest.
void eraseWithBlank(std::string& s, std::size_t begin, std::size_t end) {
    if (begin > 0 && s[begin - 1] == ' ')
        --begin;
    else if (end < s.size() && s[end] == ' ')
        ++end;
    s.erase(begin, end - begin);
}

// "[24]": the ALSA client number a bridge adds to keep names unique.
void dropBracketedNumbers(std::string& s) {
    for (std::size_t at = s.find('['); at != std::string::npos; at = s.find('[', at)) {
        const std::size_t digitsEnd = skipDigits(s, at + 1);
        if (digitsEnd > at + 1 && digitsEnd < s.size() && s[digitsEnd] == ']') {
            eraseWithBlank(s, at, digitsEnd + 1);
            at = at > 0 ? at - 1 : 0;
        } else {
            ++at;
        }
    }
}

// "hw:1,0,0" (a sound card, its device and subdevice) becomes "hw".
void dropCardNumbers(std::string& s) {
    for (std::size_t at = s.find("hw:"); at != std::string::npos; at = s.find("hw:", at + 2)) {
        std::size_t end = at + 3;
        std::size_t digitsEnd = skipDigits(s, end);
        if (digitsEnd == end)
            continue;
        while (digitsEnd < s.size() && s[digitsEnd] == ',' &&
               skipDigits(s, digitsEnd + 1) > digitsEnd + 1)
            digitsEnd = skipDigits(s, digitsEnd + 1);
        s.erase(at + 2, digitsEnd - (at + 2));
    }
}

// Blank-separated words of the form "24:0", also in parentheses: ALSA client and port numbers.
void dropAddresses(std::string& s) {
    std::size_t begin = 0;
    while (begin < s.size()) {
        if (s[begin] == ' ') {
            ++begin;
            continue;
        }
        std::size_t end = s.find(' ', begin);
        if (end == std::string::npos)
            end = s.size();
        std::size_t at = begin;
        const bool open = s[at] == '(';
        if (open)
            ++at;
        std::size_t digitsEnd = skipDigits(s, at);
        bool address = digitsEnd > at && digitsEnd < end && s[digitsEnd] == ':';
        if (address) {
            const std::size_t portEnd = skipDigits(s, digitsEnd + 1);
            address = portEnd > digitsEnd + 1 && portEnd + (open ? 1 : 0) == end &&
                      (!open || s[portEnd] == ')');
        }
        if (address) {
            eraseWithBlank(s, begin, end);
            begin = begin > 0 ? begin - 1 : 0;
        } else {
            begin = end;
        }
    }
}

// JACK's raw-MIDI aliases start the port part with the card and device: "system:2-1 FCB1010…".
void dropLeadingCardDevice(std::string& s) {
    const std::size_t colon = s.find(':');
    if (colon == std::string::npos)
        return;
    const std::size_t cardEnd = skipDigits(s, colon + 1);
    if (cardEnd == colon + 1 || cardEnd >= s.size() || s[cardEnd] != '-')
        return;
    const std::size_t deviceEnd = skipDigits(s, cardEnd + 1);
    if (deviceEnd == cardEnd + 1 || deviceEnd >= s.size() || s[deviceEnd] != ' ')
        return;
    s.erase(colon + 1, deviceEnd + 1 - (colon + 1));
}

} // namespace

std::string stableDeviceName(std::string_view name) {
    std::string s(name);
    dropBracketedNumbers(s);
    dropCardNumbers(s);
    dropAddresses(s);
    dropLeadingCardDevice(s);
    if (std::all_of(s.begin(), s.end(), [](char c) { return c == ' '; }))
        return std::string(name);
    return s;
}

bool DeviceIdentity::answersTo(std::string_view stableStoredDevice) const {
    return std::find(keys.begin(), keys.end(), stableStoredDevice) != keys.end();
}

DeviceIdentity deviceIdentity(std::string_view name, const std::vector<std::string>& aliases) {
    DeviceIdentity identity;
    identity.keys.push_back(stableDeviceName(name));
    for (const std::string& alias : aliases)
        if (!alias.empty())
            identity.keys.push_back(stableDeviceName(alias));
    // The first alias where there is one: JACK's numbered system ports are named by their device
    // only there.
    identity.learned = identity.keys.size() > 1 ? identity.keys[1] : identity.keys[0];
    return identity;
}

} // namespace strata
