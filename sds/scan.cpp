#include "scan.h"

#include "seed_codes.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <system_error>

namespace sds {

namespace {

namespace fs = std::filesystem;

enum Field { network_field = 0, station_field = 1, channel_field = 3 };

// Skips directories that no pattern can lead into. A pattern with exactly
// three dots and no bracket expression or escape matches an id (which has
// three dots) exactly when each of its four parts matches the id's code in
// that place, so its parts can be tried on single directory names. Any other
// pattern may match anything. The ids are chosen by the whole patterns later;
// this only saves listing directories.
class DirectoryFilter {
public:
    explicit DirectoryFilter(const std::vector<std::string>& patterns) {
        open_ = patterns.empty();
        for (const std::string& pattern : patterns) {
            const auto parts = split(pattern);
            if (parts.size() != 4 || pattern.find_first_of("[\\") != std::string::npos)
                open_ = true;
            else
                parts_.push_back(parts);
        }
    }

    bool may_enter(Field field, const std::string& code) const {
        return open_ || std::any_of(parts_.begin(), parts_.end(), [&](const auto& parts) {
                   return !nvtools::select_ids({code}, {parts[field]}).empty();
               });
    }

private:
    static std::vector<std::string> split(const std::string& pattern) {
        std::vector<std::string> parts(1);
        for (char c : pattern)
            if (c == '.')
                parts.emplace_back();
            else
                parts.back().push_back(c);
        return parts;
    }

    bool open_ = false;
    std::vector<std::vector<std::string>> parts_;
};

Error cannot_read(const fs::path& path, const std::error_code& error) {
    return Error(path.string() + ": cannot be read: " + error.message());
}

enum class Kind { directory, regular_file };

bool is_kind(const fs::directory_entry& entry, Kind kind) {
    std::error_code ignored;
    return kind == Kind::directory ? entry.is_directory(ignored) : entry.is_regular_file(ignored);
}

// The names of dir's entries of that kind (links followed); none when dir
// does not exist. Throws Error naming dir when it cannot be listed.
std::vector<std::string> entries(const fs::path& dir, Kind kind) {
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator it(dir, error);
    if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory)
        return names;
    for (; !error && it != fs::directory_iterator(); it.increment(error))
        if (is_kind(*it, kind))
            names.push_back(it->path().filename().string());
    if (error)
        throw cannot_read(dir, error);
    return names;
}

// A day file found within the scanned days.
struct Found {
    SeedId id;
    std::vector<std::pair<size_t, fs::path>> files;  // (index of the day, path)
    bool within_range = false;
};

class Walk {
public:
    Walk(const fs::path& root, const std::vector<std::string>& patterns, DayRange range)
        : root_(root),
          filter_(patterns),
          first_(range.first - 1),
          range_(range),
          day_count_(static_cast<size_t>(range.size() + 2)) {}

    std::map<std::string, Found> run() {
        const int first_year = year_day(first_).year;
        const int last_year = year_day(first_ + static_cast<int64_t>(day_count_ - 1)).year;
        for (int year = first_year; year <= last_year; ++year)
            year_directory(year);
        return std::move(found_);
    }

private:
    void year_directory(int year) {
        const fs::path dir = root_ / sds::year_directory(year);
        for (const auto& net : entries(dir, Kind::directory)) {
            if (!filter_.may_enter(network_field, net))
                continue;
            for (const auto& sta : entries(dir / net, Kind::directory)) {
                if (!filter_.may_enter(station_field, sta))
                    continue;
                for (const auto& cha_dir : entries(dir / net / sta, Kind::directory)) {
                    const auto cha = channel_of_directory(cha_dir);
                    if (cha && filter_.may_enter(channel_field, *cha))
                        day_files(dir / net / sta / cha_dir, year, net, sta, *cha);
                }
            }
        }
    }

    // Keeps the files of this directory whose name says they belong here.
    void day_files(const fs::path& dir, int year, const std::string& net, const std::string& sta,
                   const std::string& cha) {
        for (const std::string& name : entries(dir, Kind::regular_file)) {
            const auto file = parse_day_file_name(name);
            if (!file || file->day.year != year || file->id.network != net ||
                file->id.station != sta || file->id.channel != cha)
                continue;
            const Day day = day_of(file->day);
            if (day < first_ || day.number - first_.number >= static_cast<int64_t>(day_count_))
                continue;
            Found& found = found_[file->id.text()];
            found.id = file->id;
            found.files.emplace_back(day.number - first_.number, dir / name);
            found.within_range = found.within_range || range_.contains(day);
        }
    }

    fs::path root_;
    DirectoryFilter filter_;
    Day first_;
    DayRange range_;
    size_t day_count_;
    std::map<std::string, Found> found_;
};

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : ", ") + word;
    return text;
}

void check_element_count(const fs::path& root, const std::vector<std::string>& patterns,
                         DayRange range, const std::vector<std::string>& ids) {
    if (ids.size() >= min_elements && ids.size() <= max_elements)
        return;
    throw Error(root.string() + ": the channels " + (patterns.empty() ? "*" : joined(patterns)) +
                " match " + std::to_string(ids.size()) + " ids with day files from " +
                day_text(range.first) + " to " + day_text(range.last) + ", where " +
                std::to_string(min_elements) + " to " + std::to_string(max_elements) +
                " are needed" + (ids.empty() ? "" : ": " + joined(ids)));
}

}  // namespace

std::optional<FileStamp> stamp_of(const fs::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        throw Error(file.string() + ": cannot be read: " + std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode))
        return std::nullopt;
    return FileStamp{
        static_cast<uint64_t>(status.st_size),
        static_cast<int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

ArchiveScan scan_archive(const fs::path& root, const std::vector<std::string>& patterns,
                         DayRange range) {
    std::error_code error;
    if (!fs::is_directory(root, error))
        throw Error(root.string() + ": " + (error ? error.message() : "not a directory"));
    std::map<std::string, Found> found = Walk(root, patterns, range).run();

    std::vector<std::string> candidates;
    for (const auto& [text, f] : found)
        if (f.within_range)
            candidates.push_back(text);
    std::vector<std::string> ids = nvtools::select_ids(candidates, patterns);
    std::sort(ids.begin(), ids.end());
    check_element_count(root, patterns, range, ids);

    ArchiveScan scan;
    for (int64_t d = -1; d <= range.size(); ++d)
        scan.days.push_back({range.first + d, std::vector<std::optional<FileStamp>>(ids.size())});
    for (size_t k = 0; k < ids.size(); ++k) {
        const Found& f = found.at(ids[k]);
        scan.elements.push_back(f.id);
        for (const auto& [index, path] : f.files)
            scan.days[index].files[k] = stamp_of(path);
    }
    return scan;
}

}  // namespace sds
