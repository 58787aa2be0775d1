#include "lib/convert.hpp"
#include "lib/py_engine.hpp"
#include "subset/subset.hpp"

namespace vardelin::lib {

void bind_engine_subset(EngineClass& cls) {
    cls.def(
        "subset",
        [](PyEngine& self, const InArray<u32>& indices) {
            const auto e = self.shared();
            const auto idx = contiguous(indices, "indices must be a contiguous uint32 array");
            return wrap_engine(subset(*e, idx));
        },
        nb::arg("indices").noconvert(),
        "Copy selected logical polygons into a compact Engine with no inherited indexes");
}

}  // namespace vardelin::lib
