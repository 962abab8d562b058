#include "video/convert/win32/d3d11_converter.h"

#include <algorithm>
#include <cstring>

#include "video/convert/color_math.h"
#include "video/convert/convert_stage.h"
#include "video/convert/kernels.h"
#include "video/convert/resize_stage.h"
#include "video/convert/win32/compute_programs.h"

namespace {

constexpr uint32_t kMaxDimension = 16384;
constexpr uint32_t kGroup = 16;  // threads per group along x and y

uint32_t groups(uint32_t n) { return (n + kGroup - 1) / kGroup; }

// The constants of a scaling pass (programs/resize.hlsl).
struct ResizeConstants {
  int32_t out_size, lines, max_taps, unused;
};

// The constants of the conversion (programs/convert.hlsl).
struct ConvertConstants {
  float y_k[4];
  float cb_k[4];
  float cr_k[4];
  float kd_k[4];
  float q_k[4];
  float lum_k[4];
  float decode[4];
  int32_t size[4];
};

HRESULT make_buffer(ID3D11Device* device, const void* data, UINT bytes, UINT bind, ID3D11Buffer** out) {
  D3D11_BUFFER_DESC d{};
  d.ByteWidth = bytes;
  d.Usage = D3D11_USAGE_IMMUTABLE;
  d.BindFlags = bind;
  D3D11_SUBRESOURCE_DATA init{};
  init.pSysMem = data;
  return device->CreateBuffer(&d, &init, out);
}

// An immutable typed buffer with its view.
bool make_typed_buffer(ID3D11Device* device, const void* data, UINT count, UINT element_bytes, DXGI_FORMAT format,
                       ComRef<ID3D11ShaderResourceView>& view) {
  ComRef<ID3D11Buffer> buffer;
  if (FAILED(make_buffer(device, data, count * element_bytes, D3D11_BIND_SHADER_RESOURCE, buffer.put()))) return false;
  D3D11_SHADER_RESOURCE_VIEW_DESC v{};
  v.Format = format;
  v.ViewDimension = D3D11_SRV_DIMENSION_BUFFER;
  v.Buffer.FirstElement = 0;
  v.Buffer.NumElements = count;
  return SUCCEEDED(device->CreateShaderResourceView(buffer.get(), &v, view.put()));
}

bool make_program(ID3D11Device* device, ComputeProgramId id, ComRef<ID3D11ComputeShader>& shader) {
  const ComputeProgram p = compute_program(id);
  return p.code && SUCCEEDED(device->CreateComputeShader(p.code, p.size, nullptr, shader.put()));
}

bool make_texture(ID3D11Device* device, UINT width, UINT height, DXGI_FORMAT format, UINT bind,
                  ComRef<ID3D11Texture2D>& texture) {
  D3D11_TEXTURE2D_DESC d{};
  d.Width = width;
  d.Height = height;
  d.MipLevels = 1;
  d.ArraySize = 1;
  d.Format = format;
  d.SampleDesc.Count = 1;
  d.Usage = D3D11_USAGE_DEFAULT;
  d.BindFlags = bind;
  return SUCCEEDED(device->CreateTexture2D(&d, nullptr, texture.put()));
}

bool make_view(ID3D11Device* device, ID3D11Resource* r, DXGI_FORMAT format, ComRef<ID3D11ShaderResourceView>& view) {
  D3D11_SHADER_RESOURCE_VIEW_DESC v{};
  v.Format = format;
  v.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
  v.Texture2D.MostDetailedMip = 0;
  v.Texture2D.MipLevels = 1;
  return SUCCEEDED(device->CreateShaderResourceView(r, &v, view.put()));
}

bool make_uav(ID3D11Device* device, ID3D11Resource* r, DXGI_FORMAT format, ComRef<ID3D11UnorderedAccessView>& uav) {
  D3D11_UNORDERED_ACCESS_VIEW_DESC u{};
  u.Format = format;
  u.ViewDimension = D3D11_UAV_DIMENSION_TEXTURE2D;
  u.Texture2D.MipSlice = 0;
  return SUCCEEDED(device->CreateUnorderedAccessView(r, &u, uav.put()));
}

// The taps of one axis for the programs: (first, count) pairs and the
// weights, exactly those of the CPU stage.
bool make_taps(ID3D11Device* device, uint32_t in_size, uint32_t out_size, ComRef<ID3D11ShaderResourceView>& taps_view,
               ComRef<ID3D11ShaderResourceView>& weights_view, int32_t& max_taps) {
  ResizeTaps taps;
  compute_resize_taps(taps, in_size, out_size, true);
  std::vector<int32_t> pairs(size_t(out_size) * 2);
  for (uint32_t o = 0; o < out_size; ++o) {
    pairs[2 * o] = taps.first[o];
    pairs[2 * o + 1] = taps.count[o];
  }
  max_taps = taps.max_taps;
  return make_typed_buffer(device, pairs.data(), out_size, 8, DXGI_FORMAT_R32G32_SINT, taps_view) &&
         make_typed_buffer(device, taps.weights.data(), UINT(taps.weights.size()), 4, DXGI_FORMAT_R32_FLOAT,
                           weights_view);
}

}  // namespace

