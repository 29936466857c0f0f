#pragma once
// Saving a step's result to the destination the step names (`output` and
// `output_option`), and files a script carries inside the program.
#include <cstddef>
#include <string>
#include <string_view>

namespace olvex {

// Saves a handler's result. Never changes the step's result, except that
// Cancel in the "Message" destination's box sets the run's stop flag.
void SaveOutput(int slot, int step_index, std::string_view data);

// Mode 1: extracts the file carried as the step's embedded id `n` (0 .. 7)
// to a temporary file whose name ends with `_` and the file name of
// `path_inout`, and writes that path into `path_inout`; mode 2 deletes it.
// Returns false when nothing was extracted (or deleted).
bool ExtractEmbedded(int slot, int step_index, std::string& path_inout, int mode, int n);

// Copies the RCDATA resource `resource_id` of the program `module_path` (the
// running program when empty) into `content` (when given, cut to `max_content`
// bytes) and/or into the file `dest_path` (when not empty). Returns the
// resource's size, 0 on failure with the reason in `error_text` (at most 255
// characters).
std::size_t ExtractResource(const std::string& module_path, int resource_id, const std::string& dest_path,
                            std::string* content, std::size_t max_content, std::string* error_text);

}  // namespace olvex
