#include "lib/engine_methods.hpp"

namespace vardelin::lib {

namespace {

nb::dict build_stat_entry(const char* index, const BuildStat& s) {
    nb::dict d;
    d["index"] = index;
    d["build_count"] = s.build_count;
    d["elapsed_compute_ns"] = s.elapsed_compute_ns;
    return d;
}

nb::dict metrics_report(const EngineMetrics& m) {
    nb::list operations;
    for (std::size_t op = 0; op < kOperations; ++op) {
        for (std::size_t col = 0; col < kMetricColumns; ++col) {
            const OpStat& s = m.operations[op][col];
            if (s.calls == 0) continue;
            nb::dict d;
            d["name"] = kOperationNames[op];
            d["index"] = kColumnNames[col];
            d["calls"] = s.calls;
            d["elapsed_compute_ns"] = s.elapsed_compute_ns;
            d["output_rows"] = s.output_rows;
            operations.append(d);
        }
    }
    nb::list builds;
    for (std::size_t k = 0; k < m.index_builds.size(); ++k) {
        if (m.index_builds[k].build_count != 0) builds.append(build_stat_entry(kColumnNames[k], m.index_builds[k]));
    }
    if (m.prepared_polygons.build_count != 0) builds.append(build_stat_entry("prepared_polygons", m.prepared_polygons));
    nb::dict construction;
    construction["wkb_decode_ns"] = m.wkb_decode_ns;
    construction["statistics_ns"] = m.statistics_ns;
    nb::dict out;
    out["operations"] = operations;
    out["index_builds"] = builds;
    out["construction"] = construction;
    return out;
}

}  // namespace

void def_take_metrics(EngineClass& cls) {
    cls.def(
        "take_metrics",
        [](PyEngine& self) {
            // Counters are zeroed before the Python objects are built: a failure while building
            // them loses this period's counts rather than reporting them twice.
            const EngineMetrics taken = self.exclusive()->metrics.take();
            return metrics_report(taken);
        },
        "Return all metrics accumulated by this Engine and reset its counters",
        nb::sig("def take_metrics(self) -> dict[str, list[dict[str, int | str]] | dict[str, int]]"));
}

}  // namespace vardelin::lib
