#pragma once
// Scaling and conversion of one frame, as frame submission runs them.
#include "video/convert/compute_context.h"
#include "video/convert/convert_stage.h"
#include "video/convert/resize_stage.h"
#include "video/convert/surfaces.h"

// run_resize then run_convert, with the same result. With scaling and the
// single conversion, each pair of scaled rows is converted as soon as it is
// made, while it is still in the cache, and the scaled picture is never
// stored (output_texture keeps its old contents).
void run_scale_and_convert(ResizeStage& resize, ConvertStage& convert, ComputeContext& context, SurfaceSet& set);
