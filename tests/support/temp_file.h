// Temporary files and folders for tests: each is removed when its owner goes
// out of scope.
#ifndef TIRVO_TESTS_SUPPORT_TEMP_FILE_H
#define TIRVO_TESTS_SUPPORT_TEMP_FILE_H

#include <cstdio>
#include <string>

// A fresh, empty folder under the system's temporary folder, removed with
// everything in it on destruction.
struct temp_dir {
    std::string path; // absolute path of the folder

    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;

    // The path of `name` inside the folder.
    std::string file(const std::string &name) const { return path + "/" + name; }
};

// Writes `data` to `path`, replacing it; returns false when that fails.
bool write_file(const std::string &path, const std::string &data);

// A temporary file holding `text`, rewound to its start, as the compiler reads
// a fingerprint given with -l; null when it cannot be made. The caller owns it
// (a compile context that gets it as its input closes it).
FILE *text_as_file(const std::string &text);

// Reads the whole file at `path`; `ok` becomes false when it cannot be read.
std::string read_file(const std::string &path, bool *ok = nullptr);

#endif
