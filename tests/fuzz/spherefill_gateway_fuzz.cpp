// The spherefill entry point through the stand-in host, on any inputs: no
// crash, inputs untouched, and either the promised table, a stop that keeps
// the partial table, or a refusal that creates nothing.

#include "gateway_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzBytes bytes(data, size);
    const gatewayfuzz::Outcome out = gatewayfuzz::run(bytes, "spherefill:");
    const std::string& id = out.error.id;
    const bool stop = id == "spherefill:tooFull" || id == "spherefill:nonFiniteSize" || id == "spherefill:nonFiniteEdge";
    if (id.empty() || stop) {
        // Three copies and the result; the result has M rows and 4K columns.
        FUZZ_CHECK(out.created == 4);
        const mxArray* P = out.outputs[0];
        const mxArray* D = out.inputs[0];
        FUZZ_CHECK(P != nullptr);
        FUZZ_CHECK(P->dims.size() == 2 && P->dims[0] == D->dims[0] && P->dims[1] == 4 * D->dims[1]);
        const std::size_t rows = P->dims[0];
        const std::size_t placed = stop ? 0 : rows;  // on a stop, rows are checked by the core fuzzer
        for (std::size_t i = 0; i < placed; ++i) FUZZ_CHECK(bitsOf(P->data[3 * rows + i]) == bitsOf(D->data[i] * 0.5));
        for (std::size_t k = 4 * rows; k < P->data.size(); ++k) FUZZ_CHECK(bitsOf(P->data[k]) == 0);
    } else {
        FUZZ_CHECK(out.created == 0 && out.outputs[0] == nullptr);
    }
    standin::reset();
    return 0;
}
