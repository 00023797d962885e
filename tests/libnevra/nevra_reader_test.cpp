// Record reads of legacy binary and ASCII files, current and old-type, and
// the reader constructor's messages and process exits.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "legacy_writer.h"
#include "nevra.h"
#include "run.h"

namespace {

using legacywriter::Block;
using legacywriter::make_record;
using legacywriter::Record;

class LegacyRead : public ::testing::Test {
protected:
    template <typename Reader>
    std::unique_ptr<Nevra::NEVRA> open(const std::string& bytes, bool quiet = true, const std::string& name = "f.dat")
    {
        path = (dir / name).string();
        legacywriter::write(path, bytes);
        Nevra::NEVRA_arguments args;
        args.m_quiet = quiet;
        testing::internal::CaptureStderr();
        std::unique_ptr<Nevra::NEVRA> reader = std::make_unique<Reader>(path.c_str(), &args);
        err = testing::internal::GetCapturedStderr();
        return reader;
    }

    // One read with its messages captured into err.
    int read(Nevra::NEVRA& reader)
    {
        testing::internal::CaptureStderr();
        const int result = reader.read(nn, rtime);
        err = testing::internal::GetCapturedStderr();
        return result;
    }

    void expect_record(const Record& record, size_t length)
    {
        for (size_t ch = 0; ch < 3; ++ch)
            for (size_t s = 0; s < length; ++s)
                ASSERT_EQ(nn[ch][s], record[ch].samples[s]) << "channel " << ch << " sample " << s;
    }

    testrun::TempDir dir;
    std::string path, err;
    Nevra::atype nn{std::vector<double>(1028, -99.0), std::vector<double>(1028, -99.0),
                    std::vector<double>(1028, -99.0)};
    int rtime[2] = {-7, -7};
};

TEST_F(LegacyRead, Binary512TenRecordsAndExtraBytes)
{
    std::vector<Record> records;
    for (int i = 0; i < 10; ++i)
        records.push_back(make_record(512, 30 + i, i, -300 + 7 * i));
    auto r = open<Nevra::BinaryNEVRA>(
        legacywriter::binary_image(legacywriter::form3_line('S', 512, "18"), records) + std::string(100, 'x'));
    EXPECT_EQ(r->get_length(), 512u);
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(read(*r), 0) << "record " << i;
        expect_record(records[i], 512);
        EXPECT_EQ(rtime[0], 30 + i);
        EXPECT_EQ(rtime[1], i);
    }
    EXPECT_EQ(read(*r), -1);
    EXPECT_EQ(err, "fread: EOF\n");
}

TEST_F(LegacyRead, BinaryEndingAfterARecordEndsSilently)
{
    auto r = open<Nevra::BinaryNEVRA>(legacywriter::binary_image("!S128Tidserier sampfrek: 18", {make_record(128, 1, 2)}));
    EXPECT_EQ(r->get_length(), 128u);
    ASSERT_EQ(read(*r), 0);
    EXPECT_EQ(read(*r), -1);
    EXPECT_EQ(err, "");
}

TEST_F(LegacyRead, BlockLengthFromCommentLine)
{
    const std::pair<std::string, size_t> cases[] = {
        {"!S512Tidserier sampfrek: 18", 512}, {"!S128Tidserier sampfrek: 18", 128}, {"!U512x", 512},
        {"!s128Tidserier", 128},              {"!u512", 512},                       {"!512", 128},
        {"!S256Tidserier sampfrek: 18", 128}, {"!S999999999999999999999", 128},     {"!Tidserier 18 1", 128},
        {"T1", 128},
    };
    for (const auto& [line, length] : cases) {
        SCOPED_TRACE(line);
        auto r = open<Nevra::BinaryNEVRA>(legacywriter::binary_image(line, {}));
        EXPECT_EQ(r->get_length(), length);
        EXPECT_EQ(std::string(r->firstline()), line);
    }
}

TEST_F(LegacyRead, BinarySampleAndTimeWordSigns)
{
    Record record = make_record(128, 0, 0);
    record[1].samples[0] = -32768;
    record[2].samples[5] = 32767;
    for (Block& b : record) {
        b.minute_word = 0xFFFF;
        b.second_word = 0x8000;
    }
    auto s = open<Nevra::BinaryNEVRA>(legacywriter::binary_image("!S128Tidserier sampfrek: 18", {record}));
    ASSERT_EQ(read(*s), 0);
    expect_record(record, 128);
    EXPECT_EQ(nn[1][0], -32768.0);
    EXPECT_EQ(rtime[0], -1);
    EXPECT_EQ(rtime[1], -32768);
    auto u = open<Nevra::BinaryNEVRA>(legacywriter::binary_image("!U128Tidserier sampfrek: 18", {record}));
    ASSERT_EQ(read(*u), 0);
    EXPECT_EQ(rtime[0], 65535);
    EXPECT_EQ(rtime[1], 32768);
}

