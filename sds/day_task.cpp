#include "day_task.h"

#include "day_writer.h"
#include "nevra24_write.h"
#include "output_names.h"
#include "results.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <unistd.h>

namespace sds {

namespace {

namespace fs = std::filesystem;

// The day files of each element for the day and its neighbours, with their stamps.
std::vector<std::vector<InputStamp>> input_files(const DayJob& job) {
    std::vector<std::vector<InputStamp>> files;
    for (const SeedId& id : job.elements) {
        auto& mine = files.emplace_back();
        for (const Day day : {job.day - 1, job.day, job.day + 1}) {
            const fs::path file = day_file(job.archive, id, day);
            mine.push_back({file, stamp_of(file)});
        }
    }
    return files;
}

std::vector<nvtools::Segment> read_element(const SeedId& id, const std::vector<InputStamp>& files,
                                           Day day) {
    std::vector<std::string> names;
    for (const InputStamp& input : files)
        if (input.stamp)
            names.push_back(input.file.string());
    std::vector<nvtools::Segment> segments;
    try {
        segments = nvtools::read_miniseed_files(names, {id.text()},
                                                {midnight_us(day), midnight_us(day + 1)});
    } catch (const std::runtime_error& e) {
        throw Error(e.what());
    }
    for (const nvtools::Segment& segment : segments)
        if (!segment.is_integer)
            throw Error(id.text() +
                        " holds floating-point samples, which vimsor's 32-bit integer samples "
                        "cannot hold exactly");
    return segments;
}

void write_piece(const fs::path& file, const Piece& piece) {
    std::vector<std::vector<int32_t>> samples;
    Nevra::NV24Recording recording;
    recording.start_ns = piece.start_ns;
    recording.sample_freq_hz = piece.rate_hz;
    for (const auto& channel : piece.channels)
        samples.emplace_back(channel.begin(), channel.end());  // whole numbers of 32 bits as read
    for (const auto& channel : samples)
        recording.channels.push_back({.samples = channel});
    try {
        Nevra::write_nv24_file(file.string(), recording);
    } catch (const std::runtime_error& e) {
        throw Error(e.what());
    }
}

void remove_file(const fs::path& file) {
    if (::unlink(file.c_str()) != 0 && errno != ENOENT)
        throw Error(file.string() + ": cannot be removed: " + std::strerror(errno));
}

// Where vimsor, run in the input's directory, puts its output of that extension.
fs::path output_of(const fs::path& input, const std::string& extension) {
    std::string name;
    if (form_output_name(input.string(), "", extension, name) != OUTPUT_NAME_FITS)
        throw Error(input.string() + ": vimsor cannot name its output");
    return input.parent_path() / name;
}

// This process's CPU time so far (its children's not included).
double process_cpu_seconds() {
    timespec now{};
    if (::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now) != 0)
        throw Error(std::string("the process's CPU time cannot be read: ") + std::strerror(errno));
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

std::vector<ResultTree> result_trees(const option_values& options) {
    const global_strength strength = strength_in_use(options);
    std::vector<ResultTree> trees;
    for (const global_strength which : {weak, strong})
        if (strength == which || strength == both)
            trees.push_back({which == weak ? "weak" : "strong",
                             output_extension(options.mode, which, options.bandp)});
    return trees;
}

DayOutcome run_day(const DayJob& job, const PieceRunner& runner) {
    if (job.options.mode != OUTPUT_MODE_TM4)
        throw Error("the day's runs must write TM4 results (-4)");
    const double cpu_at_start = process_cpu_seconds();
    double runner_cpu = 0;
    DayOutcome outcome;
    std::vector<std::vector<nvtools::Segment>> segments;
    std::vector<std::vector<const nvtools::Segment*>> runs;
    std::vector<std::string> ids;
    const auto files = input_files(job);
    for (size_t e = 0; e < job.elements.size(); ++e) {
        outcome.inputs.insert(outcome.inputs.end(), files[e].begin(), files[e].end());
        segments.push_back(read_element(job.elements[e], files[e], job.day));
        ids.push_back(job.elements[e].text());
    }
    for (const auto& element : segments) {
        auto& mine = runs.emplace_back();
        for (const nvtools::Segment& segment : element)
            mine.push_back(&segment);
    }
    const DayPieces day = common_pieces(runs, ids, job.day);
    outcome.samples_without_result = day.day_samples;
    outcome.pieces = day.pieces.size();
    outcome.no_data = day.pieces.empty();

    const std::vector<ResultTree> trees = result_trees(job.options);
    DayFileSet results(job.out);
    for (const ResultTree& tree : trees)
        for (const SeedId& id : job.elements)
            results.replaces(day_file(job.out / tree.name, id, job.day));
    for (size_t p = 0; p < day.pieces.size(); ++p) {
        const Piece& piece = day.pieces[p];
        const fs::path input = job.scratch / ("piece" + std::to_string(p) + ".nv24");
        write_piece(input, piece);
        const double cpu_before_run = process_cpu_seconds();
        runner(input);
        runner_cpu += process_cpu_seconds() - cpu_before_run;
        size_t rows = 0;
        for (const ResultTree& tree : trees) {
            const fs::path output = output_of(input, tree.extension);
            const auto values = read_piece_results(output, piece, job.elements.size());
            if (tree.name != trees.front().name && values.front().size() != rows)
                throw Error(output.string() + ": holds another number of rows than " +
                            output_of(input, trees.front().extension).string());
            rows = values.front().size();
            for (size_t e = 0; e < values.size(); ++e)
                results.add(job.elements[e], piece.rate_hz, piece.start_us, values[e], tree.name);
            remove_file(output);
        }
        remove_file(input);
        for (uint64_t& missing : outcome.samples_without_result)
            missing -= rows;
    }
    outcome.written = results.commit();
    outcome.conversion_cpu_seconds = process_cpu_seconds() - cpu_at_start - runner_cpu;
    return outcome;
}

}  // namespace sds
