// tests/win/test_files.h — files for the Windows tests.
// A fresh temporary folder, files written and read byte for byte, folders removed whole,
// files beside the test program.
#ifndef PARVEL_TESTS_WIN_TEST_FILES_H
#define PARVEL_TESTS_WIN_TEST_FILES_H

#include <string>

// A new empty folder under the temporary folder, in its short form (no
// spaces), without a trailing '\'.
std::string MakeTempFolder(const char *prefix);

// Writes the bytes to the file (replacing it); false when it cannot.
bool WriteBytes(const std::string &path, const std::string &bytes);

// The whole content of the file, or "(missing)" when it cannot be opened.
std::string ReadBytes(const std::string &path);

// Removes the folder with everything in it.
void RemoveTree(const std::string &folder);

// The path of a file in the test program's own folder.
std::string BesideProgram(const char *name);

#endif
