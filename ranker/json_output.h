// The ranking and the diff as one JSON object (--json), for scripts.
//
// Ranking:
//   {"input": "in.rec", "records": N, "records_read": R, "groups_total": G,
//    "ranked_by": "time", "folding": [], "timed_records": T, "total_ms": X,
//    "groups": [{"rank", "group", "size", "share", "bytes", "first_id",
//                "normalised_text", "normalised_text_bytes",
//                "first_statement", "first_statement_bytes", "source", "line",
//                "total_ms", "mean_ms", "p50_ms", "p95_ms", "max_ms"}, ...]}
//
// Diff:
//   {"input": ..., "before": ..., "records": N, "records_before": M,
//    "ranked_by": ..., "folding": [...], "unchanged": U,
//    "sections": {"new": {"groups_total": K, "groups": [{"rank", "group",
//                 "size_before", "size", "size_change", "share_before",
//                 "share", "share_change", "total_ms_before", "total_ms",
//                 "total_ms_change", "mean_ms_before", "mean_ms",
//                 "mean_ms_change", "normalised_text", "first_statement",
//                 "source", "line"}, ...]}, "gone": ..., "grew": ...,
//                 "shrank": ...}}
//
// "records" counts the records the filters keep (all without filters);
// shares are percents with two decimals, times milliseconds with three;
// costs, sources and lines are null without metadata (a group without
// durations has null costs), and "group" is null for a gone group. "folding"
// lists "lists" and "comments" when those were folded. Texts are kept as
// everywhere (normalised texts up to 4096 bytes, statements up to 1024;
// the *_bytes fields give the whole length) and written as out_json_text
// says: a byte that is not UTF-8 becomes \u00NN.
#pragma once

#include "ranker/columns.h"
#include "ranker/diff.h"
#include "ranker/ranking.h"
#include "ranker/text_output.h"

void write_json(OutBuffer* out, const Ranking& ranking, const Percentiles* percentiles,
                const RunFacts& facts);
void write_diff_json(OutBuffer* out, const Diff& diff, const RunFacts& facts);
