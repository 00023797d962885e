#include "output_files.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace nvtools {

namespace {

std::runtime_error failure(const std::string& what, const std::string& name, int error) {
    return std::runtime_error(what + " " + name + ": " + std::strerror(error));
}

}  // namespace

OutputFile::OutputFile(const std::string& name)
    : m_name(name), m_own(std::make_unique<atomic_output>()), m_output(m_own.get()) {
    if (const int error = m_output->open(name); error != 0)
        throw failure("cannot create", name, error);
}

OutputFile::OutputFile(const std::string& name, atomic_output& member)
    : m_name(name), m_output(&member) {}

OutputFile::~OutputFile() = default;

std::FILE* OutputFile::stream() {
    std::FILE* stream = m_output->stream();
    if (stream == nullptr)
        throw failure("cannot write", m_name, errno);
    return stream;
}

void OutputFile::write(const char* bytes, std::size_t n) {
    if (const int error = m_output->write(bytes, n); error != 0)
        throw failure("cannot write", m_name, error);
}

const std::string& OutputFile::writing_name() const {
    return written_in_place() ? m_output->target_name() : m_output->temporary_name();
}

void OutputFile::commit() {
    if (const int error = m_output->close(); error != 0)
        throw failure("cannot write", m_name, error);
    if (!m_own)
        return;
    if (const int error = m_output->commit(); error != 0)
        throw failure("cannot rename the temporary file to", m_name, error);
}

OutputFile& OutputSet::add(const std::string& name) {
    atomic_output* output = nullptr;
    if (const int error = m_outputs.open(name, output); error != 0)
        throw failure("cannot create", name, error);
    std::unique_ptr<OutputFile> file(new OutputFile(name, *output));
    return *m_files.emplace_back(std::move(file));
}

void OutputSet::commit() {
    std::size_t failed = 0;
    if (const int error = m_outputs.commit(failed); error != 0)
        throw failure("cannot write", m_files[failed]->name(), error);
}

}  // namespace nvtools
