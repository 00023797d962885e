// The TM4 text reader on arbitrary bytes, with and without a caller's start
// time close to the file's own. A file it loads is read once more here, line
// by line with the plain scanf form of a data line, and the times and samples
// must agree.
#include "fuzz_input.h"
#include "nevra_tm4.h"

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Expected {
    bool out_of_range = false;  // a value the reader must refuse
    std::vector<double> times;
    std::vector<std::vector<int32_t>> channels;
};

Expected read_plainly(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    Expected expected;
    size_t count = 3;
    int first = 2;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '!')
            continue;
        double v[9] = {};
        const int ret = std::sscanf(line.c_str(), "%lf %lf %lf %lf %lf %lf %lf %lf %lf", &v[0],
                                    &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8]);
        if (ret <= 3)
            break;
        if (first != 0) {
            if (ret != 4 && count == 3)
                count = static_cast<size_t>(ret - 1);
            expected.channels.resize(count);
            --first;
        }
        if (count != static_cast<size_t>(ret - 1))
            break;
        for (size_t c = 0; c < count; ++c) {
            const bool fits = v[c + 1] > -2147483649.0 && v[c + 1] < 2147483648.0;
            expected.out_of_range = expected.out_of_range || !fits;
            expected.channels[c].push_back(fits ? static_cast<int32_t>(v[c + 1]) : 0);
        }
        expected.times.push_back(v[0]);
    }
    return expected;
}

bool same(double a, double b) { return a == b || (a != a && b != b); }

void compare(const Nevra::Nevra_Base& recording, const Expected& expected) {
    if (expected.out_of_range)
        fuzz::fail("a value outside the 32-bit range was accepted");
    const std::vector<double>& times = recording.get_time();
    if (times.size() != expected.times.size())
        fuzz::fail("the number of data lines read differs from a plain scanf reading");
    for (size_t i = 0; i < times.size(); ++i)
        if (!same(times[i], expected.times[i]))
            fuzz::fail("a line time differs from a plain scanf reading");
    if (recording.get_channels().size() != expected.channels.size())
        fuzz::fail("the channel count differs from a plain scanf reading");
    for (size_t c = 0; c < expected.channels.size(); ++c)
        if (recording.get_data(c) != expected.channels[c])
            fuzz::fail("a channel's samples differ from a plain scanf reading");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const double basetime = size > 0 && (data[0] & 1) ? 1462060800.0 : 0.0;
    // Read before the load, so that its memory is not counted against the reader.
    const Expected expected = read_plainly(data, size);
    fuzz::run_load(data, size, [&](const char* name) {
        std::unique_ptr<Nevra::NEVRA_TM4> recording(new Nevra::NEVRA_TM4(name, basetime));
        compare(*recording, expected);
        return recording.release();
    });
    return 0;
}
