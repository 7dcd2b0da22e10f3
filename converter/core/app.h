// The command-line logic of vellumate: run flags, modes and their results.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "context.h"

namespace vellumate {

// Result when the program's own path holds no usable "/".
constexpr std::int32_t kNoProgramPath = -100;

// The interactive dialog, when the program is built with one. It runs the
// session and returns its exit code. Without one, an empty command line is
// answered like a malformed one.
using DialogRunner = std::int32_t (*)(ConversionContext& ctx);
void SetDialogRunner(DialogRunner runner);

// Everything after the start-up: `commandLine` is the text after the
// program's name. Returns the result that becomes the exit status.
std::int32_t RunProgram(ConversionContext& ctx, const std::string& programPath, std::string commandLine);

// Opens the help file in the help viewer, at `topic` when it is not empty
// (message 3022 when there is no help file).
void ShowHelpTopic(const std::string& programPath, const std::string& topic);

// The modes, given the tokens of the command line.
std::int32_t RunSingleFile(ConversionContext& ctx, const std::vector<std::string>& tokens);
std::int32_t RunUrlMode(ConversionContext& ctx, const std::vector<std::string>& tokens);
std::int32_t RunListMode(ConversionContext& ctx, const std::vector<std::string>& tokens);
std::int32_t RunInputList(ConversionContext& ctx, const std::string& inputList, const std::string& outputList);
std::int32_t RunInputListToFolder(ConversionContext& ctx, const std::string& inputList, const std::string& folder);

// "http://" in front of an address without one of the accepted beginnings.
std::string CompleteUrl(const std::string& url);
// folder + "/ConvertedDocument.pdf", or the first free "ConvertedDocument_<n>.pdf".
std::string UrlOutputPath(const std::string& folder);
// The output name /outdir gives a list line: its file name part + ".pdf".
std::string OutputNameForFolder(const std::string& line, const std::string& extension);
// True for a token that names a PDF option switch (any case).
bool IsSwitchName(const std::string& token);

}  // namespace vellumate
