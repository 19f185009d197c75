#include "model/setlist_import.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace strata;

namespace {

// Song title followed by its section names, per song.
using Shape = std::vector<std::vector<std::string>>;

Shape shapeOf(const std::vector<Song>& songs) {
    Shape shape;
    for (const auto& song : songs) {
        std::vector<std::string> entry{song.name};
        for (const auto& section : song.sections)
            entry.push_back(section.name);
        shape.push_back(entry);
    }
    return shape;
}

} // namespace

TEST(SetlistImport, TextFormat) {
    struct Case {
        const char* what;
        std::string text;
        Shape expected;
    };
    const Case cases[] = {
        {"the dialog's sample",
         "Amazing Grace\nIntro\nVerse 1\nChorus\nVerse 2\nBridge\nChorus\n\nHow Great Is Our "
         "God\nIntro\n"
         "Verse\nChorus\nTag",
         {{"Amazing Grace", "Intro", "Verse 1", "Chorus", "Verse 2", "Bridge", "Chorus"},
          {"How Great Is Our God", "Intro", "Verse", "Chorus", "Tag"}}},
        {"a title alone gets an Intro", "Song A", {{"Song A", "Intro"}}},
        {"blank-line runs are one separator",
         "Song A\nIntro\nChorus\n\n\nSong B",
         {{"Song A", "Intro", "Chorus"}, {"Song B", "Intro"}}},
        {"lines of blanks and tabs are blank",
         "Song A\n \t \nSong B\n\u00A0\u3000\n",
         {{"Song A", "Intro"}, {"Song B", "Intro"}}},
        {"one leading # goes",
         "#Song A\n\n# Song A\n\n## Song A",
         {{"Song A", "Intro"}, {"Song A", "Intro"}, {"# Song A", "Intro"}}},
        {"# inside a block is a section", "Song A\n# Chorus", {{"Song A", "Chorus"}}},
        {"a lone # is an empty name", "#\n#\nVerse", {{"", "", "Verse"}}},
        {"surrounding blanks and tabs go, inner ones stay",
         "  Song  A \t\n  Verse 1  \n\t\u2003Bridge\u2009",
         {{"Song  A", "Verse 1", "Bridge"}}},
        {"CR LF is one break",
         "Song A\r\nIntro\r\n\r\nSong B\r\n",
         {{"Song A", "Intro"}, {"Song B", "Intro"}}},
        {"lone CR, VT and FF break",
         "Song A\rIntro\vVerse\fChorus",
         {{"Song A", "Intro", "Verse", "Chorus"}}},
        {"LF CR is two breaks", "Song A\n\rSong B", {{"Song A", "Intro"}, {"Song B", "Intro"}}},
        {"NEL, LS and PS break",
         "Song A\u0085Intro\u2028Verse\u2029\u2029Song B",
         {{"Song A", "Intro", "Verse"}, {"Song B", "Intro"}}},
        {"non-ASCII text is kept", "Ça va\u00A0\nRefrain – 2", {{"Ça va", "Refrain – 2"}}},
        {"malformed UTF-8 passes through",
         "Song \xC3\nIntro \xE2\x80",
         {{"Song \xC3", "Intro \xE2\x80"}}},
        {"nothing", "", {}},
        {"only blank lines", "\n \n\t\r\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(shapeOf(parseSetlistText(c.text)), c.expected);
    }
}
