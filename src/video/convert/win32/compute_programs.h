#pragma once
// The compute programs (programs/*.hlsl) as shader model 5 bytecode, compiled
// at build time and embedded (compute_programs.cpp is generated).
#include <cstddef>

enum ComputeProgramId {
  PROGRAM_RESIZE_HORIZONTAL,
  PROGRAM_RESIZE_VERTICAL,
  PROGRAM_RESIZE_HORIZONTAL_LINEAR,
  PROGRAM_RESIZE_VERTICAL_LINEAR,
  PROGRAM_CONVERT_SINGLE,          // source through a UNORM view (the input picture)
  PROGRAM_CONVERT_SINGLE_PACKED,   // source as 32-bit words (the scaled picture)
  PROGRAM_CONVERT_CHROMA,
  PROGRAM_CONVERT_CHROMA_PACKED,
  PROGRAM_CONVERT_LUMA,
  PROGRAM_CONVERT_LUMA_PACKED,
  PROGRAM_COUNT
};

struct ComputeProgram {
  const unsigned char* code;
  size_t size;
};

ComputeProgram compute_program(ComputeProgramId id);
