#pragma once

#include "model/setlist.h"

#include <string>

namespace strata {

// Where a new row sends by default: the port the set already uses for that kind of row, so that a
// new CC mute or patch change goes where its siblings go. Never the surface port by itself: with no
// row of that kind to follow, the answer is empty ("No port"), which sends nothing until the user
// picks one.

// The port of the last layer that has one.
std::string defaultLayerPort(const Setlist& set);
// The port of `moment`'s last program change that has one, else of the set's last (in the order
// of songs, sections, Moments and rows).
std::string defaultPatchPort(const Setlist& set, const Moment& moment);
// The same for control-change sends.
std::string defaultCCPort(const Setlist& set, const Moment& moment);

} // namespace strata
