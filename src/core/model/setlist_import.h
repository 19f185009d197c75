#pragma once

#include "model/setlist.h"

#include <string_view>
#include <vector>

namespace strata {

// Plain-text setlists: blocks separated by blank lines, one song per block; a block's first line
// is the song title and every further line one section name. One leading "#" is dropped from any
// line, and blanks and tabs around a line do not count. A song without section lines gets one
// "Intro". The text is UTF-8; every Unicode line break (CR LF as one) ends a line.
std::vector<Song> parseSetlistText(std::string_view text);

// The song that "Add Song" and "New Set" start from: "New Song" with Intro, Verse, Chorus, fresh
// ids each call.
Song newDefaultSong();

} // namespace strata
