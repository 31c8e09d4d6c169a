// Built into dictacore_leakcheck only. The toolkit's inference library keeps
// two 16-byte blocks of its CPU detection for the life of the process (once
// per process, whatever the sessions do); nothing else is exempt.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:cpuinfo_x86_linux_init\n";
}
