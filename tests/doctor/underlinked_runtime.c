/* A runtime library that uses a symbol of the C++ runtime without naming
 * that library as needed: it loads only where a program already has the
 * C++ runtime in its global scope, which the launcher does not. */
#include <stdint.h>

#include "hux_runtime_api.h"

void _ZSt9terminatev(void);

int32_t HUX_Launch(int32_t argCount, char **args, uint64_t w3, uint64_t w4, uint64_t w5,
                   uint64_t w6, const char *t7, const char *t8, const char *t9, const char *t10,
                   uint64_t w11, uint64_t w12, uint64_t w13, uint64_t w14) {
    (void)args, (void)w3, (void)w4, (void)w5, (void)w6, (void)t7, (void)t8;
    (void)t9, (void)t10, (void)w11, (void)w12, (void)w13, (void)w14;
    if (argCount < 0) {
        _ZSt9terminatev();
    }
    return 0;
}
