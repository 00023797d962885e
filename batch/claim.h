#pragma once

// Runs and arrays of one batch exclude each other: a second runner would redo
// the inputs the first has under way. A run holds a lock on the manifest for
// its whole life (close-on-exec, so no job or vimsor inherits it); arrays are
// asked of Slurm. Whoever claims the batch clears what a killed run left.

#include "layout.h"

class batch_claim {
public:
    // Throws batch_error when another run or an active array works on the batch.
    explicit batch_claim(const batch_layout& layout);
    ~batch_claim();
    batch_claim(const batch_claim&) = delete;
    batch_claim& operator=(const batch_claim&) = delete;

private:
    int lock_ = -1;
};
