// Includes PROBE_HEADER and nothing else. The include-graph tests build it
// linked to a library that does, or does not, reach the header's owner.
#include PROBE_HEADER
