// Where the tests find their data and put their scratch files.
#pragma once

#include <map>
#include <string>
#include <vector>

// Path of a file below tests/data/, e.g. "external/rar2-unix-owner.rar"
// (archives made by other archivers) or "synthetic/stuck.rar".
std::string test_data(const std::string &path);
// A fresh, empty folder under the system's temporary folder; removed by
// remove_tree().
std::string make_temp_dir(const char *tag);
void remove_tree(const std::string &path);
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &data);
// Appends every file below folder, by its path relative to folder behind
// prefix; folders are walked, not listed.
void list_files(const std::string &folder, const std::string &prefix,
                std::vector<std::string> *files);
// Every file below folder, by its path relative to folder, with its bytes.
std::map<std::string, std::string> files_below(const std::string &folder);
// Names that only one side holds or whose bytes differ, in order.
std::vector<std::string> differing_files(const std::map<std::string, std::string> &a,
                                         const std::map<std::string, std::string> &b);
