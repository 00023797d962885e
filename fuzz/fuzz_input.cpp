#include "fuzz_input.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

// Every C++ allocation is counted, so that a reader that allocates from a
// length field instead of from the bytes it has is caught on small inputs.
namespace {

std::atomic<size_t> live_bytes{0};
std::atomic<size_t> peak_bytes{0};

void count_allocation(void* block) {
    const size_t now = live_bytes += malloc_usable_size(block);
    size_t peak = peak_bytes.load(std::memory_order_relaxed);
    while (now > peak && !peak_bytes.compare_exchange_weak(peak, now)) {
    }
}

// The legacy reader's six blocks of 1028 samples and the stream buffers (about
// 60 KiB in all) are the allowance for an empty input.
constexpr size_t fixed_allowance = 128 * 1024;

}  // namespace

namespace {

void* counted_new(size_t size) noexcept {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block)
        count_allocation(block);
    return block;
}

void counted_delete(void* block) noexcept {
    if (!block)
        return;
    live_bytes -= malloc_usable_size(block);
    std::free(block);
}

void* counted_new_or_throw(size_t size) {
    void* block = counted_new(size);
    if (!block)
        throw std::bad_alloc();
    return block;
}

}  // namespace

// All non-aligned forms, so that no block crosses between two allocators.
void* operator new(size_t size) { return counted_new_or_throw(size); }
void* operator new[](size_t size) { return counted_new_or_throw(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return counted_new(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return counted_new(size); }
void operator delete(void* block) noexcept { counted_delete(block); }
void operator delete[](void* block) noexcept { counted_delete(block); }
void operator delete(void* block, size_t) noexcept { counted_delete(block); }
void operator delete[](void* block, size_t) noexcept { counted_delete(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { counted_delete(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { counted_delete(block); }

namespace fuzz {

void fail(const char* what, const char* detail) {
    std::fprintf(stderr, "fuzz check failed: %s%s\n", what, detail);
    std::abort();
}

const char* input_file(const uint8_t* data, size_t size) {
    static int fd = -1;
    static char name[64];
    if (fd < 0) {
        fd = memfd_create("fuzz-input", 0);
        if (fd < 0)
            fail("memfd_create failed");
        std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
    }
    if (ftruncate(fd, 0) != 0)
        fail("ftruncate of the scratch file failed");
    size_t written = 0;
    while (written < size) {
        const ssize_t n = pwrite(fd, data + written, size - written, static_cast<off_t>(written));
        if (n <= 0)
            fail("write of the scratch file failed");
        written += static_cast<size_t>(n);
    }
    return name;
}

void reset_peak() { peak_bytes = live_bytes.load(); }

void check_memory(size_t input_size, size_t bytes_per_input_byte) {
    const size_t used = peak_bytes - live_bytes;
    const size_t allowed = fixed_allowance + bytes_per_input_byte * input_size;
    // FUZZ_PRINT_PEAK=1 shows how close each input comes to the limit.
    if (std::getenv("FUZZ_PRINT_PEAK"))
        std::fprintf(stderr, "peak %zu heap bytes for %zu input bytes\n", used, input_size);
    if (used > allowed) {
        char detail[128];
        std::snprintf(detail, sizeof detail, ": %zu heap bytes for an input of %zu bytes", used,
                      input_size);
        fail("memory beyond the allowance", detail);
    }
}

void check_recording(const Nevra::Nevra_Base& recording) {
    const auto& channels = recording.get_channels();
    const size_t times = recording.get_time().size();
    for (size_t k = 0; k < channels.size(); ++k) {
        if (channels[k].m_channel >= channels.size())
            fail("a channel record names a channel beyond the channel count");
        const size_t samples = recording.get_data(k).size();
        // Only an incomplete last frame or a raised channel count leaves one sample of difference.
        if (samples > times + 1 || samples + 1 < times)
            fail("a channel's sample count does not match the time axis");
    }
}

}  // namespace fuzz
