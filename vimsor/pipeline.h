#pragma once

namespace Nevra {
class Nevra_Base;
}

// Processes one input file from loading to the output file.
int calculate(const char* fnamein, char* fnameout, double treshold, double lowtreshold);

// Writes the job file of every whole 512-sample block of every slot of
// original and records each row's start time in tid; samplerate gives the
// time column.
void write_job_files(double samplerate);

// Ends the process with a message naming fnamein unless the recording can be
// stored and cut into rows: a usable sampling frequency, channel records
// (numbered as get_channels() promises), and every channel holding a sample
// for every sample time.
void check_recording(const char* fnamein, const Nevra::Nevra_Base& recording);
