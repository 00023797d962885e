// Record delivery: record times, look-ahead joins, time gaps and their report.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "legacy_writer.h"
#include "nevra.h"
#include "run.h"

namespace {

using legacywriter::make_record;
using legacywriter::Record;

class Delivery : public ::testing::Test {
protected:
    // A binary file at 18 Hz with one record per entry of seconds (minute of
    // day and second); record i has samples starting at 3000 * i.
    std::unique_ptr<Nevra::NEVRA> open(size_t length, const std::vector<int>& seconds, bool concat,
                                       const std::string& name = "f.bin")
    {
        std::vector<Record> records;
        for (size_t i = 0; i < seconds.size(); ++i)
            records.push_back(make_record(length, seconds[i] / 60, seconds[i] % 60, static_cast<int>(3000 * i)));
        const std::string comment = "!S" + std::to_string(length) + "Tidserier sampfrek: 18";
        return open_bytes(legacywriter::binary_image(comment, records), concat, name);
    }

    std::unique_ptr<Nevra::NEVRA> open_bytes(const std::string& bytes, bool concat, const std::string& name = "f.bin")
    {
        const auto file = dir / name;
        std::filesystem::create_directories(file.parent_path());
        legacywriter::write(file, bytes);
        Nevra::NEVRA_arguments args;
        args.m_quiet = true;
        args.m_concat = concat;
        testing::internal::CaptureStderr();
        std::unique_ptr<Nevra::NEVRA> reader = std::make_unique<Nevra::BinaryNEVRA>(file.c_str(), &args);
        testing::internal::GetCapturedStderr();
        return reader;
    }

    // Delivers every record; returns for each whether it was joined to its successor.
    static std::vector<bool> deliver_all(Nevra::NEVRA& reader, size_t length)
    {
        std::vector<bool> joined;
        for (int i = 0; reader.getdata() == 0; ++i) {
            EXPECT_EQ(reader.current[0][0], 3000.0 * i) << "record " << i;
            if (reader.extended_data()) {
                EXPECT_EQ(reader.current[2][length], 3000.0 * (i + 1) + 2000) << "record " << i;
            }
            joined.push_back(reader.extended_data());
        }
        return joined;
    }

    static std::string destroy(std::unique_ptr<Nevra::NEVRA>& reader)
    {
        testing::internal::CaptureStderr();
        reader.reset();
        return testing::internal::GetCapturedStderr();
    }

    testrun::TempDir dir;
};

constexpr int t0 = 600;  // minute word 10: counts from midnight, not from the hour base

TEST_F(Delivery, JoinLimitIsOneBlockPlusTwoSeconds)
{
    // 512 / 18 + 2 = 30.44 s
    auto r = open(512, {t0, t0 + 28, t0 + 58, t0 + 89, t0 + 89, t0 + 59, t0 + 28}, true);
    EXPECT_EQ(deliver_all(*r, 512), (std::vector<bool>{true, true, false, true, true, false, false}));
    EXPECT_EQ(r->timegaps(), 2);
    EXPECT_EQ(destroy(r), "Warning: TIMEGAPs in data\n");
}

TEST_F(Delivery, OneGapAndNoGap)
{
    auto one = open(128, {t0, t0 + 9, t0 + 19}, true);  // 128 / 18 + 2 = 9.11 s
    EXPECT_EQ(deliver_all(*one, 128), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(destroy(one), "TIMEGAP in data\n");
    auto none = open(128, {t0, t0 + 7, t0 + 14}, true);
    EXPECT_EQ(deliver_all(*none, 128), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(destroy(none), "");
}

TEST_F(Delivery, MidnightWrapIsNoGap)
{
    const int before_midnight = 1439 * 60 + 50;
    auto wide = open(512, {before_midnight, 0}, true);
    EXPECT_EQ(deliver_all(*wide, 512), (std::vector<bool>{true, false}));
    EXPECT_EQ(wide->timegaps(), 0);
    auto narrow = open(128, {before_midnight, 0}, true);
    EXPECT_EQ(deliver_all(*narrow, 128), (std::vector<bool>{false, false}));
    EXPECT_EQ(narrow->timegaps(), 1);
}

TEST_F(Delivery, WithoutLookAheadEveryRecordIsPlain)
{
    auto r = open(128, {t0, t0 + 1000, t0 + 5000}, false);
    EXPECT_EQ(deliver_all(*r, 128), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(r->timegaps(), 0);
    EXPECT_EQ(destroy(r), "");
}

TEST_F(Delivery, FailedLookAheadStillDeliversTheCurrentRecord)
{
    std::string bytes = legacywriter::binary_image("!S128Tidserier sampfrek: 18",
                                                   {make_record(128, 10, 0), make_record(128, 10, 5, 3000)});
    bytes.resize(bytes.size() - 10);
    auto r = open_bytes(bytes, true);
    testing::internal::CaptureStderr();
    EXPECT_EQ(r->getdata(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "fread: EOF\n");
    EXPECT_FALSE(r->extended_data());
    EXPECT_EQ(r->get_nvtime(0), 600);
    EXPECT_EQ(r->getdata(), -1);
}

TEST_F(Delivery, RecordTimesWithHourBase)
{
    // 2016-01-15, hour base 6 h.
    const time_t day = 1452816000;
    auto r = open(128, {30 * 60 + 15, 75 * 60 + 3}, false, "20160115/K6011512.bi1");
    ASSERT_EQ(r->getdata(), 0);
    EXPECT_EQ(r->get_nvtime(0), day + 21600 + 1800 + 15);
    ASSERT_EQ(r->getdata(), 0);
    EXPECT_EQ(r->get_nvtime(0), day + 75 * 60 + 3);

    Record negative = make_record(128, 0, 0);
    for (auto& block : negative) {
        block.minute_word = -1;
        block.second_word = 20;
    }
    auto n = open_bytes(legacywriter::binary_image("!S128Tidserier sampfrek: 18", {negative}), false,
                        "20160115/K6011512.bi1");
    ASSERT_EQ(n->getdata(), 0);
    EXPECT_EQ(n->get_nvtime(0), day + 21600 - 60 + 20);
}

TEST_F(Delivery, UnixTimeWords)
{
    Record record = make_record(512, 0x3680, 0x5698);
    const auto [low, high] = legacywriter::unix_words(0xF0000001u);
    Record late = make_record(512, low, high);
    auto r = open_bytes(legacywriter::binary_image(legacywriter::form3_line('U', 512, "18"), {record, late}), false);
    EXPECT_TRUE(r->is_unixtime());
    ASSERT_EQ(r->getdata(), 0);
    EXPECT_EQ(r->get_nvtime(0), 1452816000);
    ASSERT_EQ(r->getdata(), 0);
    EXPECT_EQ(r->get_nvtime(0), static_cast<time_t>(static_cast<int32_t>(0xF0000001u)));  // signed 32-bit sum
}

}  // namespace
