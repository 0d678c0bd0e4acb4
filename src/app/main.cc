#include <cstdio>

#include "app/entry.h"
#include "base/platform.h"

int main(int argc, char** argv) {
  dwarfsift::platform::InstallStopHandlers();
  const int status = dwarfsift::RunEntry(argc, argv);
  // A run stopped by a signal ends as the signal would have ended it, once
  // its console lines are out.
  std::fflush(stdout);
  dwarfsift::platform::EndAsStopped(dwarfsift::platform::StopRequested());
  return status;
}
