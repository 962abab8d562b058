// One pass of the separable Mitchell-Netravali scaling: along x (reading the
// captured picture) or, with VERTICAL, along y (reading the intermediate).
// With LINEAR the filter works on linear light. One thread per output pixel.
//
// The taps (first input index and count per output position) and their
// normalised weights are worked out once on the CPU and read from buffers, so
// every pass filters with exactly the weights of the CPU stages. Input pixels
// are read exactly (no filtering); results are written as B, G, R bytes
// packed into one 32-bit word (alpha 0), the layout of a B8G8R8A8 texel.
#ifdef VERTICAL
Texture2D<uint> source : register(t0);    // packed intermediate
#else
Texture2D<float4> source : register(t0);  // B8G8R8A8 through a UNORM view
#endif
Buffer<int2> taps : register(t1);          // per output position: first, count
Buffer<float> weights : register(t2);      // max_taps per output position
#ifdef LINEAR
// 0..255: the linear value of each 8-bit code; 256..511: threshold[c], the
// smallest linear value whose sRGB code is at least c (threshold[0] = 0).
Buffer<float> srgb : register(t3);
#endif
RWTexture2D<uint> target : register(u0);

cbuffer Pass : register(b0)
{
    int out_size;  // output positions along the pass direction
    int lines;     // extent across it
    int max_taps;  // weights per output position
    int unused;
};

uint3 load_bgr(int2 p)
{
#ifdef VERTICAL
    uint v = source.Load(int3(p, 0));
    return uint3(v & 255u, (v >> 8) & 255u, (v >> 16) & 255u);
#else
    float4 c = source.Load(int3(p, 0));
    return uint3(c.b * 255.0 + 0.5, c.g * 255.0 + 0.5, c.r * 255.0 + 0.5);
#endif
}

float3 value_of(uint3 c)
{
#ifdef LINEAR
    return float3(srgb[c.x], srgb[c.y], srgb[c.z]);
#else
    return float3(c);
#endif
}

uint code_of(float v)
{
#ifdef LINEAR
    // Clamp to 0..1 (NaN gives 0), then the largest code whose threshold is
    // not above v.
    v = v > 0.0 ? v : 0.0;
    v = v < 1.0 ? v : 1.0;
    uint c = 0;
    uint step = 128;
    [unroll] for (int i = 0; i < 8; ++i)
    {
        if (srgb[256 + c + step] <= v)
            c += step;
        step = step >> 1;
    }
    return c;
#else
    int c = int(v + 0.5);
    return uint(clamp(c, 0, 255));
#endif
}

[numthreads(16, 16, 1)]
void main(uint3 id : SV_DispatchThreadID)
{
#ifdef VERTICAL
    int o = int(id.y);
    int line = int(id.x);
#else
    int o = int(id.x);
    int line = int(id.y);
#endif
    if (o >= out_size || line >= lines)
        return;
    int2 t = taps[o];
    float3 acc = float3(0.0, 0.0, 0.0);
    for (int k = 0; k < t.y; ++k)
    {
#ifdef VERTICAL
        int2 p = int2(line, t.x + k);
#else
        int2 p = int2(t.x + k, line);
#endif
        precise float3 term = weights[o * max_taps + k] * value_of(load_bgr(p));
        acc = acc + term;
    }
    target[id.xy] = code_of(acc.x) | (code_of(acc.y) << 8) | (code_of(acc.z) << 16);
}