// The context's multithread protection around all work of one frame.
class D3D11VideoConverter::Lock {
 public:
  explicit Lock(const D3D11VideoConverter& c) : c_(c) {
    if (c_.multithread_)
      c_.multithread_->Enter();
    else if (c_.multithread10_)
      c_.multithread10_->Enter();
  }
  ~Lock() {
    if (c_.multithread_)
      c_.multithread_->Leave();
    else if (c_.multithread10_)
      c_.multithread10_->Leave();
  }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  const D3D11VideoConverter& c_;
};

D3D11VideoConverter::D3D11VideoConverter(ID3D11Device* device, ID3D11DeviceContext* context)
    : device_(ComRef<ID3D11Device>::share(device)), context_(ComRef<ID3D11DeviceContext>::share(context)) {
  if (context_) {
    context_->QueryInterface(__uuidof(ID3D11Multithread), reinterpret_cast<void**>(multithread_.put()));
    if (multithread_) multithread_->SetMultithreadProtected(TRUE);
  }
  if (!multithread_ && device_) {
    device_->QueryInterface(__uuidof(ID3D10Multithread), reinterpret_cast<void**>(multithread10_.put()));
    if (multithread10_) multithread10_->SetMultithreadProtected(TRUE);
  }
}

D3D11VideoConverter::~D3D11VideoConverter() { release(); }

void D3D11VideoConverter::release() {
  surfaces_.clear();
  single_.reset();
  chroma_.reset();
  luma_.reset();
  coefficients_.reset();
  scaled_view_.reset();
  horizontal_ = ResizePass{};
  vertical_ = ResizePass{};
  srgb_tables_.reset();
  input_target_.reset();
  input_view_.reset();
  input_.reset();
  scaling_ = false;
}

bool D3D11VideoConverter::create(const ConverterSetup& setup) {
  release();
  setup_ = setup;
  if (!device_ || !context_) return false;
  if (setup.in_width == 0 || setup.in_height == 0 || setup.out_width == 0 || setup.out_height == 0 ||
      setup.in_width > kMaxDimension || setup.in_height > kMaxDimension || setup.out_width > setup.in_width ||
      setup.out_height > setup.in_height)
    return false;
  if (setup.format != SURFACE_FORMAT_NV12 && setup.format != SURFACE_FORMAT_P010) return false;
  if (!create_resize(setup) || !create_convert(setup)) return false;
  split_ = force_split_;
  surfaces_.resize(setup.surfaces);
  for (Surface& s : surfaces_) {
    if (!split_ && !create_surface(s, true)) split_ = true;
    if (split_ && !create_surface(s, false)) return false;
  }
  // Surfaces made before the first refusal stay combined; make them all alike.
  if (split_)
    for (Surface& s : surfaces_)
      if (!s.chroma && !create_surface(s, false)) return false;
  clear_input();
  return true;
}

