// The progress thread of a scan: once a second it prints the path the
// scanners are working on, until the driver sets the stop flag.
#pragma once

namespace scancap {

void StartProgressThread();
// Sets the stop flag; the thread ends within a second (or with the process).
void StopProgressThread();
bool ProgressStopRequested();

}  // namespace scancap