TEST_F(LegacyRead, TimeWordsComeFromTheThirdBlock)
{
    Record record = make_record(128, 5, 6);
    record[0].minute_word = 100;
    record[1].second_word = 50;
    record[2].minute_word = 7;
    record[2].second_word = 8;
    auto r = open<Nevra::BinaryNEVRA>(legacywriter::binary_image("!S128Tidserier sampfrek: 18", {record}));
    ASSERT_EQ(read(*r), 0);
    EXPECT_EQ(rtime[0], 7);
    EXPECT_EQ(rtime[1], 8);
}

TEST_F(LegacyRead, OldTypeBinaryHasNoTimeWords)
{
    const Record record = make_record(128, 0, 0, 11);
    const std::string image = legacywriter::binary_image("T old type", {record, record}, true);
    auto r = open<Nevra::BinaryNEVRA>(image.substr(0, image.size() - 1));  // second record cut short
    ASSERT_EQ(read(*r), 0);
    expect_record(record, 128);
    EXPECT_EQ(rtime[0], -7);
    EXPECT_EQ(rtime[1], -7);
    EXPECT_EQ(read(*r), -1);
    EXPECT_EQ(err, "fread: EOF\n");
}

TEST_F(LegacyRead, FileWithoutCommentLineIsAllRecords)
{
    const Record record = make_record(128, 40, 2, 1);  // the first byte, 40, is '('
    auto r = open<Nevra::BinaryNEVRA>(legacywriter::binary_image("", {record}));
    EXPECT_STREQ(r->firstline(), "");
    EXPECT_DOUBLE_EQ(r->get_frequency(), 18.0);
    ASSERT_EQ(read(*r), 0);
    expect_record(record, 128);
    EXPECT_EQ(rtime[0], 40);
}

TEST_F(LegacyRead, AsciiCurrentAndCrlf)
{
    for (bool crlf : {false, true}) {
        SCOPED_TRACE(crlf);
        const std::vector<Record> records = {make_record(128, 61, 2, -64), make_record(128, 61, 9, 5)};
        auto r = open<Nevra::AsciiNEVRA>(
            legacywriter::ascii_image("!S128Tidserier sampfrek: 16 gain: 2", records, false, crlf));
        EXPECT_STREQ(r->firstline(), "!S128Tidserier sampfrek: 16 gain: 2");
        EXPECT_DOUBLE_EQ(r->get_frequency(), 16.0);
        for (const Record& record : records) {
            ASSERT_EQ(read(*r), 0);
            expect_record(record, 128);
            EXPECT_EQ(rtime[0], 61);
            EXPECT_EQ(rtime[1], record[2].second_word);
        }
        EXPECT_EQ(read(*r), -1);
        EXPECT_EQ(err, "");
    }
}

TEST_F(LegacyRead, AsciiSkipsCommentTextAndEmptyLinesButNotCrlfBlankLines)
{
    const std::string comment = "!S128Tidserier sampfrek: 18";
    const std::string block = legacywriter::ascii_image("", {make_record(128, 3, 4)});
    const size_t first_end = block.find('\n') + 1;
    const std::string body = "!note\nText line\n\n" + block.substr(0, first_end) + "\n!x\n" + block.substr(first_end);
    auto r = open<Nevra::AsciiNEVRA>(comment + "\n" + body + "\r\n" + block);
    ASSERT_EQ(read(*r), 0);
    expect_record(make_record(128, 3, 4), 128);
    EXPECT_EQ(read(*r), -1);  // "\r\n" is not an empty line
    EXPECT_EQ(err, "");
}

TEST_F(LegacyRead, AsciiValuesAndRounding)
{
    std::string line = "1.5 -2.5";
    for (int s = 0; s < 128; ++s)
        line += " " + std::to_string(s) + ".25";
    line += " 999 extra\n";
    auto r = open<Nevra::AsciiNEVRA>("!S128Tidserier sampfrek: 18\n" + line + line + "2.49 1e1" + line.substr(8));
    ASSERT_EQ(read(*r), 0);
    EXPECT_EQ(nn[0][0], 0.25);
    EXPECT_EQ(nn[2][127], 127.25);
    EXPECT_EQ(nn[0][128], -99.0);  // values after the 128th are ignored
    EXPECT_EQ(rtime[0], 2);
    EXPECT_EQ(rtime[1], 10);
    auto h = open<Nevra::AsciiNEVRA>("!S128Tidserier sampfrek: 18\n" + line + line + line);
    ASSERT_EQ(read(*h), 0);
    EXPECT_EQ(rtime[0], 2);   // 1.5, half away from zero
    EXPECT_EQ(rtime[1], -3);  // -2.5
}

TEST_F(LegacyRead, AsciiOneValueTooFew)
{
    std::string line = "0 0";
    for (int s = 0; s < 127; ++s)
        line += " 1";
    line += " x\n";
    auto r = open<Nevra::AsciiNEVRA>("!S128Tidserier sampfrek: 18\n" + line);
    EXPECT_EQ(read(*r), -1);
    EXPECT_EQ(err, "Failed to read value 129 of line:\n" + line + "\n");
}

