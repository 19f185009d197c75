#include "midi/device_identity.h"

#include <gtest/gtest.h>

using namespace strata;

TEST(DeviceIdentity, StableNamesDropOnlyTheNumbersTheSystemHandsOut) {
    struct Case {
        const char* name;
        const char* stable; // nullptr: unchanged
    };
    const Case cases[] = {
        // The a2j bridge keeps names unique with the ALSA client number, which changes per boot.
        {"a2j:FCB1010 [24] (capture): FCB1010 MIDI 1", "a2j:FCB1010 (capture): FCB1010 MIDI 1"},
        {"a2j:Midi Through [14] (playback): Midi Through Port-0",
         "a2j:Midi Through (playback): Midi Through Port-0"},
        {"a2j:FCB1010 (capture): FCB1010 MIDI 1", nullptr}, // bridged with -u: no number
        // ALSA client:port addresses.
        {"FCB1010:FCB1010 MIDI 1 24:0", "FCB1010:FCB1010 MIDI 1"},
        {"FCB1010 MIDI 1 (28:0)", "FCB1010 MIDI 1"},
        // Sound card numbers, as raw MIDI lists them and as JACK's raw-MIDI driver aliases them.
        {"hw:1,0,0 Keystation 49 MIDI 1", "hw Keystation 49 MIDI 1"},
        {"FCB1010 MIDI 1 (hw:2,0)", "FCB1010 MIDI 1 (hw)"},
        {"system:2-1 FCB1010 MIDI 1 1 in", "system:FCB1010 MIDI 1 1 in"},
        // Already stable: JACK's sequencer aliases, ALSA "client:port" names, software ports.
        {"alsa_pcm:FCB1010/midi_capture_1", nullptr},
        {"FCB1010:midi/capture_1", nullptr},
        {"Launchkey Mini MK3:Launchkey Mini MK3 MIDI 1", nullptr},
        {"pedal:out", nullptr},
        // Numbers that are part of the name, and shapes that only look alike.
        {"system:midi_capture_3", nullptr}, // the number is all there is to go by
        {"nanoKEY2 [x] (capture)", nullptr},
        {"a2j:Port [12a] (capture)", nullptr},
        {"Port 1-2 Out", nullptr},
        {"[24]", nullptr}, // nothing would be left
        {"", nullptr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(stableDeviceName(c.name), c.stable ? c.stable : c.name) << c.name;
}

TEST(DeviceIdentity, ASourceIsLearnedByItsFirstAliasAndAnswersToEveryStableFormOfItsNames) {
    struct Case {
        const char* name;
        std::vector<std::string> aliases;
        const char* learned;
        std::vector<const char*> answersTo; // stored devices (in stable form) it fires for
        std::vector<const char*> not_;
    };
    const std::vector<Case> cases{
        // A JACK system port is learned by its device, never by its number; a trigger stored
        // earlier under the number still fires from that number.
        {"system:midi_capture_3",
         {"alsa_pcm:FCB1010/midi_capture_1", "FCB1010:midi/capture_1"},
         "alsa_pcm:FCB1010/midi_capture_1",
         {"alsa_pcm:FCB1010/midi_capture_1", "FCB1010:midi/capture_1", "system:midi_capture_3"},
         {"system:midi_capture_1", "alsa_pcm:Keystation/midi_capture_1"}},
        {"system:midi_capture_1",
         {"system:3-1 FCB1010 MIDI 1 1 in"},
         "system:FCB1010 MIDI 1 1 in",
         {"system:FCB1010 MIDI 1 1 in"},
         {"system:midi_capture_2"}},
        // Without aliases the name's stable form.
        {"a2j:FCB1010 [28] (capture): FCB1010 MIDI 1",
         {},
         "a2j:FCB1010 (capture): FCB1010 MIDI 1",
         {"a2j:FCB1010 (capture): FCB1010 MIDI 1"},
         {"a2j:FCB1010 [28] (capture): FCB1010 MIDI 1", "a2j:Keystation (capture): Keystation"}},
        {"pedal:out", {""}, "pedal:out", {"pedal:out"}, {"pedal:out 2", ""}},
    };
    for (const Case& c : cases) {
        const DeviceIdentity identity = deviceIdentity(c.name, c.aliases);
        EXPECT_EQ(identity.learned, c.learned) << c.name;
        for (const char* stored : c.answersTo)
            EXPECT_TRUE(identity.answersTo(stored)) << c.name << " for " << stored;
        for (const char* stored : c.not_)
            EXPECT_FALSE(identity.answersTo(stored)) << c.name << " for " << stored;
    }
}