bool D3D11VideoConverter::create_resize(const ConverterSetup& s) {
  ID3D11Device* d = device_.get();
  if (!make_texture(d, s.in_width, s.in_height, DXGI_FORMAT_B8G8R8A8_TYPELESS,
                    D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET, input_) ||
      !make_view(d, input_.get(), DXGI_FORMAT_B8G8R8A8_UNORM, input_view_))
    return false;
  D3D11_RENDER_TARGET_VIEW_DESC rt{};
  rt.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  rt.ViewDimension = D3D11_RTV_DIMENSION_TEXTURE2D;
  if (FAILED(d->CreateRenderTargetView(input_.get(), &rt, input_target_.put()))) return false;
  scaling_ = s.in_width != s.out_width || s.in_height != s.out_height;
  if (!scaling_) return true;

  // Pass 1 scales along x into the out_width x in_height intermediate, pass
  // 2 along y into the scaled picture; both hold 32-bit words (B, G, R bytes).
  const bool linear = s.gamma;
  if (!make_program(d, linear ? PROGRAM_RESIZE_HORIZONTAL_LINEAR : PROGRAM_RESIZE_HORIZONTAL, horizontal_.shader) ||
      !make_program(d, linear ? PROGRAM_RESIZE_VERTICAL_LINEAR : PROGRAM_RESIZE_VERTICAL, vertical_.shader))
    return false;
  if (linear) {
    float tables[512];
    std::memcpy(tables, srgb_decode_table(), 256 * sizeof(float));
    std::memcpy(tables + 256, srgb_code_table().threshold, 256 * sizeof(float));
    if (!make_typed_buffer(d, tables, 512, 4, DXGI_FORMAT_R32_FLOAT, srgb_tables_)) return false;
  }
  ComRef<ID3D11Texture2D> mid, out;
  const UINT bind = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_UNORDERED_ACCESS;
  if (!make_texture(d, s.out_width, s.in_height, DXGI_FORMAT_R32_UINT, bind, mid) ||
      !make_texture(d, s.out_width, s.out_height, DXGI_FORMAT_R32_UINT, bind, out) ||
      !make_uav(d, mid.get(), DXGI_FORMAT_R32_UINT, horizontal_.target) ||
      !make_view(d, mid.get(), DXGI_FORMAT_R32_UINT, vertical_.source) ||
      !make_uav(d, out.get(), DXGI_FORMAT_R32_UINT, vertical_.target) ||
      !make_view(d, out.get(), DXGI_FORMAT_R32_UINT, scaled_view_))
    return false;
  horizontal_.source = input_view_;
  int32_t h_taps = 0, v_taps = 0;
  if (!make_taps(d, s.in_width, s.out_width, horizontal_.taps, horizontal_.weights, h_taps) ||
      !make_taps(d, s.in_height, s.out_height, vertical_.taps, vertical_.weights, v_taps))
    return false;
  const ResizeConstants hc{int32_t(s.out_width), int32_t(s.in_height), h_taps, 0};
  const ResizeConstants vc{int32_t(s.out_height), int32_t(s.out_width), v_taps, 0};
  if (FAILED(make_buffer(d, &hc, sizeof hc, D3D11_BIND_CONSTANT_BUFFER, horizontal_.constants.put())) ||
      FAILED(make_buffer(d, &vc, sizeof vc, D3D11_BIND_CONSTANT_BUFFER, vertical_.constants.put())))
    return false;
  horizontal_.groups_x = groups(s.out_width);
  horizontal_.groups_y = groups(s.in_height);
  vertical_.groups_x = groups(s.out_width);
  vertical_.groups_y = groups(s.out_height);
  return true;
}

bool D3D11VideoConverter::create_convert(const ConverterSetup& s) {
  ConvertFrame f{};
  fold_convert_coefficients(s.hd_color ? kMatrixBt709 : kMatrixBt601, s.format == SURFACE_FORMAT_P010, f);
  ConvertConstants c{};
  for (int i = 0; i < 3; ++i) {
    c.y_k[i] = f.y_k[i];
    c.cb_k[i] = f.cb_k[i];
    c.cr_k[i] = f.cr_k[i];
    c.q_k[i] = f.q_k[i];
    c.lum_k[i] = f.lum_k[i];
  }
  c.y_k[3] = f.y_add;
  c.cb_k[3] = f.c_add;
  c.kd_k[0] = f.kd_k[0];
  c.kd_k[1] = f.kd_k[1];
  c.kd_k[2] = f.iy_scale;
  c.kd_k[3] = f.iy_add;
  c.q_k[3] = f.scratch_scale;
  // chroma_decode's constants, as it computes them.
  c.decode[0] = 128.0f / 255.0f;
  c.decode[1] = 255.0f / 224.0f;
  c.size[0] = int32_t(s.out_width);
  c.size[1] = int32_t(s.out_height);
  c.size[2] = int32_t((s.out_width + 1) / 2);
  c.size[3] = int32_t((s.out_height + 1) / 2);
  ID3D11Device* d = device_.get();
  if (FAILED(make_buffer(d, &c, sizeof c, D3D11_BIND_CONSTANT_BUFFER, coefficients_.put()))) return false;
  const bool packed = scaling_;
  if (s.improved)
    return make_program(d, packed ? PROGRAM_CONVERT_CHROMA_PACKED : PROGRAM_CONVERT_CHROMA, chroma_) &&
           make_program(d, packed ? PROGRAM_CONVERT_LUMA_PACKED : PROGRAM_CONVERT_LUMA, luma_);
  return make_program(d, packed ? PROGRAM_CONVERT_SINGLE_PACKED : PROGRAM_CONVERT_SINGLE, single_);
}

