/* Test double for a broken runtime library: it exports "HUX_Launch" as
 * data, not as a function. Calling it would crash the caller. */
#include <stdint.h>

const int32_t HUX_Launch[4] = {0, 0, 0, 0};
