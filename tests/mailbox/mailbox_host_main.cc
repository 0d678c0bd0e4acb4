// mailbox_host: runs the tool under an emulated host debugger, for trying the
// "-adef" mailbox by hand.
//
//   mailbox_host MODE [--binary PATH] [--block-size N] [--messages FILE]
//                [--stdout FILE] [-- ARGS...]
//
// MODE is normal, hold-lock, never-empty or no-host. Each message that
// reached the slot becomes one line "LENGTH<tab>ESCAPED-TEXT" (in FILE, or on
// standard output); the child's standard output is written raw to the
// --stdout file or, escaped, after the messages. A summary goes to standard
// error. The exit status is the child's.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "mailbox_host.h"

namespace {

using namespace dwarfsift::mailbox_testing;

int Usage() {
  std::cerr << "usage: mailbox_host normal|hold-lock|never-empty|no-host"
               " [--binary PATH] [--block-size N] [--messages FILE]"
               " [--stdout FILE] [-- ARGS...]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  HostOptions options;
  if (!ParseMode(argv[1], &options.mode)) return Usage();
#ifdef DWARFSIFT_BINARY
  std::string binary = DWARFSIFT_BINARY;
#else
  std::string binary;
#endif
  std::string messages_path;
  std::string stdout_path;
  std::vector<std::string> args;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      args.assign(argv + i + 1, argv + argc);
      break;
    }
    if (i + 1 >= argc) return Usage();
    const std::string value = argv[++i];
    if (arg == "--binary") {
      binary = value;
    } else if (arg == "--block-size") {
      options.block_size = std::strtoul(value.c_str(), nullptr, 0);
    } else if (arg == "--messages") {
      messages_path = value;
    } else if (arg == "--stdout") {
      stdout_path = value;
    } else {
      return Usage();
    }
  }
  if (binary.empty() || options.block_size == 0) return Usage();

  const HostRun run = RunWithHost(options, binary, args);
  if (!run.error.empty()) {
    std::cerr << "mailbox_host: " << run.error << "\n";
    return 2;
  }

  std::ofstream messages_file;
  if (!messages_path.empty()) messages_file.open(messages_path, std::ios::binary);
  std::ostream& messages = messages_path.empty() ? std::cout : messages_file;
  for (const std::string& message : run.messages) {
    messages << message.size() << '\t' << EscapeBytes(message) << '\n';
  }
  if (!stdout_path.empty()) {
    std::ofstream(stdout_path, std::ios::binary) << run.out;
  } else if (!run.out.empty()) {
    std::cout << "stdout:\t" << EscapeBytes(run.out) << '\n';
  }
  std::cerr << run.err;
  std::cerr << "mode=" << ModeName(options.mode) << " messages=" << run.messages.size()
            << " stdout_bytes=" << run.out.size() << " exit=" << run.exit_status
            << " signal=" << run.term_signal << (run.timed_out ? " timed-out" : "")
            << " elapsed_ms=" << static_cast<long>(run.elapsed_ms)
            << " dirty_tails=" << run.dirty_tails
            << " lock_left=" << (run.lock_name_left ? 1 : 0) << "\n";
  return run.exit_status >= 0 ? run.exit_status : 1;
}
