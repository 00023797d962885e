// Writes the seed corpora of the fuzz targets with the test tree's file
// writers: make_seeds DIR makes DIR/nv24, DIR/tm4, DIR/legacy, DIR/any
// (every file seed, for detection) and DIR/names (file names and comment lines).
#include "legacy_writer.h"
#include "nv24_writer.h"
#include "tm4_writer.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Seeds = std::vector<std::pair<std::string, std::string>>;

Seeds block_seeds() {
    Seeds seeds;
    for (uint8_t version = 0; version <= 2; ++version) {
        nv24w::File file = nv24w::make_file(3, 20.0, 1462060800, 250000000);
        file.header.version = version;
        for (int32_t i = 0; i < 6; ++i)
            nv24w::add_frame(file, {i, -i, 1 << 23});
        seeds.emplace_back("v" + std::to_string(version), nv24w::encode(file));
    }
    nv24w::File odd = nv24w::make_file(2, 4.0);
    nv24w::add_frame(odd, {1, 2});
    odd.samples.push_back(7);
    odd.trailing = "xy";
    seeds.emplace_back("odd-frame", nv24w::encode(odd));
    seeds.emplace_back("empty-samples", nv24w::encode(nv24w::make_file(1)));
    // Samples enough to fill more than one read buffer, with an incomplete last frame.
    nv24w::File long_file = nv24w::make_file(2, 100.0);
    for (int32_t i = 0; i < 4500; ++i)
        nv24w::add_frame(long_file, {i, -i});
    long_file.samples.push_back(9);
    seeds.emplace_back("long", nv24w::encode(long_file));
    nv24w::File wide = nv24w::make_file(255, 1.0);
    nv24w::add_frame(wide, std::vector<int32_t>(255, 3));
    seeds.emplace_back("many-channels", nv24w::encode(wide));
    return seeds;
}

Seeds tm4_seeds() {
    using testwriters::Tm4File;
    const auto value = [](size_t line, size_t channel) {
        return static_cast<double>(line) * 1.5 - static_cast<double>(channel * 7);
    };
    Seeds seeds;
    Tm4File three;
    three.comment(testwriters::tm4_comment(20, "kiruna")).samples(1462060800.0, 20, 8, 3, value);
    seeds.emplace_back("three", three.text());
    Tm4File five;
    five.samples(100.0, 10, 6, 5, value).raw("100.6 1 2").comment("!S512Tidserier sampfrek: 18");
    seeds.emplace_back("five-nocomment", five.text());
    Tm4File mixed;
    mixed.comment(testwriters::tm4_comment(18, "nowhere"))
        .data(5.0, {1, 2, 3})
        .data(5.1, {1, 2, 3, 4, 5})
        .comment(testwriters::tm4_comment(10, "uppsala"))
        .data(5.2, {2.9, -2.9, 0, 1, 2});
    seeds.emplace_back("mixed", mixed.text());
    return seeds;
}

std::vector<legacywriter::Record> records(size_t count, size_t length, int minute_word, int step) {
    std::vector<legacywriter::Record> list;
    for (size_t i = 0; i < count; ++i)
        list.push_back(legacywriter::make_record(
            length, minute_word, static_cast<int>(i) * step % 60, static_cast<int>(i)));
    return list;
}

Seeds legacy_seeds() {
    using namespace legacywriter;
    const std::string s512 = form3_line('S', 512, "18", "2", "k", "2016-05-01", "06:00:00");
    const std::string s128 = form3_line('S', 128, "10", "1", "u");
    const auto [low, high] = unix_words(1452816000);
    std::vector<Record> unix_records{make_record(128, low, high), make_record(128, low + 13, high)};
    Seeds seeds;
    seeds.emplace_back("binary512", binary_image(s512, records(2, 512, 61, 28)));
    seeds.emplace_back("binary128", binary_image(s128, records(3, 128, 5, 13)));
    seeds.emplace_back("binary-unix",
                       binary_image(form3_line('U', 128, "10", "3", "j"), unix_records));
    seeds.emplace_back("binary-old", binary_image("Tidserier 18 1", records(2, 128, 0, 0), true));
    seeds.emplace_back("binary-form1", binary_image("!Tidserier 18 4", records(2, 128, 1439, 50)));
    seeds.emplace_back("ascii128", ascii_image(s128, records(2, 128, 7, 13)));
    seeds.emplace_back("ascii-crlf", ascii_image(s128, records(2, 128, 60, 13), false, true));
    seeds.emplace_back("ascii-old", ascii_image("Tidserier 18", records(1, 128, 0, 0), true));
    return seeds;
}

// A file name, a line feed, a comment line.
Seeds name_seeds() {
    using legacywriter::form3_line;
    return {
        {"year-dir", "data/2016/05/20160501/K6050112.bi1\n" + form3_line('S', 512, "18", "1", "k")},
        {"date-dir",
         "20160501/K6050131.as1\n" + form3_line('U', 128, "20", "2", "u", "2016-05-01")},
        {"long-name",
         "K2016050147.bin\n" + form3_line('S', 128, "10", "4", "j", "2016-05-01", "06:30:00")},
        {"short-name", "K6123100.bi1\n!Tidserier 18 2"},
        {"form2", "x\n!Tidserier  sampfrek: 16 gain: 3"},
    };
}

void save(const fs::path& dir, const Seeds& seeds) {
    fs::create_directories(dir);
    for (const auto& [name, bytes] : seeds) {
        std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            throw std::runtime_error("cannot write seed " + (dir / name).string());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    const fs::path dir = argv[1];
    const Seeds groups[] = {block_seeds(), tm4_seeds(), legacy_seeds()};
    const char* names[] = {"nv24", "tm4", "legacy"};
    try {
        for (size_t g = 0; g < 3; ++g) {
            save(dir / names[g], groups[g]);
            save(dir / "any", groups[g]);
        }
        save(dir / "names", name_seeds());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
