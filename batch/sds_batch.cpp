#include "sds_batch.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <sstream>

#include "batch_error.h"
#include "files.h"
#include "manifest.h"
#include "plan.h"

namespace {

std::string stamp_text(const std::optional<sds::FileStamp>& stamp) {
    return stamp ? std::to_string(stamp->size) + ":" + std::to_string(stamp->mtime_ns) : "-";
}

std::optional<sds::FileStamp> parse_stamp(const std::string& word, const std::string& path) {
    if (word == "-")
        return std::nullopt;
    sds::FileStamp stamp;
    char colon = 0;
    std::istringstream in(word);
    if (!(in >> stamp.size >> colon >> stamp.mtime_ns) || colon != ':' || !in.eof())
        throw batch_error(path + " is not a day record (stamp " + word + ")");
    return stamp;
}

// The stamps of the day files a day reads now, in the order of its record.
std::vector<std::optional<sds::FileStamp>> stamps_now(const sds_batch& batch, sds::Day day) {
    std::vector<std::optional<sds::FileStamp>> stamps;
    for (const sds::SeedId& id : batch.elements)
        for (const sds::Day read : {day - 1, day, day + 1})
            stamps.push_back(sds::stamp_of(sds::day_file(batch.root, id, read)));
    return stamps;
}

template <typename Each>
void for_each_done_day(const batch_layout& layout, const std::vector<planned_input>& days,
                       Each each) {
    for (std::size_t index = 1; index <= days.size(); ++index) {
        const std::string path = layout.record(index, record_state::done);
        std::string text;
        try {
            text = read_file(path);
        } catch (const batch_error&) {
            continue;  // not done
        }
        each(index, sds::parse_day(days[index - 1].input), parse_day_record(text, path));
    }
}

}  // namespace

std::optional<sds_batch> open_sds(const batch_layout& layout) {
    if (access(layout.sds().c_str(), F_OK) != 0)
        return std::nullopt;
    const std::vector<std::string> words = split_nul_terminated(read_file(layout.sds()));
    if (words.empty())
        throw batch_error(layout.sds() + " names no archive");
    sds_batch batch{words.front(), {}};
    for (std::size_t k = 1; k < words.size(); ++k) {
        const auto id = sds::parse_seed_id(words[k]);
        if (!id)
            throw batch_error(layout.sds() + " holds " + words[k] + ", which is no SEED id");
        batch.elements.push_back(*id);
    }
    return batch;
}

run_options sds_run_options(const std::vector<std::string>& words) {
    const run_options given = read_run_options(words);
    const auto mode = std::find_if(given.seen.rbegin(), given.seen.rend(), [](const std::string& seen) {
        return seen == "mode" || seen == "4";
    });
    if (given.values.mode == OUTPUT_MODE_TM4)
        return given;
    if (mode != given.seen.rend())
        throw batch_error("--" + *mode +
                          " is not taken: the results of an SDS archive are made from vimsor's TM4 "
                          "output");
    std::vector<std::string> with_tm4 = words;
    with_tm4.push_back("-4");
    return read_run_options(with_tm4);
}

std::size_t make_sds_plan(const std::string& dir, const sds_request& request,
                          const std::vector<std::string>& option_words) {
    const run_options options = sds_run_options(option_words);
    const batch_layout layout{absolute_path(dir)};
    check_no_plan(layout, dir);
    sds::ArchiveScan scan;
    sds::DayRange range;
    try {
        range = sds::parse_day_range(request.from, request.to);
        scan = sds::scan_archive(request.root, request.patterns, range);
    } catch (const sds::Error& e) {
        throw batch_error(e.what());
    }
    std::vector<std::string> trees;
    for (const sds::ResultTree& tree : sds::result_trees(options.values))
        trees.push_back(tree.name.string());
    std::vector<planned_input> days;
    for (sds::Day day = range.first; day <= range.last; day = day + 1)
        days.push_back({sds::day_text(day), trees});
    std::vector<std::string> description{absolute_path(request.root)};
    for (const sds::SeedId& id : scan.elements)
        description.push_back(id.text());
    write_plan(layout, options.words, days, {{layout.sds(), nul_terminated(description)}});
    return days.size();
}

std::string day_record_text(const sds::DayOutcome& outcome) {
    std::string text = std::string("no_data=") + (outcome.no_data ? "1" : "0") + "\nwithout_result=";
    for (std::size_t e = 0; e < outcome.samples_without_result.size(); ++e)
        text += (e == 0 ? "" : " ") + std::to_string(outcome.samples_without_result[e]);
    text += "\nconversion_cpu_seconds=" + std::to_string(outcome.conversion_cpu_seconds);
    text += "\nstamps=";
    for (std::size_t k = 0; k < outcome.inputs.size(); ++k)
        text += (k == 0 ? "" : " ") + stamp_text(outcome.inputs[k].stamp);
    return text + "\n";
}

day_record parse_day_record(const std::string& text, const std::string& path) {
    day_record record;
    std::istringstream lines(text);
    bool complete = false;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t equals = line.find('=');
        const std::string key = line.substr(0, equals);
        std::istringstream words(equals == std::string::npos ? "" : line.substr(equals + 1));
        if (key == "no_data") {
            record.no_data = line.substr(equals + 1) == "1";
        } else if (key == "without_result") {
            for (uint64_t count; words >> count;)
                record.without_result.push_back(count);
        } else if (key == "stamps") {
            for (std::string word; words >> word;)
                record.stamps.push_back(parse_stamp(word, path));
            complete = true;
        }
    }
    if (!complete)
        throw batch_error(path + " is not a day record");
    return record;
}

bool day_changed(const sds_batch& batch, sds::Day day, const day_record& record) {
    return stamps_now(batch, day) != record.stamps;
}

sds_figures sds_figures_of(const batch_layout& layout, const sds_batch& batch,
                           const std::vector<planned_input>& days) {
    sds_figures figures;
    for_each_done_day(layout, days, [&](std::size_t index, sds::Day day, const day_record& record) {
        figures.no_data += record.no_data ? 1 : 0;
        for (const uint64_t count : record.without_result)
            figures.without_result += count;
        if (day_changed(batch, day, record))
            figures.changed.push_back(index);
    });
    return figures;
}

std::size_t reopen_changed_days(const batch_layout& layout) {
    const std::optional<sds_batch> batch = open_sds(layout);
    if (!batch)
        throw batch_error("--changed is taken for batches of an SDS archive only");
    const std::vector<planned_input> days = parse_manifest(read_file(layout.manifest()), layout.manifest());
    const sds_figures figures = sds_figures_of(layout, *batch, days);
    for (const std::size_t index : figures.changed) {
        const std::string path = layout.record(index, record_state::done);
        if (unlink(path.c_str()) != 0 && errno != ENOENT)
            throw batch_error("cannot remove " + path + ": " + reason_of(errno));
    }
    return figures.changed.size();
}
