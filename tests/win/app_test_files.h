// tests/win/app_test_files.h — files for the tests of the application shell: a fresh temporary folder, files written byte for byte, files beside the test program.
#ifndef PARVEL_TESTS_WIN_APP_TEST_FILES_H
#define PARVEL_TESTS_WIN_APP_TEST_FILES_H

#include <string>

// A new empty folder under the temporary folder, in its short form (no
// spaces), without a trailing '\'.
std::string MakeTempFolder(const char *prefix);

// Writes the bytes to the file (replacing it); false when it cannot.
bool WriteBytes(const std::string &path, const std::string &bytes);

// The path of a file in the test program's own folder.
std::string BesideProgram(const char *name);

#endif
