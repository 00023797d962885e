// Writes a small station archive for the batch tests: twelve day-files of
// three formats (block format, legacy binary and ASCII, TM4) in three station
// folders, one of them damaged (a block-format file of an unknown version).
//
//   make_archive DIR [SECONDS]      (default: 600 s of samples per file)

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "legacy_writer.h"
#include "nv24_writer.h"
#include "tm4_writer.h"

namespace fs = std::filesystem;
namespace lw = legacywriter;

namespace {

constexpr uint32_t first_day = 1462060800;  // 2016-05-01 00:00:00 UTC
constexpr double legacy_hz = 18.0;

double wave(size_t i, size_t channel, int day) {
    return 900.0 * std::sin(0.05 * static_cast<double>(i) + channel + day);
}

void write_nv24(const fs::path& file, int day, double seconds) {
    nv24w::File f = nv24w::make_file(3, 20.0, first_day + 86400u * static_cast<uint32_t>(day));
    const auto frames = static_cast<size_t>(seconds * 20.0);
    for (size_t i = 0; i < frames; ++i)
        nv24w::add_frame(
            f, {static_cast<int32_t>(wave(i, 0, day)), static_cast<int32_t>(wave(i, 1, day)),
                static_cast<int32_t>(wave(i, 2, day))});
    nv24w::write(file.string(), f);
}

std::vector<lw::Record> legacy_records(int day, double seconds) {
    std::vector<lw::Record> records;
    const auto count = static_cast<size_t>(seconds * legacy_hz / 512.0);
    for (size_t r = 0; r < count; ++r) {
        const auto second = static_cast<int>(static_cast<double>(r * 512) / legacy_hz);
        records.push_back(
            lw::make_record(512, second / 60, second % 60, static_cast<int>(r) * 7 + day));
    }
    return records;
}

std::string legacy_comment(int day) {
    return lw::form3_line('S', 512, "18", "1", "jamton", "2016-05-0" + std::to_string(day + 1),
                          "00:00:00");
}

void write_tm4(const fs::path& file, int day, double seconds) {
    testwriters::Tm4File()
        .comment(testwriters::tm4_comment(20, "lycksele", 1, "2016-05-0" + std::to_string(day + 1)))
        .samples(first_day + 86400.0 * day, 20, static_cast<size_t>(seconds * 20.0), 3,
                 [day](size_t i, size_t c) { return wave(i, c, day); })
        .save(file);
}

}  // namespace

int main(int argc, char** argv) try {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: make_archive DIR [SECONDS]\n";
        return 2;
    }
    const fs::path dir = argv[1];
    const double seconds = argc == 3 ? std::atof(argv[2]) : 600.0;
    for (const char* station : {"kiruna", "jamton", "lycksele"})
        fs::create_directories(dir / station);
    for (int day = 0; day < 4; ++day) {
        const std::string stem = "k050" + std::to_string(day + 1);
        write_nv24(dir / "kiruna" / (stem + ".nv24"), day, seconds);
        const auto records = legacy_records(day, seconds);
        // Binary on even days, ASCII on odd ones: both legacy readers get work.
        if (day % 2 == 0)
            lw::write(dir / "jamton" / ("j050" + std::to_string(day + 1) + ".raw"),
                      lw::binary_image(legacy_comment(day), records));
        else
            lw::write(dir / "jamton" / ("j050" + std::to_string(day + 1) + ".asc"),
                      lw::ascii_image(legacy_comment(day), records));
        write_tm4(dir / "lycksele" / ("l050" + std::to_string(day + 1) + ".tm4"), day, seconds);
    }
    // The damaged one: a header version no reader knows.
    nv24w::File damaged = nv24w::make_file(3);
    damaged.header.version = 120;
    nv24w::write((dir / "kiruna" / "k0599.nv24").string(), damaged);
    return 0;
} catch (const std::exception& e) {
    std::cerr << "make_archive: " << e.what() << "\n";
    return 1;
}