bool D3D11VideoConverter::create_surface(Surface& s, bool combined) {
  s = Surface{};
  ID3D11Device* d = device_.get();
  const bool p010 = setup_.format == SURFACE_FORMAT_P010;
  const DXGI_FORMAT luma = p010 ? DXGI_FORMAT_R16_UINT : DXGI_FORMAT_R8_UINT;
  const DXGI_FORMAT chroma = p010 ? DXGI_FORMAT_R16G16_UINT : DXGI_FORMAT_R8G8_UINT;
  const UINT bind = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_UNORDERED_ACCESS;
  if (combined) {
    // The plane is chosen by the view's format.
    const DXGI_FORMAT format = p010 ? DXGI_FORMAT_P010 : DXGI_FORMAT_NV12;
    return make_texture(d, setup_.out_width, setup_.out_height, format, bind, s.texture) &&
           make_uav(d, s.texture.get(), luma, s.luma_uav) && make_uav(d, s.texture.get(), chroma, s.chroma_uav) &&
           make_view(d, s.texture.get(), chroma, s.chroma_view);
  }
  return make_texture(d, setup_.out_width, setup_.out_height, luma, bind, s.texture) &&
         make_texture(d, (setup_.out_width + 1) / 2, (setup_.out_height + 1) / 2, chroma, bind, s.chroma) &&
         make_uav(d, s.texture.get(), luma, s.luma_uav) && make_uav(d, s.chroma.get(), chroma, s.chroma_uav) &&
         make_view(d, s.chroma.get(), chroma, s.chroma_view);
}

