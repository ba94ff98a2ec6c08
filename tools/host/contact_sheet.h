// Contact sheet of decoded pictures, made by ffmpeg when it is installed.
#pragma once

#include <string>

namespace host {

// The command that tiles every 25th picture of `input` (320 wide, 4x3) into the PNG `output`.
std::string ContactSheetCommand(const std::string& input, const std::string& output);
bool FfmpegInstalled();
// False when ffmpeg failed or made no file.
bool MakeContactSheet(const std::string& input, const std::string& output);

}  // namespace host
