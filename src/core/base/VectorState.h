#pragma once
// The C library's AVX-512 copy routines (glibc 2.36's memmove among them) leave the upper halves
// of the vector registers in use. Until they are cleared, every SSE instruction that follows on
// that thread waits on them, which makes number crunching after a large copy several times
// slower. ClearUpperVectorState clears them where the processor has them; it does nothing
// elsewhere and costs about a cycle.

namespace corvane3 {

void ClearUpperVectorState();

}  // namespace corvane3
