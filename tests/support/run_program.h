// Runs a program as a child process for the program tests: feeds it a
// standard input, captures its standard output and standard error separately
// and reports how it ended.
#ifndef TIRVO_TESTS_SUPPORT_RUN_PROGRAM_H
#define TIRVO_TESTS_SUPPORT_RUN_PROGRAM_H

#include <string>
#include <vector>

struct run_result {
    int status = -1;     // exit status, or -1 when the child did not exit normally
    int signal = 0;      // the signal that ended the child, or 0
    std::string out;     // everything written to standard output
    std::string err;     // everything written to standard error
    bool timed_out = false; // killed after the time limit
};

// Runs `argv` (argv[0] is the program path; no shell is involved) with
// `input` as its standard input and returns what it printed and how it ended.
// A child that runs longer than `timeout_seconds` is killed.
run_result run_program(const std::vector<std::string> &argv, const std::string &input = "",
                       int timeout_seconds = 60);

#endif
