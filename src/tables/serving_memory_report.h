// `tarnwick profile` of a language-model checkpoint: its serving memory, as text or JSON.
#pragma once

#include <ostream>

#include "base/io.h"
#include "base/json_output.h"
#include "base/status.h"
#include "tables/serving_memory.h"

namespace tarnwick {

inline constexpr const char* kServingProfileUsage =
    "usage: tarnwick profile [--json] [--context N] [--batch B] [--cache-dtype TYPE] <checkpoint>";

// profile [--json] [--context N] [--batch B] [--cache-dtype TYPE] <checkpoint>
Status serving_memory_command(const Args& args, const TensorFileFormat& format, Io& io);

void print_serving_memory(std::ostream& out, const ServingMemory& memory);
OrderedJson serving_memory_json(const ServingMemory& memory);

// A count of bytes with its short form: "1.2 GiB (1288490188)", or "unknown".
std::string bytes_text(const std::optional<std::uint64_t>& bytes);

}  // namespace tarnwick
