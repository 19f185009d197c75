#include "model/default_ports.h"

namespace strata {

namespace {

template <typename Row>
const std::string* lastPort(const std::vector<Row>& rows) {
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        if (!it->portName.empty())
            return &it->portName;
    return nullptr;
}

// The last row's port over every Moment of the set; `rowsOf` picks the kind of row.
template <typename RowsOf>
std::string lastPortInSet(const Setlist& set, const Moment& moment, RowsOf rowsOf) {
    if (const std::string* own = lastPort(rowsOf(moment)))
        return *own;
    const std::string* found = nullptr;
    for (const Song& song : set.songs)
        for (const Section& section : song.sections)
            for (const Moment& m : section.moments)
                if (const std::string* port = lastPort(rowsOf(m)))
                    found = port;
    return found ? *found : std::string();
}

} // namespace

std::string defaultLayerPort(const Setlist& set) {
    const std::string* port = lastPort(set.layers);
    return port ? *port : std::string();
}

std::string defaultPatchPort(const Setlist& set, const Moment& moment) {
    return lastPortInSet(
        set, moment, [](const Moment& m) -> const auto& { return m.programChanges; });
}

std::string defaultCCPort(const Setlist& set, const Moment& moment) {
    return lastPortInSet(
        set, moment, [](const Moment& m) -> const auto& { return m.ccSends; });
}

} // namespace strata
