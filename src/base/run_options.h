// The switches and names of one run, parsed from the command line.
//
// RunOptions is filled by ParseCommandLine (app/command_line.h), its names are
// completed by DeriveOutputFileSet (app/input_files.h), and from then on it is
// only read. The flags a run switches on its way (tracing, the member limit,
// the mailbox) start a RunState (base/run_state.h) and are read from there.
#pragma once

#include <cstdint>
#include <string>

namespace dwarfsift {

struct RunOptions {
  bool debug_trace = false;      // -d
  bool echo_trace = true;        // -p switches off
  bool write_srecords = false;   // -a
  bool host_mailbox = false;     // -adef
  std::int32_t pointer_size = 4; // -2 sets 2
  bool directory_info = true;    // -r switches off
  bool sort_lines = true;        // -s switches off; no phase consults it
  bool global_statics = false;   // -g
  bool inline_delete = false;    // -i
  bool all_includes = false;     // -f
  bool merge_duplicates = false; // -m; never together with -i
  bool no_locals = false;        // -l
  bool trace_trigger = false;    // -?<hex>
  std::uint32_t trace_trigger_pos = 0;
  bool no_local_structs = false; // -x
  bool no_members = false;       // -z
  bool entry_positions = false;  // -e
  // DWARFSIFT_FOLLOW_CACHE=off: every type chain and member list is walked
  // instead of replayed from the unit's cache. A diagnostic switch; the
  // files are the same either way, only slower.
  bool follow_cache = true;
  std::string input_name{};
  std::string output_name{};
};

}  // namespace dwarfsift
