#pragma once
// The conversion on a Direct3D 11 device: the captured picture is copied into
// the input texture, scaled by two compute passes (when the sizes differ) and
// converted by one or two into the planes of a pooled surface, all under the
// device context's multithread lock.
//
// Surfaces are NV12 or P010 textures where the device takes them. Where it
// refuses them (Wine's device, some older drivers), each surface is two plain
// textures instead, a luma plane (R8 or R16) and a chroma plane (R8G8 or
// R16G16): the programs see the same views either way.
#include <d3d10.h>
#include <d3d11_4.h>

#include <cstdint>
#include <vector>

#include "video/convert/video_converter.h"
#include "video/convert/win32/com_ref.h"

class D3D11VideoConverter final : public VideoConverter {
 public:
  // The device and its immediate context (references of its own are taken).
  D3D11VideoConverter(ID3D11Device* device, ID3D11DeviceContext* context);
  ~D3D11VideoConverter() override;

  // Refuse NV12 and P010 textures even where the device has them (tests).
  void force_split_planes(bool split) { force_split_ = split; }
  // Surfaces are two plain textures each (after create).
  bool split_planes() const { return split_; }

  bool create(const ConverterSetup& setup) override;
  void clear_input() override;
  void load_input(const BgraImage& image, Rect box) override;
  bool load_input(const GpuPicture& picture, Rect box) override;
  void convert(uint32_t index) override;
  bool read_surface(uint32_t index, SurfaceSet& out) override;
  GpuPicture device_surface(uint32_t index) const override;

 private:
  struct Surface {
    ComRef<ID3D11Texture2D> texture;  // NV12/P010, or the luma plane when split
    ComRef<ID3D11Texture2D> chroma;   // the chroma plane when split
    ComRef<ID3D11UnorderedAccessView> luma_uav, chroma_uav;
    ComRef<ID3D11ShaderResourceView> chroma_view;
  };
  // One scaling pass: its program, taps and weights, constants and target.
  struct ResizePass {
    ComRef<ID3D11ComputeShader> shader;
    ComRef<ID3D11ShaderResourceView> source, taps, weights;
    ComRef<ID3D11UnorderedAccessView> target;
    ComRef<ID3D11Buffer> constants;
    uint32_t groups_x = 0, groups_y = 0;
  };
  class Lock;

  void release();
  bool create_resize(const ConverterSetup& setup);
  bool create_convert(const ConverterSetup& setup);
  bool create_surface(Surface& s, bool try_combined);
  void run_pass(const ResizePass& pass);

  ComRef<ID3D11Device> device_;
  ComRef<ID3D11DeviceContext> context_;
  ComRef<ID3D11Multithread> multithread_;     // the context's lock, where it has one
  ComRef<ID3D10Multithread> multithread10_;   // else the device's
  bool force_split_ = false;
  bool split_ = false;
  ConverterSetup setup_;

  ComRef<ID3D11Texture2D> input_;             // B8G8R8A8, the copy target of every frame
  ComRef<ID3D11ShaderResourceView> input_view_;
  ComRef<ID3D11RenderTargetView> input_target_;  // for clearing it
  bool scaling_ = false;
  ComRef<ID3D11ShaderResourceView> srgb_tables_;
  ResizePass horizontal_, vertical_;
  ComRef<ID3D11ShaderResourceView> scaled_view_;  // the scaled picture (32-bit words)

  ComRef<ID3D11Buffer> coefficients_;
  ComRef<ID3D11ComputeShader> single_, chroma_, luma_;
  std::vector<Surface> surfaces_;
};
