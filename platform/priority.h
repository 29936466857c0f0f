#pragma once
// The process's scheduling priority while a run waits, and the processor
// time it has used.
namespace platform {

// Lowers the process to idle priority and returns what RestorePriority needs
// to put the previous priority back; 0 when nothing was changed. Linux leaves
// the priority alone: an unprivileged process could not raise it again.
int EnterIdlePriority();
void RestorePriority(int previous);

// Processor time (user and system) the process has used, in seconds.
double ProcessCpuSeconds();

}  // namespace platform