TEST_F(LegacyRead, AsciiMissingTimeValuesFailSilently)
{
    auto r = open<Nevra::AsciiNEVRA>("!S128Tidserier sampfrek: 18\n5\n");
    EXPECT_EQ(read(*r), -1);
    EXPECT_EQ(err, "");
}

TEST_F(LegacyRead, AsciiOldType)
{
    const Record record = make_record(128, 0, 0, -20);
    auto r = open<Nevra::AsciiNEVRA>(legacywriter::ascii_image("T old", {record}, true));
    ASSERT_EQ(read(*r), 0);
    expect_record(record, 128);
    EXPECT_EQ(rtime[0], -7);
}

TEST_F(LegacyRead, AsciiLineTooLong)
{
    auto r = open<Nevra::AsciiNEVRA>("!S128Tidserier sampfrek: 18\n" + std::string(60000, '1') + "\n");
    EXPECT_EQ(read(*r), -1);
    EXPECT_EQ(err, "Error: Line to long\n");
}

TEST_F(LegacyRead, ConstructionMessages)
{
    open<Nevra::BinaryNEVRA>("!Tidserier 18 1\r");  // the zone is UTC from here on
    open<Nevra::BinaryNEVRA>(legacywriter::binary_image(legacywriter::form3_line('S', 128, "18", "1", "kiruna",
                                                                                  "2016-01-15"), {}),
                             false);
    EXPECT_EQ(err, "File: " + path + " Type:binary\n");
    open<Nevra::AsciiNEVRA>("!Tidserier 18 1\n", false, "K6011512.txt");
    EXPECT_EQ(err, "File: " + path + " Type:text\nWarning: year parsed from filename, " + path + ", is uncertain\n");
    auto r = open<Nevra::AsciiNEVRA>("!Tidserier 18 1\n", true);
    EXPECT_EQ(err, "Warning: year parsed from filename, " + path + ", is uncertain\n");
    EXPECT_STREQ(r->type(), "text");
    EXPECT_FALSE(r->is_binary());
}

TEST_F(LegacyRead, TimeZoneIsSetToUtcOnce)
{
    const std::string bytes = legacywriter::binary_image("!Tidserier 18 1", {});
    legacywriter::write(dir / "a.dat", bytes);
    const std::string a = (dir / "a.dat").string();
    const auto construct_twice = [&](bool quiet) {
        setenv("TZ", "CET-1", 1);
        tzset();
        Nevra::NEVRA_arguments args;
        args.m_quiet = quiet;
        Nevra::BinaryNEVRA first(a.c_str(), &args);
        Nevra::BinaryNEVRA second(a.c_str(), &args);
        const time_t noon = 43200;
        struct tm local {};
        localtime_r(&noon, &local);
        std::exit(local.tm_hour == 12 ? 0 : 2);
    };
    EXPECT_EXIT(construct_twice(false), testing::ExitedWithCode(0),
                "^Info: setting TZ=UTC\nFile: [^\n]*a.dat Type:binary\nWarning[^\n]*\nFile: [^\n]*a.dat Type:binary\n");
    EXPECT_EXIT(construct_twice(true), testing::ExitedWithCode(0), testing::Not(testing::HasSubstr("Info")));
}

TEST_F(LegacyRead, FatalConditionsEndTheProcess)
{
    Nevra::NEVRA_arguments args;
    const std::string missing = (dir / "K6011512.bi1").string();
    EXPECT_EXIT(Nevra::BinaryNEVRA(missing.c_str(), &args), testing::ExitedWithCode(1),
                "Can't open " + missing + "\n");

    legacywriter::write(dir / "nodate.bin", "!Tidserier 18 1\r");
    const std::string nodate = (dir / "nodate.bin").string();
    args.m_fail_parse_path = true;
    EXPECT_EXIT(Nevra::BinaryNEVRA(nodate.c_str(), &args), testing::ExitedWithCode(1),
                "Can't parse date & time from path \\(" + nodate + "\\) & fail_parse_path == 1\n");
    args.m_fail_parse_path = false;

    for (const char* bytes : {"!S512Tidserier sampfrek: 18\n1 2 3", ""}) {
        legacywriter::write(dir / "open.bin", bytes);
        const std::string open_line = (dir / "open.bin").string();
        EXPECT_EXIT(Nevra::BinaryNEVRA(open_line.c_str(), &args), testing::ExitedWithCode(1), "fgetc: EOF \n$");
    }
    legacywriter::write(dir / "open.txt", "!S512Tidserier sampfrek: 18\r");
    const std::string open_text = (dir / "open.txt").string();
    EXPECT_EXIT(Nevra::AsciiNEVRA(open_text.c_str(), &args), testing::ExitedWithCode(1), "fgetc: EOF \n$");
}

}  // namespace
