// A message channel with an in-memory output file and the console captured,
// for the tests of the channel and of the texts traced through it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "base/message_channel.h"
#include "base/output_file.h"
#include "base/run_options.h"
#include "base/run_state.h"

namespace dwarfsift::testing {

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_.CreateInMemory();
    channel_.CaptureConsole(&console_);
  }
  RunOptions options_;
  RunState state_;
  MessageChannel channel_{options_, state_};
  OutputFile file_;
  std::string console_;
};

}  // namespace dwarfsift::testing
