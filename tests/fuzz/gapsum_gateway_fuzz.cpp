// The gapsum entry point through the stand-in host, on any inputs: no crash,
// inputs untouched, and either the sum of the first four columns as a 1 x 1
// result or a refusal that creates nothing.

#include "gateway_fuzz.h"
#include "sum_gap_cubes_paths.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzBytes bytes(data, size);
    const gatewayfuzz::Outcome out = gatewayfuzz::run(bytes, "gapsum:");
    if (out.error.id.empty()) {
        FUZZ_CHECK(out.created == 3);  // two copies and the result
        const mxArray* S = out.outputs[0];
        const mxArray* P = out.inputs[0];
        FUZZ_CHECK(S != nullptr && S->dims == (std::vector<mwSize>{1, 1}));
        const ConstSphereTable table{P->data.empty() ? nullptr : P->data.data(), static_cast<std::int32_t>(P->dims[0])};
        FUZZ_CHECK(sameResult(S->data[0], sumGapCubesPlain(table, out.inputs[1]->data[0])));
    } else {
        FUZZ_CHECK(out.created == 0 && out.outputs[0] == nullptr);
    }
    standin::reset();
    return 0;
}
