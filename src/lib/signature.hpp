#pragma once

// Signature lines written out (nb::sig) for the methods whose arguments are converted by hand,
// which nanobind would show as `object | None`, and whose results it would show as `object`.
// They are the first line of every docstring and what the generated stub declares. Arrays are
// spelled as nanobind spells the ones it writes itself, so that all signatures read alike.
#define VARDELIN_ARRAY(dtype) "ndarray[dtype=" #dtype ", shape=(*), device='cpu', writable=False]"
#define VARDELIN_RESULT(dtype) "numpy.ndarray[dtype=" #dtype ", shape=(*)]"
#define VARDELIN_SEQUENCE(item) "collections.abc.Sequence[" item "]"
#define VARDELIN_QUERY_ARRAYS "query_xs: " VARDELIN_ARRAY(float64) ", query_ys: " VARDELIN_ARRAY(float64)
#define VARDELIN_AGGREGATE_COLUMNS                                                                        \
    "value_columns: " VARDELIN_SEQUENCE(VARDELIN_ARRAY(float64)) ", validity_columns: " VARDELIN_SEQUENCE( \
        VARDELIN_ARRAY(uint8))
#define VARDELIN_AGGREGATE_RESULT                                                                        \
    "tuple[" VARDELIN_RESULT(uint32) ", " VARDELIN_RESULT(uint64) ", " VARDELIN_RESULT(float64) ", " \
        VARDELIN_RESULT(uint64) "]"
