/* A runtime library that needs libdoctor_stub.so, found beside it through
 * its RUNPATH $ORIGIN alone. */
#include <stdint.h>

#include "hux_runtime_api.h"

int doctorStubValue(void);

int32_t HUX_Launch(int32_t argCount, char **args, uint64_t w3, uint64_t w4, uint64_t w5,
                   uint64_t w6, const char *t7, const char *t8, const char *t9, const char *t10,
                   uint64_t w11, uint64_t w12, uint64_t w13, uint64_t w14) {
    (void)argCount, (void)args, (void)w3, (void)w4, (void)w5, (void)w6, (void)t7, (void)t8;
    (void)t9, (void)t10, (void)w11, (void)w12, (void)w13, (void)w14;
    return doctorStubValue() == 7 ? 0 : 1;
}