void D3D11VideoConverter::clear_input() {
  if (!input_target_) return;
  Lock lock(*this);
  const float black[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  context_->ClearRenderTargetView(input_target_.get(), black);
}

void D3D11VideoConverter::load_input(const BgraImage& image, Rect box) {
  if (!input_ || !image.data || image.width <= 0 || image.height <= 0) return;
  const int32_t left = std::max(box.left, 0), top = std::max(box.top, 0);
  const int32_t right = std::min(box.right, image.width), bottom = std::min(box.bottom, image.height);
  const int32_t w = std::min<int32_t>(right - left, int32_t(setup_.in_width));
  const int32_t h = std::min<int32_t>(bottom - top, int32_t(setup_.in_height));
  if (w <= 0 || h <= 0) return;
  D3D11_BOX dst{0, 0, 0, UINT(w), UINT(h), 1};
  Lock lock(*this);
  context_->UpdateSubresource(input_.get(), 0, &dst, image.data + size_t(top) * image.stride + size_t(left) * 4,
                              UINT(image.stride), 0);
}

bool D3D11VideoConverter::load_input(const GpuPicture& picture, Rect box) {
  if (!input_ || !picture.texture) return false;
  const int32_t left = std::max(box.left, 0), top = std::max(box.top, 0);
  const int32_t right = std::min(box.right, picture.width), bottom = std::min(box.bottom, picture.height);
  const int32_t w = std::min<int32_t>(right - left, int32_t(setup_.in_width));
  const int32_t h = std::min<int32_t>(bottom - top, int32_t(setup_.in_height));
  if (w <= 0 || h <= 0) return true;
  D3D11_BOX src{UINT(left), UINT(top), 0, UINT(left + w), UINT(top + h), 1};
  Lock lock(*this);
  context_->CopySubresourceRegion(input_.get(), 0, 0, 0, 0, static_cast<ID3D11Resource*>(picture.texture), 0, &src);
  return true;
}

void D3D11VideoConverter::run_pass(const ResizePass& p) {
  ID3D11DeviceContext* c = context_.get();
  c->ClearState();
  c->CSSetShader(p.shader.get(), nullptr, 0);
  ID3D11Buffer* constants = p.constants.get();
  c->CSSetConstantBuffers(0, 1, &constants);
  ID3D11ShaderResourceView* views[4] = {p.source.get(), p.taps.get(), p.weights.get(), srgb_tables_.get()};
  c->CSSetShaderResources(0, 4, views);
  ID3D11UnorderedAccessView* target = p.target.get();
  c->CSSetUnorderedAccessViews(0, 1, &target, nullptr);
  c->Dispatch(p.groups_x, p.groups_y, 1);
}

void D3D11VideoConverter::convert(uint32_t index) {
  if (index >= surfaces_.size() || !input_) return;
  const Surface& s = surfaces_[index];
  Lock lock(*this);
  ID3D11DeviceContext* c = context_.get();
  if (scaling_) {
    run_pass(horizontal_);
    run_pass(vertical_);
  }
  ID3D11ShaderResourceView* source = scaling_ ? scaled_view_.get() : input_view_.get();
  ID3D11Buffer* constants = coefficients_.get();
  const uint32_t cw = (setup_.out_width + 1) / 2, ch = (setup_.out_height + 1) / 2;
  if (!setup_.improved) {
    c->ClearState();
    c->CSSetShader(single_.get(), nullptr, 0);
    c->CSSetConstantBuffers(0, 1, &constants);
    c->CSSetShaderResources(0, 1, &source);
    ID3D11UnorderedAccessView* uavs[2] = {s.luma_uav.get(), s.chroma_uav.get()};
    c->CSSetUnorderedAccessViews(0, 2, uavs, nullptr);
    c->Dispatch(groups(cw), groups(ch), 1);
  } else {
    c->ClearState();
    c->CSSetShader(chroma_.get(), nullptr, 0);
    c->CSSetConstantBuffers(0, 1, &constants);
    c->CSSetShaderResources(0, 1, &source);
    ID3D11UnorderedAccessView* chroma_uav = s.chroma_uav.get();
    c->CSSetUnorderedAccessViews(1, 1, &chroma_uav, nullptr);
    c->Dispatch(groups(cw), groups(ch), 1);

    c->ClearState();
    c->CSSetShader(luma_.get(), nullptr, 0);
    c->CSSetConstantBuffers(0, 1, &constants);
    ID3D11ShaderResourceView* views[2] = {source, s.chroma_view.get()};
    c->CSSetShaderResources(0, 2, views);
    ID3D11UnorderedAccessView* luma_uav = s.luma_uav.get();
    c->CSSetUnorderedAccessViews(0, 1, &luma_uav, nullptr);
    c->Dispatch(groups(setup_.out_width), groups(setup_.out_height), 1);
  }
  c->ClearState();
  c->Flush();
}

GpuPicture D3D11VideoConverter::device_surface(uint32_t index) const {
  if (index >= surfaces_.size()) return {};
  return GpuPicture{surfaces_[index].texture.get(), int32_t(setup_.out_width), int32_t(setup_.out_height)};
}

namespace {

// A CPU-readable copy of a texture, mapped for the duration of `read`.
template <class F>
bool read_texture(ID3D11Device* device, ID3D11DeviceContext* context, ID3D11Texture2D* texture, F&& read) {
  D3D11_TEXTURE2D_DESC d{};
  texture->GetDesc(&d);
  d.Usage = D3D11_USAGE_STAGING;
  d.BindFlags = 0;
  d.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
  d.MiscFlags = 0;
  ComRef<ID3D11Texture2D> staging;
  if (FAILED(device->CreateTexture2D(&d, nullptr, staging.put()))) return false;
  context->CopyResource(staging.get(), texture);
  D3D11_MAPPED_SUBRESOURCE m{};
  if (FAILED(context->Map(staging.get(), 0, D3D11_MAP_READ, 0, &m))) return false;
  read(static_cast<const uint8_t*>(m.pData), m.RowPitch);
  context->Unmap(staging.get(), 0);
  return true;
}

void copy_rows(uint8_t* dst, int32_t dst_pitch, const uint8_t* src, size_t src_pitch, size_t bytes, uint32_t rows) {
  for (uint32_t y = 0; y < rows; ++y) std::memcpy(dst + size_t(y) * dst_pitch, src + y * src_pitch, bytes);
}

}  // namespace

bool D3D11VideoConverter::read_surface(uint32_t index, SurfaceSet& out) {
  if (index >= surfaces_.size()) return false;
  const uint32_t w = setup_.out_width, h = setup_.out_height, cw = (w + 1) / 2, ch = (h + 1) / 2;
  if (!prepare_surface_copy(out, w, h, setup_.format)) return false;
  const size_t bytes = setup_.format == SURFACE_FORMAT_P010 ? 2 : 1;
  const Surface& s = surfaces_[index];
  Lock lock(*this);
  if (!split_)
    // The chroma plane follows the luma plane's rows.
    return read_texture(device_.get(), context_.get(), s.texture.get(), [&](const uint8_t* p, size_t pitch) {
      copy_rows(out.data[0], out.linesize[0], p, pitch, w * bytes, h);
      copy_rows(out.data[1], out.linesize[1], p + pitch * h, pitch, cw * 2 * bytes, ch);
    });
  return read_texture(device_.get(), context_.get(), s.texture.get(),
                      [&](const uint8_t* p, size_t pitch) {
                        copy_rows(out.data[0], out.linesize[0], p, pitch, w * bytes, h);
                      }) &&
         read_texture(device_.get(), context_.get(), s.chroma.get(), [&](const uint8_t* p, size_t pitch) {
           copy_rows(out.data[1], out.linesize[1], p, pitch, cw * 2 * bytes, ch);
         });
}
