/* The environment variable that turns on vkd3d-shader's debug output (each
 * program linking the library names its own). */
#include "vkd3d_common.h"

VKD3D_DEBUG_ENV_NAME("VKD3D_SHADER_DEBUG");
