// The LTTng-UST tracepoint the benchmarks compare a Trace call with: one event
// carrying a flow id and a point id. The provider header is read several times
// by LTTng's own headers, hence the guard that lets a multi-read through.
#undef LTTNG_UST_TRACEPOINT_PROVIDER
#define LTTNG_UST_TRACEPOINT_PROVIDER kestrune_bench

#undef LTTNG_UST_TRACEPOINT_INCLUDE
#define LTTNG_UST_TRACEPOINT_INCLUDE "tracepoint_provider.hpp"

#if !defined(KESTRUNE_DIAGNOSTIC_TRACE__BENCHMARK__TRACEPOINT_PROVIDER_HPP_) || \
    defined(LTTNG_UST_TRACEPOINT_HEADER_MULTI_READ)
#define KESTRUNE_DIAGNOSTIC_TRACE__BENCHMARK__TRACEPOINT_PROVIDER_HPP_

#include <lttng/tracepoint.h>

LTTNG_UST_TRACEPOINT_EVENT(kestrune_bench, point,
                           LTTNG_UST_TP_ARGS(const char*, flow_id, const char*, point_id),
                           LTTNG_UST_TP_FIELDS(lttng_ust_field_string(flow_id, flow_id)
                                                   lttng_ust_field_string(point_id, point_id)))

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__BENCHMARK__TRACEPOINT_PROVIDER_HPP_

#include <lttng/tracepoint-event.h>
