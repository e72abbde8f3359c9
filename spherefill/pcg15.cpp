#include "pcg15.h"

#include "pcg15_paths.h"
#include "simd_path.h"

void Pcg15::drawMany(void* context, std::int32_t* out, int n) {
    Pcg15* self = static_cast<Pcg15*>(context);
#ifdef SPHEREFILL_X86_SIMD
    if (n >= 32 && activeSimdPath() == SimdPath::Avx512) {
        pcg15DrawManyAvx512(self->state, out, n);
        return;
    }
#endif
    drawManyPlain(self->state, out, n);
}
