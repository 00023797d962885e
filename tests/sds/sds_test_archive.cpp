// Writes the SDS test archive of tests/writers/sds_tree_writer.h under the directory given, for
// the shell tests of the batch.
#include <cstdio>
#include <exception>

#include "sds_tree_writer.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: sds_test_archive ROOT\n", stderr);
        return 2;
    }
    try {
        sdsw::write_tree(argv[1], sdsw::three_element_array());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sds_test_archive: %s\n", e.what());
        return 1;
    }
    return 0;
}
