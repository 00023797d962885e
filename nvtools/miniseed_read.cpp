#include "miniseed_read.h"

#include "file_bytes.h"
#include "iso_time.h"
#include "miniseed_join.h"
#include "seed_codes.h"

#include <libmseed.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <optional>
#include <stdexcept>

namespace nvtools {

namespace {

// The fixed header of a data record.
constexpr int fixed_header_bytes = 48;
// Activity flags: a positive or a negative leap second during the record.
constexpr std::uint8_t leap_second_flags = 0x10 | 0x20;
// A Steim frame: 16 words, the first of which holds the nibbles; the first
// frame's words 1 and 2 hold X0 and Xn.
constexpr std::int64_t steim_frame_bytes = 64;
constexpr std::int64_t steim_data_words = 15;

// The record libmseed parses or decodes into, reused from record to record.
struct RecordHolder {
    MSRecord* record = nullptr;
    RecordHolder() = default;
    ~RecordHolder() { msr_free(&record); }
    RecordHolder(const RecordHolder&) = delete;
    RecordHolder& operator=(const RecordHolder&) = delete;
};

// A record's header, as far as reading needs it.
struct RecordHeader {
    size_t trace = 0;  // index into the ids
    size_t offset = 0;
    int length = 0;
    std::int64_t start_us = 0;
    double rate_hz = 0.0;
    std::int64_t samples = 0;
    int encoding = 0;
    int data_offset = 0;
    std::uint8_t activity = 0;
};

struct ParsedFile {
    std::vector<std::string> ids;
    std::vector<RecordHeader> records;
};

std::string record_name(const std::string& id, const RecordHeader& record) {
    return "record of " + id + " at " + iso_time_us(record.start_us);
}

// Samples the record's data bytes hold at most in its encoding; -1 for an
// encoding libmseed cannot decode.
std::int64_t sample_capacity(int encoding, std::int64_t bytes) {
    const std::int64_t frames = bytes / steim_frame_bytes;
    switch (encoding) {
    case DE_INT16:
    case DE_GEOSCOPE163:
    case DE_GEOSCOPE164:
    case DE_CDSN:
    case DE_SRO:
    case DE_DWWSSN: return bytes / 2;
    case DE_GEOSCOPE24: return bytes / 3;
    case DE_INT32:
    case DE_FLOAT32: return bytes / 4;
    case DE_FLOAT64: return bytes / 8;
    case DE_STEIM1: return std::max<std::int64_t>(0, (frames * steim_data_words - 2) * 4);
    case DE_STEIM2: return std::max<std::int64_t>(0, (frames * steim_data_words - 2) * 7);
    default: return -1;
    }
}

std::int32_t word_at(const char* bytes, bool big_endian) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    const std::uint32_t word =
        big_endian ? (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
                         (std::uint32_t{b[2]} << 8) | b[3]
                   : (std::uint32_t{b[3]} << 24) | (std::uint32_t{b[2]} << 16) |
                         (std::uint32_t{b[1]} << 8) | b[0];
    return static_cast<std::int32_t>(word);
}

RecordHeader header_of(const MSRecord& parsed, size_t offset, size_t trace) {
    RecordHeader header;
    header.trace = trace;
    header.offset = offset;
    header.length = parsed.reclen;
    header.start_us = parsed.starttime;
    header.rate_hz = parsed.samprate;
    header.samples = parsed.samplecnt;
    header.encoding = parsed.encoding;
    header.data_offset = parsed.fsdh->data_offset;
    header.activity = parsed.fsdh->act_flags;
    return header;
}

// Every record's header; the bytes must be whole records from start to end.
ParsedFile parse_records(std::string& bytes) {
    ParsedFile parsed;
    std::map<std::string, size_t> trace_of_id;
    RecordHolder holder;
    size_t offset = 0;
    while (offset < bytes.size()) {
        const int available = static_cast<int>(std::min<size_t>(bytes.size() - offset, INT_MAX));
        const int result = msr_parse(bytes.data() + offset, available, &holder.record, 0, 0, 0);
        const MSRecord* record = holder.record;
        if (result > 0)
            throw std::runtime_error("truncated miniSEED file: " +
                                     std::to_string(bytes.size() - offset) +
                                     " bytes after the last whole record");
        if (result < 0 || record == nullptr || record->reclen <= 0)
            throw std::runtime_error(std::string("not a readable miniSEED file (") +
                                     ms_errorstr(result) + " at byte " + std::to_string(offset) +
                                     ")");
        const std::string id = seed_id(record->network, record->station, record->location,
                                       record->channel);
        const auto [entry, added] = trace_of_id.try_emplace(id, parsed.ids.size());
        if (added)
            parsed.ids.push_back(id);
        parsed.records.push_back(header_of(*record, offset, entry->second));
        offset += static_cast<size_t>(record->reclen);
    }
    return parsed;
}

// The refusals that need only the header: made before any decoding.
void check_header(const std::string& id, const RecordHeader& record) {
    if ((record.activity & leap_second_flags) != 0)
        throw std::runtime_error(record_name(id, record) +
                                 " is flagged for a leap second, which POSIX time cannot hold");
    if (record.encoding == DE_ASCII)
        throw std::runtime_error("trace " + id + " holds text, not samples");
    if (!(record.rate_hz > 0) || !std::isfinite(record.rate_hz))
        throw std::runtime_error(record_name(id, record) + " has no positive sampling rate");
    const std::int64_t data_bytes = record.length - record.data_offset;
    if (record.data_offset < fixed_header_bytes || data_bytes < 0)
        throw std::runtime_error(record_name(id, record) + " puts its data at byte " +
                                 std::to_string(record.data_offset) + " of its " +
                                 std::to_string(record.length));
    const std::int64_t capacity = sample_capacity(record.encoding, data_bytes);
    if (capacity < 0)
        throw std::runtime_error(record_name(id, record) +
                                 " cannot be decoded (unknown data encoding " +
                                 std::to_string(record.encoding) + ")");
    if (record.samples > capacity)
        throw std::runtime_error(record_name(id, record) + " claims " +
                                 std::to_string(record.samples) + " samples; its " +
                                 std::to_string(data_bytes) + " data bytes hold at most " +
                                 std::to_string(capacity) + " in " +
                                 encoding_name(record.encoding));
}

// libmseed 2.19 only logs a failed Steim integrity check, so it is made here:
// the first and last samples decoded must be the frame's X0 and Xn.
void check_steim_frame(const std::string& bytes, const std::string& id,
                       const RecordHeader& header, const MSRecord& record) {
    if ((header.encoding != DE_STEIM1 && header.encoding != DE_STEIM2) || record.numsamples == 0)
        return;
    // check_header made sure the first frame lies within the record.
    const char* frame = bytes.data() + header.offset + header.data_offset;
    const bool big_endian = record.byteorder != 0;
    const std::int32_t x0 = word_at(frame + 4, big_endian);
    const std::int32_t xn = word_at(frame + 8, big_endian);
    const auto* samples = static_cast<const std::int32_t*>(record.datasamples);
    const std::int32_t first = samples[0];
    const std::int32_t last = samples[record.numsamples - 1];
    if (first != x0 || last != xn)
        throw std::runtime_error(record_name(id, header) +
                                 " fails its Steim integrity check: its first and last samples "
                                 "decode to " +
                                 std::to_string(first) + " and " + std::to_string(last) +
                                 ", its frame says " + std::to_string(x0) + " and " +
                                 std::to_string(xn));
}

template <typename T>
void append_samples(const MSRecord& record, const std::string& id, Segment& segment) {
    const T* samples = static_cast<const T*>(record.datasamples);
    for (std::int64_t i = 0; i < record.numsamples; ++i) {
        const auto value = static_cast<double>(samples[i]);
        if (!std::isfinite(value))
            throw std::runtime_error(
                "trace " + id + " holds a value that is not a finite number at " +
                iso_time_us(record.starttime +
                            std::llround(static_cast<double>(i) * 1e6 / record.samprate)));
        segment.values.push_back(value);
    }
}

// Decodes one record of a trace onto the end of segment. trace_is_integer
// holds the sample kind of the trace's records decoded before, if any.
void decode_into(std::string& bytes, const std::string& id, const RecordHeader& header,
                 RecordHolder& holder, Segment& segment, int& trace_is_integer) {
    const int result = msr_unpack(bytes.data() + header.offset, header.length, &holder.record, 1, 0);
    if (result != MS_NOERROR || holder.record == nullptr)
        throw std::runtime_error(record_name(id, header) + " cannot be decoded (" +
                                 ms_errorstr(result) + ")");
    const MSRecord& record = *holder.record;
    if (record.numsamples != header.samples)
        throw std::runtime_error(record_name(id, header) + " decodes to " +
                                 std::to_string(record.numsamples) + " samples, not the " +
                                 std::to_string(header.samples) + " of its header");
    check_steim_frame(bytes, id, header, record);
    const int is_integer = record.sampletype == 'i' ? 1 : 0;
    if (trace_is_integer >= 0 && is_integer != trace_is_integer)
        throw std::runtime_error("trace " + id + " mixes integer and floating-point samples");
    trace_is_integer = is_integer;
    segment.is_integer = is_integer == 1;
    const auto known = std::lower_bound(segment.encodings.begin(), segment.encodings.end(),
                                        header.encoding);
    if (known == segment.encodings.end() || *known != header.encoding)
        segment.encodings.insert(known, header.encoding);
    switch (record.sampletype) {
    case 'i': append_samples<std::int32_t>(record, id, segment); break;
    case 'f': append_samples<float>(record, id, segment); break;
    case 'd': append_samples<double>(record, id, segment); break;
    default: throw std::runtime_error("trace " + id + " holds text, not samples");
    }
}

// A record of a trace and the bytes of the file it lies in; file is the
// file's name when records of several files are read, null otherwise.
struct TraceRecord {
    std::string* bytes;
    const std::string* file;
    const RecordHeader* header;
};

// True when the record has a sample in [window.from_us, window.to_us).
bool overlaps(const RecordHeader& record, const TimeWindow& window) {
    const double end_us =
        static_cast<double>(record.start_us) +
        static_cast<double>(record.samples) * 1e6 / record.rate_hz;
    return static_cast<double>(window.from_us) < end_us && record.start_us < window.to_us;
}

void decode_record(const TraceRecord& record, const std::string& id, RecordHolder& holder,
                   Segment& segment, int& trace_is_integer) {
    if (record.file == nullptr)
        return decode_into(*record.bytes, id, *record.header, holder, segment, trace_is_integer);
    try {
        decode_into(*record.bytes, id, *record.header, holder, segment, trace_is_integer);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(*record.file + ": " + e.what());
    }
}

// The segments of one trace: its records with samples checked, joined and
// decoded. With a window, only the records with samples in it are decoded;
// each segment then starts at its first decoded record (first_index) and
// segments without one are left out.
void read_trace(const std::string& id, std::vector<TraceRecord> all,
                const std::optional<TimeWindow>& window, std::vector<Segment>& segments) {
    std::vector<TraceRecord> records;
    std::vector<RecordTiming> timings;
    for (const TraceRecord& record : all) {
        const RecordHeader& header = *record.header;
        if (header.samples == 0)
            continue;
        try {
            check_header(id, header);
        } catch (const std::runtime_error& e) {
            throw std::runtime_error(record.file == nullptr ? e.what()
                                                            : *record.file + ": " + e.what());
        }
        records.push_back(record);
        timings.push_back({header.start_us, header.rate_hz, header.samples});
    }
    RecordHolder holder;
    int trace_is_integer = -1;
    for (const JoinedSegment& joined : join_records(timings)) {
        Segment segment;
        segment.id = id;
        segment.rate_hz = joined.rate_hz;
        segment.start_us = joined.start_us;
        const auto wanted = [&](size_t r) { return !window || overlaps(*records[r].header, *window); };
        std::int64_t decoded = 0;
        for (const size_t r : joined.records)
            decoded += wanted(r) ? records[r].header->samples : 0;
        segment.values.reserve(static_cast<size_t>(decoded));
        std::int64_t index = 0;  // of the next record's first sample in the joined run
        bool decoding = false;
        for (const size_t r : joined.records) {
            const RecordHeader& header = *records[r].header;
            if (wanted(r)) {
                if (!decoding)
                    segment.first_index = index;
                decoding = true;
                decode_record(records[r], id, holder, segment, trace_is_integer);
            }
            index += header.samples;
        }
        if (decoding)
            segments.push_back(std::move(segment));
    }
}

}  // namespace

bool looks_like_miniseed(std::string_view head) {
    if (head.size() < static_cast<size_t>(fixed_header_bytes))
        return false;
    return ms_detect(head.data(), static_cast<int>(head.size())) >= 0;
}

std::string encoding_name(int code) {
    switch (code) {
    case DE_ASCII: return "TEXT";
    case DE_INT16: return "INT16";
    case DE_INT32: return "INT32";
    case DE_FLOAT32: return "FLOAT32";
    case DE_FLOAT64: return "FLOAT64";
    case DE_STEIM1: return "STEIM-1";
    case DE_STEIM2: return "STEIM-2";
    default: return "encoding " + std::to_string(code);
    }
}

std::vector<Segment> read_miniseed(const std::string& file,
                                   const std::vector<std::string>& patterns) {
    std::string bytes = file_bytes(file);
    const ParsedFile parsed = parse_records(bytes);
    std::vector<Segment> segments;
    for (const std::string& id : select_ids(parsed.ids, patterns)) {
        const auto trace = static_cast<size_t>(
            std::find(parsed.ids.begin(), parsed.ids.end(), id) - parsed.ids.begin());
        std::vector<TraceRecord> records;
        for (const RecordHeader& record : parsed.records)
            if (record.trace == trace)
                records.push_back({&bytes, nullptr, &record});
        read_trace(id, std::move(records), std::nullopt, segments);
    }
    if (segments.empty() && patterns.empty())
        throw std::runtime_error("the miniSEED file holds no samples");
    return segments;
}

std::vector<Segment> read_miniseed_files(const std::vector<std::string>& files,
                                         const std::vector<std::string>& ids,
                                         const TimeWindow& window) {
    std::vector<std::string> bytes(files.size());
    std::vector<ParsedFile> parsed(files.size());
    for (size_t f = 0; f < files.size(); ++f) {
        try {
            bytes[f] = file_bytes(files[f]);
            parsed[f] = parse_records(bytes[f]);
        } catch (const std::runtime_error& e) {
            throw std::runtime_error(files[f] + ": " + e.what());
        }
    }
    std::vector<Segment> segments;
    for (const std::string& id : ids) {
        std::vector<TraceRecord> records;
        for (size_t f = 0; f < files.size(); ++f) {
            const auto known = std::find(parsed[f].ids.begin(), parsed[f].ids.end(), id);
            const auto trace = static_cast<size_t>(known - parsed[f].ids.begin());
            for (const RecordHeader& record : parsed[f].records)
                if (known != parsed[f].ids.end() && record.trace == trace)
                    records.push_back({&bytes[f], &files[f], &record});
        }
        read_trace(id, std::move(records), window, segments);
    }
    return segments;
}

bool is_miniseed_file(const std::string& file) {
    return looks_like_miniseed(file_head(file, miniseed_probe_bytes));
}

}  // namespace nvtools
