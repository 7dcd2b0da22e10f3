// What a command-line run of vellumate works on: the paths its message names
// when it fails. The modes fill it in as they go.
#pragma once

#include <string>

namespace vellumate {

struct RunSubject {
    std::string source;      // the current source, resolved
    std::string output;      // its output, resolved (as given when it cannot be)
    std::string url;         // the address of a /url run
    std::string inputList;
    std::string outputList;
    std::string folder;      // the /outdir folder
};

}  // namespace vellumate
