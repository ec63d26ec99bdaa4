// Instantiates the tracepoint provider's probes and its registration in this program.
#define LTTNG_UST_TRACEPOINT_CREATE_PROBES
#define LTTNG_UST_TRACEPOINT_DEFINE
#include "tracepoint_provider.hpp"
