// Writes an example block-format recording of a three-microphone infrasound
// array: microbarom-like low-frequency sinusoids, deterministic pseudo-noise
// and one transient that reaches the microphones one after the other. With
// --sds, the same samples go as miniSEED day files into an SDS tree under
// ROOT (traces XX.KIRUN.00.BDF .. XX.KIRUN.02.BDF), starting half an hour
// before midnight, so that records straddle it.
//
//   make_example FILE [SECONDS [HZ]]           (default: 3600 s at 20 Hz)
//   make_example --sds ROOT [SECONDS [HZ]]

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

#include "nv24_writer.h"
#include "sds_tree_writer.h"
#include "write_file.h"

namespace {

constexpr unsigned channels = 3;
constexpr uint32_t start_second = 1462060800;  // 2016-05-01 00:00:00 UTC
constexpr uint8_t station_kiruna = 1;

// A small linear congruential generator: the same file on every run.
class pseudo_noise {
public:
    // Uniform in [-1, 1).
    double next() {
        m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(m_state >> 11) / 4503599627370496.0 - 1.0;
    }

private:
    uint64_t m_state = 0x1234567887654321ULL;
};

struct example_signal {
    double duration;
    // The transient: a wave packet at a third of the recording, crossing the
    // array with a delay of 0.8 s from one microphone to the next.
    double event_time() const { return duration / 3.0; }

    double at(double t, unsigned microphone, double noise) const {
        using std::numbers::pi;
        const double microbarom = 1200.0 * std::sin(2 * pi * 0.2 * t + microphone * 0.4) +
                                  500.0 * std::sin(2 * pi * 0.05 * t + microphone * 0.1);
        const double drift = 300.0 * std::sin(2 * pi * t / 1800.0);
        const double arrival = event_time() + 0.8 * microphone;
        const double envelope = std::exp(-std::pow((t - arrival) / 6.0, 2));
        const double transient = 8000.0 * envelope * std::sin(2 * pi * 1.5 * (t - arrival));
        return microbarom + drift + transient + 150.0 * noise;
    }
};

double positive_number(const char* text, const char* what) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value > 0.0) || !std::isfinite(value)) {
        std::cerr << "make_example: " << what << " must be a positive number, not " << text << "\n";
        std::exit(1);
    }
    return value;
}

nv24w::File make_recording(double seconds, double hz) {
    nv24w::File file = nv24w::make_file(channels, hz, start_second);
    file.header.version = 1;
    file.header.header_length = 36;
    file.header.station = station_kiruna;
    file.header.host_timestamp = start_second;
    const auto frames = static_cast<std::size_t>(std::llround(seconds * hz));
    file.samples.reserve(frames * channels);
    const example_signal signal{seconds};
    pseudo_noise noise;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / hz;
        for (unsigned microphone = 0; microphone < channels; ++microphone) {
            const auto sample =
                static_cast<int32_t>(std::lround(signal.at(t, microphone, noise.next())));
            file.samples.push_back(static_cast<uint32_t>(sample));
        }
    }
    return file;
}

// The recording's channels as the traces of an SDS tree, half an hour before midnight on.
std::vector<sdsw::Trace> sds_traces(const nv24w::File& recording, double hz) {
    std::vector<sdsw::Trace> traces;
    const int64_t start_us = (int64_t{start_second} - 1800) * 1'000'000;
    for (unsigned microphone = 0; microphone < channels; ++microphone) {
        sdsw::Segment segment{start_us, {}};
        for (std::size_t w = microphone; w < recording.samples.size(); w += channels)
            segment.samples.push_back(static_cast<int32_t>(recording.samples[w]));
        traces.push_back({"XX", "KIRUN", "0" + std::to_string(microphone), "BDF", hz, {segment}});
    }
    return traces;
}

}  // namespace

int main(int argc, char** argv) {
    const bool sds = argc > 1 && std::string(argv[1]) == "--sds";
    const int first = sds ? 2 : 1;  // FILE or ROOT
    if (argc < first + 1 || argc > first + 3) {
        std::cerr << "usage: make_example FILE [SECONDS [HZ]]   (default: 3600 s at 20 Hz)\n"
                     "       make_example --sds ROOT [SECONDS [HZ]]\n";
        return 1;
    }
    const double seconds = argc > first + 1 ? positive_number(argv[first + 1], "SECONDS") : 3600.0;
    const double hz = argc > first + 2 ? positive_number(argv[first + 2], "HZ") : 20.0;
    try {
        const nv24w::File recording = make_recording(seconds, hz);
        if (sds)
            sdsw::write_tree(argv[first], sds_traces(recording, hz));
        else
            testwriters::write_file(argv[first], nv24w::encode(recording));
    } catch (const std::exception& e) {
        std::cerr << "make_example: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
