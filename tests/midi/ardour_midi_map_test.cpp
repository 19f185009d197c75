#include "midi/ardour_midi_map.h"
#include "support/records.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace strata;

namespace {

Layer layer(std::string name, std::int64_t channel, std::optional<std::int64_t> cc) {
    Layer l = Layer::fresh();
    l.name = std::move(name);
    l.portName = "Strata";
    l.channel = channel;
    l.muteCC = cc;
    return l;
}

} // namespace

TEST(ArdourMidiMap, OneBindingPerLayerToTheTrackAtItsPositionFromTheBankOffset) {
    Setlist set;
    set.name = "Sunday <Set> & \"Co\"";
    set.mackieTrackOffset = 21; // read as 16, as the bank stepper and Mackie output read it
    set.layers = {
        layer("Piano", 1, 20),
        layer("Pad -- warm", 17, std::nullopt), // channel 16, CC 20 + position
        layer("Lead", 0, 20),                   // channel 1, CC 20 again: Piano has it
        layer("Bass", 3, 300),                  // no CC that can be sent
        layer("Str\x01ings \xC3", 2, 200),      // CC 72 (7 bits), as it is sent
        layer("Organ", 5, 30),                  // no port: sends nothing, so not bound
        layer("Keys", 5, 30),                   // takes CC 30 on channel 5 itself
    };
    set.layers[5].portName.clear();
    EXPECT_EQ(ArdourMidiMap::generate(set),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<ArdourMIDIBindings version=\"1.0.0\" name=\"Strata: Sunday &lt;Set&gt; &amp; "
              "&quot;Co&quot;\">\n"
              "  <!-- Written by Strata. Each layer's mute CC toggles the mute of the track at "
              "the layer's position from the bank offset (16): save the map again when that "
              "changes. -->\n"
              "  <!-- Layer 1 \"Piano\" -->\n"
              "  <Binding channel=\"1\" ctl=\"20\" uri=\"/route/mute 17\"/>\n"
              "  <!-- Layer 2 \"Pad - - warm\" -->\n"
              "  <Binding channel=\"16\" ctl=\"21\" uri=\"/route/mute 18\"/>\n"
              "  <!-- Layer 3 \"Lead\" uses CC 20 on channel 1 like layer 1: not bound. -->\n"
              "  <!-- Layer 4 \"Bass\" has no CC that can be sent: not bound. -->\n"
              "  <!-- Layer 5 \"Str ings \xEF\xBF\xBD\" -->\n"
              "  <Binding channel=\"2\" ctl=\"72\" uri=\"/route/mute 21\"/>\n"
              "  <!-- Layer 6 \"Organ\" has no port: not bound. -->\n"
              "  <!-- Layer 7 \"Keys\" -->\n"
              "  <Binding channel=\"5\" ctl=\"30\" uri=\"/route/mute 23\"/>\n"
              "</ArdourMIDIBindings>\n");

    // Without an offset the first layer drives the first track; a set without layers gives a
    // map without bindings.
    set.mackieTrackOffset.reset();
    strata::testing::growTo(set.layers, 1);
    EXPECT_NE(ArdourMidiMap::generate(set).find("uri=\"/route/mute 1\""), std::string::npos);
    set.layers.clear();
    EXPECT_EQ(ArdourMidiMap::generate(set).find("<Binding"), std::string::npos);
}

TEST(ArdourMidiMap, SaveWritesTheMapOrSaysWhyNot) {
    strata::testing::TempDir dir;
    Setlist set = Setlist::empty();
    const auto path = dir.path() / "strata.map";
    std::string error;
    ASSERT_TRUE(ArdourMidiMap::save(set, path, &error)) << error;
    EXPECT_EQ(strata::testing::readFile(path), ArdourMidiMap::generate(set));

    EXPECT_FALSE(ArdourMidiMap::save(set, dir.path() / "missing" / "strata.map", &error));
    EXPECT_FALSE(error.empty());
}
