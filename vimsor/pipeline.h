#pragma once

// Processes one input file from loading to the output file.
int calculate(const char* fnamein, char* fnameout, double treshold, double lowtreshold);
