#pragma once

#include <cstddef>
#include <cstdint>

namespace strata {

// Cuts a MIDI byte stream into single messages: a JACK MIDI event is meant to hold exactly one,
// and some hosts read only the first message of an event. Bytes pass through unchanged, with one
// exception: running status is expanded, since a JACK event must start with its status byte.
// A system-exclusive message runs to its 0xF7 (or to the next status byte, or the end of the
// input) and stays one piece. Data bytes with no status to attach them to (the middle of a
// system-exclusive message sent in several pieces) are passed on as one piece as well.
class MidiMessageSplitter {
public:
    // Length of a channel or system-common message with status `status`, 0 when open-ended.
    static std::size_t messageLength(std::uint8_t status) {
        switch (status & 0xF0) {
        case 0x80:
        case 0x90:
        case 0xA0:
        case 0xB0:
        case 0xE0:
            return 3;
        case 0xC0:
        case 0xD0:
            return 2;
        default:
            break;
        }
        switch (status) {
        case 0xF1:
        case 0xF3:
            return 2;
        case 0xF2:
            return 3;
        case 0xF0:
            return 0;
        default:
            return 1;
        }
    }

    // Calls sink(const std::uint8_t* data, std::size_t length) once per message, in order.
    template <class Sink>
    static void split(const std::uint8_t* data, std::size_t length, Sink&& sink) {
        std::uint8_t runningStatus = 0;
        std::size_t i = 0;
        while (i < length) {
            const std::uint8_t byte = data[i];
            if (byte >= 0xF8) {
                sink(data + i, 1); // real time: one byte, leaves running status alone
                ++i;
            } else if (byte == 0xF0) {
                std::size_t end = i + 1;
                while (end < length && data[end] != 0xF7 && (data[end] < 0x80 || data[end] >= 0xF8))
                    ++end;
                if (end < length && data[end] == 0xF7)
                    ++end;
                sink(data + i, end - i);
                runningStatus = 0;
                i = end;
            } else if (byte >= 0x80) {
                const std::size_t end = dataRunEnd(data, length, i + 1, messageLength(byte) - 1);
                sink(data + i, end - i);
                runningStatus = byte < 0xF0 ? byte : 0;
                i = end;
            } else if (runningStatus != 0) {
                const std::size_t end =
                    dataRunEnd(data, length, i, messageLength(runningStatus) - 1);
                std::uint8_t message[3] = {runningStatus, 0, 0};
                for (std::size_t k = i; k < end; ++k)
                    message[1 + (k - i)] = data[k];
                sink(message, 1 + (end - i));
                i = end;
            } else {
                std::size_t end = i;
                while (end < length && data[end] < 0x80)
                    ++end;
                if (end < length && data[end] == 0xF7)
                    ++end;
                sink(data + i, end - i);
                i = end;
            }
        }
    }

private:
    // End of at most `count` data bytes starting at `from`; stops early at a status byte.
    static std::size_t dataRunEnd(const std::uint8_t* data, std::size_t length, std::size_t from,
                                  std::size_t count) {
        std::size_t end = from;
        while (end < length && end - from < count && data[end] < 0x80)
            ++end;
        return end;
    }
};

} // namespace strata
